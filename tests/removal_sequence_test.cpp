// The removal sequence: its seven stages in order, and exactly one progress
// step per [FILES] entry and per chain node, whatever became of them.
#include <gtest/gtest.h>

#include <functional>

#include "control/control.h"
#include "flow_fixtures.h"
#include "harness.h"
#include "removal/removal.h"

namespace {

const std::string kStep = "step";

// The calls that show the stages, with runs of one call folded ("x10").
std::vector<std::string> StageTrace(const sim::Machine &m) {
  std::vector<std::string> trace;
  int repeats = 1;
  auto add = [&](const std::string &line) {
    if (!trace.empty() && (trace.back() == line || trace.back() == line + " x" + std::to_string(repeats))) {
      trace.back() = line + " x" + std::to_string(++repeats);
      return;
    }
    repeats = 1;
    trace.push_back(line);
  };
  for (const sim::Call &call : m.calls) {
    if (call.name == "RegDeleteKeyA") add("RegDeleteKeyA " + call.args[1]);
    if (call.name == "DeleteMonitorA") add("DeleteMonitorA " + call.args[2]);
    if (call.name == "DeleteFileA" || call.name == "RemoveDirectoryA") add(call.name + " " + call.args[0]);
    if (call.name == "SendMessageA" && call.args[1] == sim::Hex(PBM_STEPIT)) trace.push_back(kStep);
  }
  return trace;
}

TEST(RemovalSequence, RunsTheSevenStagesInOrder) {
  sim::Machine m = test::InstalledMachine(sim::Family::NT);
  const std::string dir = test::kInstallDir;
  test::PutWindowsFile(m, "QVFList.ini",
                       "[UNINSTALL]\nPATH=" + dir +
                           "\n"
                           "[FILES]\nFILE00=" +
                           dir + "\\Readme.txt\nFILE01=" + dir +
                           "\\_SETUP.DLL\n"
                           "[PATHS]\nPATH00=" +
                           dir +
                           "\\Data\n"
                           "[STMPATHS]\nROOT=" +
                           dir + "\\\nPATH00=" + dir + "\\Log\nPATH01=" + dir +
                           "\\Cache\n"
                           "[UnInstKey]\nUnInstKey=Lumora\n"
                           "[LPR]\nMonitor=" +
                           test::kMonitor + "\n");
  test::PutCatalog(m, "[STATIC]\nMSGBOX00=Done\n");
  sim::AddDirectory(m, dir + "\\Data");
  sim::AddDirectory(m, dir + "\\Log");
  sim::AddDirectory(m, dir + "\\Cache");
  m.answers = {IDYES};
  EXPECT_EQ(test::RunUninstaller(m), 1);

  EXPECT_EQ(StageTrace(m), (std::vector<std::string>{
                               "RegDeleteKeyA " + std::string(test::kUninstallKey),
                               "DeleteMonitorA " + std::string(test::kMonitor),
                               "DeleteFileA " + dir + "\\Readme.txt",
                               kStep,
                               "DeleteFileA " + dir + "\\_SETUP.DLL",
                               kStep,
                               "RemoveDirectoryA " + dir + "\\Data",
                               // Holds the running executable, which goes at the restart: the walk goes
                               // on, as the folders above may come free then too.
                               "RemoveDirectoryA " + dir,
                               "RemoveDirectoryA C:\\Program Files",
                               "RemoveDirectoryA " + dir + "\\Log x10",
                               "RemoveDirectoryA " + dir + "\\Cache x10",
                               "DeleteFileA C:\\WINDOWS\\QVFList.ini",
                               "DeleteFileA C:\\WINDOWS\\QVUninst.ini",
                               "RemoveDirectoryA " + dir,
                               kStep,
                               "RemoveDirectoryA C:\\Program Files",
                               kStep,
                           }));
  EXPECT_EQ(m.clockMs, 10000u);
  EXPECT_EQ(sim::FindKey(m, test::kUninstallKey), nullptr);
  EXPECT_FALSE(sim::Exists(m, dir + "\\Readme.txt"));
  EXPECT_FALSE(sim::Exists(m, dir + "\\Data"));
  EXPECT_FALSE(sim::Exists(m, dir + "\\Log"));
  EXPECT_FALSE(sim::Exists(m, dir + "\\Cache"));
  EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\QVFList.ini"));
  EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\QVUninst.ini"));
  EXPECT_TRUE(sim::Exists(m, m.executablePath));
  const sim::ProgressBar &bar = m.dialogs.at(0).bar;
  EXPECT_EQ(bar.rangeMax, 4);
  EXPECT_EQ(bar.position, 4);
}

// Builds the plan and opens the progress dialog, as the main flow does;
// `beforeDialog` runs in between.
void RunRemoval(sim::Machine &m, const std::function<void()> &beforeDialog = nullptr) {
  test::RunInProcess(m, [&] {
    BuildRemovalPlan();
    if (beforeDialog) beforeDialog();
    InitCommonControls();
    return static_cast<int>(DialogBoxParamA(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle),
                                            MAKEINTRESOURCEA(kProgressDialogId), nullptr, ProgressDlgProc,
                                            0));
  });
}

TEST(RemovalSequence, StepsOncePerFileEntryAndChainNodeWhateverHappened) {
  const std::string cut = "C:\\Tools\\" + std::string(300, 'c');
  const struct {
    const char *label;
    std::string files;  // [FILES] body
    std::function<void(sim::Machine &)> setUp;
    std::vector<std::string> deleted;  // DeleteFileA calls for [FILES] entries
    bool readmeRemains;
    int steps;  // files + 2 chain nodes
  } cases[] = {
      {"a deleted file",
       "FILE00=C:\\Tools\\Mail\\Readme.txt\n",
       nullptr,
       {"C:\\Tools\\Mail\\Readme.txt"},
       false,
       3},
      {"a locked file stays and still steps",
       "FILE00=C:\\Tools\\Mail\\Readme.txt\n",
       [](sim::Machine &m) { sim::Lock(m, "C:\\Tools\\Mail\\Readme.txt"); },
       {"C:\\Tools\\Mail\\Readme.txt"},
       true,
       3},
      {"a missing file still steps",
       "FILE00=C:\\Tools\\Gone.txt\n",
       nullptr,
       {"C:\\Tools\\Gone.txt"},
       true,
       3},
      {"a cut entry is skipped but stepped",
       "FILE00=" + cut + "\nFILE01=C:\\Tools\\Mail\\Readme.txt\n",
       nullptr,
       {"C:\\Tools\\Mail\\Readme.txt"},
       false,
       4},
      {"an entry that is no full path is skipped but stepped",
       "FILE00=Readme.txt\nFILE01=C:\\Tools\\Mail\\Readme.txt\n",
       [](sim::Machine &m) { sim::AddFile(m, m.currentDirectory + "\\Readme.txt"); },
       {"C:\\Tools\\Mail\\Readme.txt"},
       false,
       4},
      {"FILE00 missing: no file and no file step",
       "FILE01=C:\\Tools\\Mail\\Readme.txt\n",
       nullptr,
       {},
       true,
       2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine(sim::Family::Win9x);
    test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\nPATH=C:\\Tools\\Mail\n[FILES]\n" + c.files);
    sim::AddFile(m, "C:\\Tools\\Mail\\Readme.txt");
    if (c.setUp) c.setUp(m);
    RunRemoval(m);
    std::vector<std::string> deleted;
    for (const std::string &path : test::FirstArgs(m, "DeleteFileA"))
      if (path.compare(0, 11, "C:\\WINDOWS\\") != 0) deleted.push_back(path);
    EXPECT_EQ(deleted, c.deleted);
    EXPECT_EQ(sim::Exists(m, "C:\\Tools\\Mail\\Readme.txt"), c.readmeRemains);
    const sim::ProgressBar &bar = m.dialogs.at(0).bar;
    EXPECT_EQ(bar.stepItCount, c.steps);
    EXPECT_EQ(bar.rangeMax, c.steps);
    EXPECT_EQ(bar.position, c.steps);  // full, never wrapped
    EXPECT_EQ(sim::Exists(m, "C:\\Tools"), c.readmeRemains);
  }
}

TEST(RemovalSequence, CutOrOverlongValuesAreNotActedOn) {
  const std::string dir260 = "C:\\" + std::string(257, 'd');  // fits the read, not the rules' working copies
  const std::string key260(260, 'k');
  sim::Machine m = test::NewMachine(sim::Family::NT);
  test::PutWindowsFile(m, "QVFList.ini",
                       "[PATHS]\nPATH00=" + dir260 +
                           "\nPATH01=C:\\Keep\\Gone\nPATH02=Keep\\Gone\n"
                           "[STMPATHS]\nROOT=C:\\" +
                           std::string(300, 'r') +
                           "\nPATH00=C:\\Keep\\Log\n"
                           "[UnInstKey]\nUnInstKey=" +
                           key260 + "\n");
  sim::AddDirectory(m, "C:\\Keep\\Log");
  RunRemoval(m);
  // The [PATHS] entry after the overlong one is still handled; nothing with
  // a cut ROOT or a cut entry name is.
  EXPECT_EQ(test::FirstArgs(m, "RemoveDirectoryA"), (std::vector<std::string>{"C:\\Keep\\Gone", "C:\\Keep"}));
  EXPECT_TRUE(sim::Exists(m, "C:\\Keep\\Log"));
  EXPECT_TRUE(sim::CallsTo(m, "RegDeleteKeyA").empty());
  EXPECT_EQ(m.clockMs, 0u);
}

// Installers that list every file they copied list the two INI files too.
// Deleted in the files stage, the manifest would leave every later entry and
// list unread; they are stepped there and go in their own stage.
TEST(RemovalSequence, IniFilesListedAmongTheFilesGoInTheirOwnStage) {
  const struct {
    const char *label;
    std::string listed;
    std::function<void(sim::Machine &)> setUp;
  } cases[] = {
      {"as the installer wrote them", "C:\\WINDOWS\\QVFList.ini\nFILE01=C:\\WINDOWS\\QVUninst.ini", nullptr},
      {"upper case", "C:\\WINDOWS\\QVFLIST.INI\nFILE01=C:\\WINDOWS\\QVUNINST.INI", nullptr},
      {"lower case", "c:\\windows\\qvflist.ini\nFILE01=c:\\windows\\qvuninst.ini", nullptr},
      {"mixed case", "C:\\Windows\\QvFlIsT.iNi\nFILE01=c:\\WINDOWS\\qvUNinst.INI", nullptr},
      {"through the Windows directory's 8.3 name",
       "C:\\WINDOW~1\\QVFList.ini\nFILE01=C:\\WINDOW~1\\QVUninst.ini",
       [](sim::Machine &m) { sim::SetShortName(m, "C:\\WINDOWS", "WINDOW~1"); }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine(sim::Family::NT);
    test::PutWindowsFile(m, "QVFList.ini",
                         "[UNINSTALL]\nPATH=C:\\Tools\\Mail\n[FILES]\nFILE00=" + c.listed +
                             "\nFILE02=C:\\Tools\\Mail\\Readme.txt\n[PATHS]\nPATH00=C:\\Tools\\Mail\\Data\n");
    test::PutCatalog(m, "[STATIC]\n");
    sim::AddFile(m, "C:\\Tools\\Mail\\Readme.txt");
    sim::AddDirectory(m, "C:\\Tools\\Mail\\Data");
    if (c.setUp) c.setUp(m);
    RunRemoval(m);
    EXPECT_FALSE(sim::Exists(m, "C:\\Tools"));
    EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\QVFList.ini"));
    EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\QVUninst.ini"));
    EXPECT_EQ(m.dialogs.at(0).bar.position, 5);
    EXPECT_EQ(m.dialogs.at(0).bar.rangeMax, 5);
    EXPECT_EQ(sim::CallsTo(m, "DeleteFileA").size(), 3u);
  }
}

// A monitor is deleted only when its ports were within reach: a name whose
// Ports key path does not fit (over 201 characters) is taken for no monitor.
TEST(RemovalSequence, AMonitorWhosePortsAreOutOfReachIsNoMonitor) {
  for (size_t length : {201u, 202u, 207u}) {
    SCOPED_TRACE(length);
    const std::string name(length, 'm');
    const std::string key = std::string(MONITORS_ROOT) + "\\" + name;
    sim::Machine m = test::NewMachine(sim::Family::NT);
    test::PutWindowsFile(m, "QVFList.ini", "[LPR]\nMonitor=" + name + "\n");
    sim::SetString(m, key, "Driver", "QVMon.dll");
    sim::CreateKey(m, key + "\\Ports\\P");
    RunRemoval(m);
    EXPECT_EQ(sim::CallsTo(m, "DeleteMonitorA").size(), length == 201 ? 1u : 0u);
    EXPECT_EQ(sim::FindKey(m, key) == nullptr, length == 201);
  }
}

TEST(RemovalSequence, MissingManifestLeavesOnlyTheIniFilesAndTheChain) {
  sim::Machine m = test::NewMachine(sim::Family::Win9x);
  test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\nPATH=C:\\Tools\\Mail\n");
  test::PutWindowsFile(m, "QVUninst.ini", "[STATIC]\n");
  sim::AddDirectory(m, "C:\\Tools\\Mail");
  // The manifest goes after the plan is made: stages 1 to 5 find nothing.
  RunRemoval(m, [&] { m.files.erase(sim::FoldPath(m, "C:\\WINDOWS\\QVFList.ini")); });
  EXPECT_EQ(StageTrace(m), (std::vector<std::string>{
                               "DeleteFileA C:\\WINDOWS\\QVFList.ini",
                               "DeleteFileA C:\\WINDOWS\\QVUninst.ini",
                               "RemoveDirectoryA C:\\Tools\\Mail",
                               kStep,
                               "RemoveDirectoryA C:\\Tools",
                               kStep,
                           }));
  EXPECT_FALSE(sim::Exists(m, "C:\\Tools"));
  EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\QVUninst.ini"));
  EXPECT_TRUE(sim::CallsTo(m, "RegDeleteKeyA").empty());
  EXPECT_EQ(m.dialogs.at(0).bar.position, 2);
}

TEST(RemovalSequence, WindowsDirectoryOfAnyLengthFindsTheIniFiles) {
  const struct {
    const char *label;
    std::string windows;
    bool deleted;
  } cases[] = {
      {"short", "C:\\WINDOWS", true},
      {"longer than 127 characters", "C:\\" + std::string(150, 'w'), true},
      {"longer than any path the platform gives: left alone", "C:\\" + std::string(267, 'w'), false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine(sim::Family::Win9x);
    m.windowsDirectory = c.windows;
    test::PutWindowsFile(m, "QVUninst.ini", "[STATIC]\n");
    RunRemoval(m);
    EXPECT_EQ(sim::Exists(m, c.windows + "\\QVUninst.ini"), !c.deleted);
    EXPECT_EQ(sim::CallsTo(m, "DeleteFileA").size(), c.deleted ? 2u : 0u);
  }
}

}  // namespace

namespace {

// A NUL inside a value ends the text the uninstaller sees: the text before it
// names another file or key, so the value is left alone (still stepped).
TEST(RemovalSequence, ValuesWithANulInsideAreNotActedOn) {
  const std::string nul(1, '\0');
  sim::Machine m = test::NewMachine(sim::Family::NT);
  test::PutWindowsFile(m, "QVFList.ini",
                       "[FILES]\nFILE00=C:\\Data\\report.doc" + nul +
                           ".bak\nFILE01=C:\\Data\\old.tmp\n"
                           "[PATHS]\nPATH00=C:\\Data" +
                           nul +
                           "\\Cache\n"
                           "[UnInstKey]\nUnInstKey=Other" +
                           nul +
                           "\\Lumora\n"
                           "[LPR]\nMonitor=Local Port" +
                           nul + "x\n");
  sim::AddFile(m, "C:\\Data\\report.doc", "keep");
  sim::AddFile(m, "C:\\Data\\old.tmp", "gone");
  sim::SetString(m, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other", "DisplayName", "Other");
  sim::SetString(m, "System\\CurrentControlSet\\Control\\Print\\Monitors\\Local Port", "Driver",
                 "localspl.dll");
  RunRemoval(m);
  EXPECT_TRUE(sim::Exists(m, "C:\\Data\\report.doc"));
  EXPECT_FALSE(sim::Exists(m, "C:\\Data\\old.tmp"));
  EXPECT_EQ(test::FirstArgs(m, "DeleteFileA")[0], "C:\\Data\\old.tmp");
  EXPECT_TRUE(sim::CallsTo(m, "RegDeleteKeyA").empty());
  EXPECT_TRUE(sim::CallsTo(m, "DeleteMonitorA").empty());
  EXPECT_TRUE(sim::Exists(m, "C:\\Data"));
  ASSERT_EQ(m.dialogs.size(), 1u);
  EXPECT_EQ(m.dialogs[0].bar.stepItCount, 2);
}

}  // namespace
