// What the uninstaller leaves for the restart: its own executable and, on
// the NT family, the install folders that hold it, which the removal could
// not take while it ran.
#include <gtest/gtest.h>

#include "flow_fixtures.h"

namespace {

using sim::Family;

const std::string kTable = "\x95\x5C";   // 表 in code page 932: its trail byte is a backslash
const std::string kA = "\x83\x41";       // a double-byte character whose trail byte is the letter A
const std::string kSmallA = "\x83\x61";  // another one, whose trail byte is the letter a
const std::string kLumoraExe = "C:\\Program Files\\Lumora\\QVUninst.exe";

// An executable path of `length` characters inside C:\Program Files\Lumora.
std::string LongExecutable(size_t length) {
  std::string path = "C:\\Program Files\\Lumora\\";
  return path + std::string(length - path.size() - 4, 'x') + ".exe";
}

struct SelfDeleteCase {
  const char *label;
  Family family;
  UINT codePage;
  std::string installPath;  // [UNINSTALL] PATH; "" for none
  std::string executable;
  std::vector<std::string> pending;  // the MoveFileExA calls, in order
  bool readOnly = false;             // the executable, copied from a CD
};

TEST(SelfDelete, SchedulesTheInstallFoldersHoldingTheExecutableAfterIt) {
  const std::string longFolder = "C:\\Apps\\" + std::string(130, 'L');
  const SelfDeleteCase cases[] = {
      {"in the install folder: it, then the folders deepest first",
       Family::NT,
       1252,
       "C:\\Program Files\\Lumora",
       kLumoraExe,
       {kLumoraExe, "C:\\Program Files\\Lumora", "C:\\Program Files"}},
      {"in a folder below the install folder",
       Family::NT,
       1252,
       "C:\\Apps\\Lumora",
       "C:\\Apps\\Lumora\\Bin\\QVUninst.exe",
       {"C:\\Apps\\Lumora\\Bin\\QVUninst.exe", "C:\\Apps\\Lumora", "C:\\Apps"}},
      {"above the install folder: only the folders that hold it",
       Family::NT,
       1252,
       "C:\\Apps\\Lumora\\Bin",
       "C:\\Apps\\QVUninst.exe",
       {"C:\\Apps\\QVUninst.exe", "C:\\Apps"}},
      {"outside the install chain: nothing more",
       Family::NT,
       1252,
       "C:\\Apps\\Lumora",
       "C:\\Tools\\QVUninst.exe",
       {"C:\\Tools\\QVUninst.exe"}},
      {"a folder named like the install folder's beginning",
       Family::NT,
       1252,
       "C:\\Apps\\Lumora",
       "C:\\Apps\\LumoraOld\\QVUninst.exe",
       {"C:\\Apps\\LumoraOld\\QVUninst.exe", "C:\\Apps"}},
      {"an install path ending in the executable's name never names it again",
       Family::NT,
       1252,
       "C:\\Apps\\QVUninst.exe",
       "C:\\Apps\\QVUninst.exe",
       {"C:\\Apps\\QVUninst.exe", "C:\\Apps"}},
      {"no install path", Family::NT, 1252, "", kLumoraExe, {kLumoraExe}},
      {"letter case differs from the manifest's: the folders as the manifest names them",
       Family::NT,
       1252,
       "c:\\PROGRAM FILES\\lumora",
       kLumoraExe,
       {kLumoraExe, "c:\\PROGRAM FILES\\lumora", "c:\\PROGRAM FILES"}},
      {"doubled and trailing backslashes in the manifest",
       Family::NT,
       1252,
       "C:\\\\Apps\\\\Lumora\\",
       "C:\\Apps\\Lumora\\QVUninst.exe",
       {"C:\\Apps\\Lumora\\QVUninst.exe", "C:\\Apps\\Lumora", "C:\\Apps"}},
      {"表 ends the install folder (cp932)",
       Family::NT,
       932,
       "C:\\Apps\\" + kTable,
       "C:\\Apps\\" + kTable + "\\QVUninst.exe",
       {"C:\\Apps\\" + kTable + "\\QVUninst.exe", "C:\\Apps\\" + kTable, "C:\\Apps"}},
      {"表's trail byte in the executable's name is no separator (cp932)",
       Family::NT,
       932,
       "C:\\Apps\\\x95",
       "C:\\Apps\\" + kTable + "QVUninst.exe",
       {"C:\\Apps\\" + kTable + "QVUninst.exe", "C:\\Apps"}},
      {"a trail byte that is a letter never folds (cp932)",
       Family::NT,
       932,
       "C:\\Apps\\" + kA,
       "C:\\Apps\\" + kSmallA + "\\QVUninst.exe",
       {"C:\\Apps\\" + kSmallA + "\\QVUninst.exe", "C:\\Apps"}},
      {"single-byte letters after a double-byte character fold (cp932)",
       Family::NT,
       932,
       "c:\\apps\\" + kTable + "\\lumora",
       "C:\\Apps\\" + kTable + "\\Lumora\\QVUninst.exe",
       {"C:\\Apps\\" + kTable + "\\Lumora\\QVUninst.exe", "c:\\apps\\" + kTable + "\\lumora",
        "c:\\apps\\" + kTable, "c:\\apps"}},
      {"a folder too long for a node is no node, and never named cut",
       Family::NT,
       1252,
       longFolder,
       longFolder + "\\QVUninst.exe",
       {longFolder + "\\QVUninst.exe", "C:\\Apps"}},
      {"own path of 255 characters: read whole",
       Family::NT,
       1252,
       "C:\\Program Files\\Lumora",
       LongExecutable(255),
       {LongExecutable(255), "C:\\Program Files\\Lumora", "C:\\Program Files"}},
      {"own path of 256 characters: cut, nothing scheduled",
       Family::NT,
       1252,
       "C:\\Program Files\\Lumora",
       LongExecutable(256),
       {}},
      {"95/98: no MoveFileExA at all", Family::Win9x, 1252, "C:\\Program Files\\Lumora", kLumoraExe, {}},
      {"read-only: the attribute goes first",
       Family::NT,
       1252,
       "C:\\Program Files\\Lumora",
       kLumoraExe,
       {kLumoraExe, "C:\\Program Files\\Lumora", "C:\\Program Files"},
       true},
      {"95/98, read-only: the attribute goes first",
       Family::Win9x,
       1252,
       "C:\\Program Files\\Lumora",
       kLumoraExe,
       {},
       true},
  };
  for (const SelfDeleteCase &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::InstalledMachine(c.family);
    m.codePage = c.codePage;
    m.executablePath = c.executable;
    sim::AddFile(m, c.executable, "MZ");
    if (c.readOnly) sim::SetAttributes(m, c.executable, FILE_ATTRIBUTE_READONLY);
    std::string manifest = "[LPR]\nMonitor=" + std::string(test::kMonitor) + "\n";
    if (!c.installPath.empty()) manifest += "[UNINSTALL]\nPATH=" + c.installPath + "\n";
    test::PutWindowsFile(m, "QVFList.ini", manifest);
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(test::FirstArgs(m, "MoveFileExA"), c.pending);
    EXPECT_EQ(m.pendingDeletes, c.pending);
    for (const sim::Call &call : sim::CallsTo(m, "MoveFileExA")) {
      EXPECT_EQ(call.args[1], "(null)");
      EXPECT_EQ(call.args[2], std::to_string(MOVEFILE_DELAY_UNTIL_REBOOT));
    }
    EXPECT_EQ(m.processes.size(), c.family == Family::NT ? 0u : 1u);
    sim::Restart(m);
    EXPECT_EQ(sim::Exists(m, c.executable), c.family == Family::NT && c.pending.empty());
  }
}

// The folders are scheduled after the completion box and after the
// executable's own entry, once the removal has taken what it could.
TEST(SelfDelete, FoldersFollowTheCompletionBoxAndTheExecutable) {
  sim::Machine m = test::InstalledMachine(Family::NT);
  m.answers = {IDYES};
  EXPECT_EQ(test::RunUninstaller(m), 1);
  std::vector<std::string> order;
  for (const sim::Call &call : m.calls) {
    if (call.name == "MessageBoxA") order.push_back("box");
    if (call.name == "RemoveDirectoryA" && call.args[0] == test::kInstallDir) order.push_back("removal");
    if (call.name == "MoveFileExA") order.push_back(call.args[0]);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"box", "removal", "box", m.executablePath, test::kInstallDir,
                                             "C:\\Program Files"}));
}

}  // namespace

namespace {

// What a machine as it really is leaves for the restart: listed files in use
// go then, with the folders the removal could not take only because of them;
// read-only listed files lose the attribute and go at once; the executable's
// folders are found whatever form its path was started by. After the restart
// nothing of the product is left but what the user put there.
TEST(SelfDelete, FilesInUseGoAtTheRestartWithTheFoldersHoldingThem) {
  const std::string dir = test::kInstallDir;
  const std::string exe = dir + "\\QVUninst.exe";
  const std::string templates = dir + "\\Data\\Templates";
  const std::string log = dir + "\\Spool\\Log";
  const struct {
    const char *label;
    Family family;
    std::function<void(sim::Machine &)> setUp;
    std::vector<std::string> pending;
    std::vector<std::string> leftAfterRestart;  // of the product's files and folders, and the user's file
    std::string stmPath = "";                   // the [STMPATHS] entry, when not the log folder
    std::string listedExe = "";  // the executable's [FILES] entry, when not its path as started
  } cases[] = {
      {"nothing in use", Family::NT, nullptr, {exe, dir, "C:\\Program Files"}, {}},
      {"a listed file held open in a [PATHS] folder",
       Family::NT,
       [&](sim::Machine &m) { sim::Lock(m, templates + "\\Default.qvt"); },
       {templates + "\\Default.qvt", exe, templates, dir + "\\Data", dir, "C:\\Program Files"},
       {}},
      {"a listed library loaded by the spooler, outside the removal's folders",
       Family::NT,
       [](sim::Machine &m) { sim::Lock(m, "C:\\WINDOWS\\SYSTEM32\\QVMon.dll", sim::InUse::Loaded); },
       {"C:\\WINDOWS\\SYSTEM32\\QVMon.dll", exe, dir, "C:\\Program Files"},
       {}},
      {"a listed file held open in a [STMPATHS] folder: it and its parent, never ROOT",
       Family::NT,
       [&](sim::Machine &m) { sim::Lock(m, log + "\\today.log"); },
       {log + "\\today.log", exe, log, dir + "\\Spool", dir, "C:\\Program Files"},
       {}},
      {"a [STMPATHS] parent written with extra backslashes: kept, named as the platform reads it",
       Family::NT,
       [&](sim::Machine &m) { sim::Lock(m, log + "\\today.log"); },
       {log + "\\today.log", exe, log, dir, "C:\\Program Files"},
       {dir, dir + "\\Spool"},
       dir + "\\Spool\\\\Log\\\\a.txt"},
      {"a listed file held open in the install folder; the listed executable scheduled once, last",
       Family::NT,
       [&](sim::Machine &m) { sim::Lock(m, dir + "\\Readme.txt"); },
       {dir + "\\Readme.txt", exe, dir, "C:\\Program Files"},
       {}},
      {"the executable listed with a doubled backslash and a forward slash: scheduled once, last",
       Family::NT,
       nullptr,
       {exe, dir, "C:\\Program Files"},
       {},
       "",
       "C:\\Program Files\\\\Lumora/QVUninst.exe"},
      {"a read-only listed file loses the attribute and goes at once",
       Family::NT,
       [&](sim::Machine &m) { sim::SetAttributes(m, dir + "\\Readme.txt", FILE_ATTRIBUTE_READONLY); },
       {exe, dir, "C:\\Program Files"},
       {}},
      {"a read-only listed file in use goes at the restart",
       Family::NT,
       [&](sim::Machine &m) {
         sim::SetAttributes(m, dir + "\\Readme.txt", FILE_ATTRIBUTE_READONLY);
         sim::Lock(m, dir + "\\Readme.txt");
       },
       {dir + "\\Readme.txt", exe, dir, "C:\\Program Files"},
       {}},
      {"a read-only file of the user's stays, and keeps its folder",
       Family::NT,
       [&](sim::Machine &m) {
         sim::AddFile(m, dir + "\\mine.txt");
         sim::SetAttributes(m, dir + "\\mine.txt", FILE_ATTRIBUTE_READONLY);
       },
       {exe, dir, "C:\\Program Files"},
       {dir, dir + "\\mine.txt"}},
      {"a file of the user's in use is never scheduled",
       Family::NT,
       [&](sim::Machine &m) {
         sim::AddFile(m, templates + "\\mine.qvt");
         sim::Lock(m, templates + "\\mine.qvt");
       },
       {exe, dir, "C:\\Program Files"},
       {dir, dir + "\\Data", templates, templates + "\\mine.qvt"}},
      {"started by its 8.3 path: the folders found all the same",
       Family::NT,
       [&](sim::Machine &m) {
         sim::SetShortName(m, "C:\\Program Files", "PROGRA~1");
         sim::SetShortName(m, exe, "QVUNIN~1.EXE");
         m.executablePath = "C:\\PROGRA~1\\Lumora\\QVUNIN~1.EXE";
       },
       {"C:\\PROGRA~1\\Lumora\\QVUNIN~1.EXE", dir, "C:\\Program Files"},
       {}},
      {"started in a [PATHS] folder: it leaves it first, and the folder goes",
       Family::NT,
       [&](sim::Machine &m) { m.currentDirectory = templates; },
       {exe, dir, "C:\\Program Files"},
       {}},
      {"95/98: a file in use goes at the restart through WININIT.INI, which takes no folder",
       Family::Win9x,
       [&](sim::Machine &m) { sim::Lock(m, templates + "\\Default.qvt"); },
       {},
       {dir, dir + "\\Data", templates}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::InstalledMachine(c.family);
    test::PutWindowsFile(
        m, "QVFList.ini",
        "[UNINSTALL]\nPATH=" + dir + "\n[FILES]\nFILE00=" + dir + "\\Readme.txt\nFILE01=" + templates +
            "\\Default.qvt\nFILE02=C:\\WINDOWS\\SYSTEM32\\QVMon.dll\nFILE03=" + log +
            "\\today.log\nFILE04=" + (c.listedExe.empty() ? exe : c.listedExe) + "\nFILE05=" + dir +
            "\\_SETUP.DLL\n[PATHS]\nPATH00=" + templates + "\n[STMPATHS]\nROOT=" + dir + "\nPATH00=" +
            (c.stmPath.empty() ? log : c.stmPath) + "\n[LPR]\nMonitor=" + test::kMonitor + "\n");
    sim::AddFile(m, templates + "\\Default.qvt");
    sim::AddFile(m, "C:\\WINDOWS\\SYSTEM32\\QVMon.dll");
    sim::AddFile(m, log + "\\today.log");
    sim::AddFile(m, "C:\\My Documents\\letter.txt");
    if (c.setUp) c.setUp(m);
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(m.pendingDeletes, c.pending);
    EXPECT_EQ(test::FirstArgs(m, "MoveFileExA"), c.pending);  // 95/98 is never asked
    sim::Restart(m);
    std::vector<std::string> left;
    for (const auto &entry : m.files)
      if (entry.second.path.compare(0, dir.size(), dir) == 0 && entry.second.path != exe)
        left.push_back(entry.second.path);
    EXPECT_EQ(left, c.leftAfterRestart);
    EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\SYSTEM32\\QVMon.dll"));
    EXPECT_TRUE(sim::Exists(m, "C:\\My Documents\\letter.txt"));
    EXPECT_FALSE(sim::Exists(m, exe));
    if (sim::Exists(m, dir + "\\mine.txt")) {
      EXPECT_NE(m.files.at(sim::FoldPath(m, dir + "\\mine.txt")).attributes & FILE_ATTRIBUTE_READONLY, 0u);
    }
  }
}

}  // namespace

namespace {

// The 95/98 delete command is a DOS program: its command tail holds at most
// 126 characters, and it reads the path through the OEM code page. The path
// goes as it is when both hold, else in its 8.3 form, else no command starts.
// Started at idle priority, it waits for the uninstaller to exit even on a
// machine that would run it at once.
TEST(SelfDelete, TheDeleteCommandNamesAFormDosTakes) {
  const std::string deep = "C:\\Program Files\\Lumora E-mail Printing\\" + std::string(60, 'd') + "\\Bin";
  std::string deeper = "C:";  // its 8.3 form twelve FOLDER~1 deep: a tail of 133 characters
  for (int level = 0; level < 12; ++level) deeper += "\\Folder Level";
  const std::string accented =
      "C:\\Program Files\\Lumora \xC9"
      "dition";
  const std::string kanji = "C:\\" + kTable + "\\Lumora";
  const struct {
    const char *label;
    UINT codePage;
    std::string folder;  // holds the executable
    std::vector<std::pair<std::string, std::string>> aliases;
    bool atStart;
    std::string deleted;  // as the command names it; "" for no command
  } cases[] = {
      {"the path fits as it is",
       1252,
       "C:\\Program Files\\Lumora",
       {},
       false,
       "C:\\Program Files\\Lumora\\QVUninst.exe"},
      {"too deep: its 8.3 form",
       1252,
       deep,
       {{"C:\\Program Files", "PROGRA~1"},
        {"C:\\Program Files\\Lumora E-mail Printing", "LUMORA~1"},
        {"C:\\Program Files\\Lumora E-mail Printing\\" + std::string(60, 'd'), "DDDDDD~1"}},
       false,
       "C:\\PROGRA~1\\LUMORA~1\\DDDDDD~1\\BIN\\QVUNINST.EXE"},
      {"too deep in its 8.3 form too: no command", 1252, deeper, {}, false, ""},
      {"a letter the OEM code page reads otherwise: its 8.3 form",
       1252,
       accented,
       {{"C:\\Program Files\\Lumora \xC9"
         "dition",
         "LUMORA~1"}},
       false,
       "C:\\PROGRA~1\\LUMORA~1\\QVUNINST.EXE"},
      {"that letter kept in the 8.3 form the volume made: no command",
       1252,
       "C:\\Program Files\\\xC9"
       "dition",
       {},
       false,
       ""},
      {"double-byte names where both code pages are one", 932, kanji, {}, false, kanji + "\\QVUninst.exe"},
      {"a machine that would run the command at once",
       1252,
       "C:\\Program Files\\Lumora",
       {},
       true,
       "C:\\Program Files\\Lumora\\QVUninst.exe"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::InstalledMachine(Family::Win9x);
    m.codePage = c.codePage;
    if (c.atStart) m.deleteCommandRuns = sim::DeleteCommandRuns::AtStart;
    m.executablePath = c.folder + "\\QVUninst.exe";
    sim::AddFile(m, m.executablePath, "MZ");
    for (const auto &alias : c.aliases) ASSERT_TRUE(sim::SetShortName(m, alias.first, alias.second));
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 1);
    std::vector<std::string> commands;
    for (const sim::ProcessRecord &p : m.processes) commands.push_back(p.commandLine);
    EXPECT_EQ(commands, c.deleted.empty()
                            ? std::vector<std::string>{}
                            : std::vector<std::string>{"command.com /c del \"" + c.deleted + "\""});
    sim::Restart(m);
    EXPECT_EQ(sim::Exists(m, c.folder + "\\QVUninst.exe"), c.deleted.empty());
  }
}

}  // namespace

namespace {

// 95/98 deletes a file in use at the restart through WININIT.INI: a NUL= line
// by its short path at the end of the first [rename] section, every other
// byte of the file kept, written whole or not at all. A file it can't enter
// stays, and the completion box names it.
TEST(SelfDelete, FilesInUseOn9xAreEnteredInWininit) {
  const std::string dll = "C:\\WINDOWS\\SYSTEM\\QVMON.DLL";
  const std::string line = "NUL=" + dll + "\r\n";
  const std::string deep = "C:\\WINDOWS\\SYSTEM\\AAAAAAAA\\BBBBBBBB\\CCCCCCCC\\DDDDDDDD\\EEEEEEEE\\QVMON.DLL";
  const struct {
    const char *label;
    const char *before;  // WININIT.INI as the run finds it; NULL: none
    std::function<void(sim::Machine &)> arrange;
    std::string after;  // as the run leaves it; "-" for none
    bool entered;
  } rows[] = {
      {"none: made with its section", nullptr, nullptr, "[rename]\r\n" + line, true},
      {"another installer's lines: after them, before the next section",
       "[rename]\r\nC:\\WINDOWS\\A.DLL=C:\\WINDOWS\\A.NEW\r\n[CombineVxDs]\r\nx=1\r\n", nullptr,
       "[rename]\r\nC:\\WINDOWS\\A.DLL=C:\\WINDOWS\\A.NEW\r\n" + line + "[CombineVxDs]\r\nx=1\r\n", true},
      {"the section in another case, last and unterminated: its line ended first",
       "; Setup\r\n[RENAME]\r\nNUL=C:\\OLD.TMP", nullptr, "; Setup\r\n[RENAME]\r\nNUL=C:\\OLD.TMP\r\n" + line,
       true},
      {"no such section, the last line unterminated", "[CombineVxDs]\nx=1", nullptr,
       "[CombineVxDs]\nx=1\r\n[rename]\r\n" + line, true},
      {"listed twice, in two cases: entered once", nullptr,
       [&](sim::Machine &m) {
         test::PutWindowsFile(m, "QVFList.ini",
                              "[FILES]\nFILE00=" + dll + "\nFILE01=c:\\windows\\system\\qvmon.dll\n");
       },
       "[rename]\r\n" + line, true},
      {"read-only: not entered", "[rename]\r\n",
       [](sim::Machine &m) { sim::SetAttributes(m, "C:\\WINDOWS\\WININIT.INI", FILE_ATTRIBUTE_READONLY); },
       "[rename]\r\n", false},
      {"a full disk: nothing written, the file made for it deleted again", nullptr,
       [](sim::Machine &m) { sim::SetFreeBytes(m, 10); }, "-", false},
      {"a short path longer than DOS takes: not entered", nullptr,
       [&](sim::Machine &m) {
         sim::AddFile(m, deep);
         sim::Lock(m, deep, sim::InUse::Loaded);
         test::PutWindowsFile(m, "QVFList.ini", "[FILES]\nFILE00=" + deep + "\n");
       },
       "-", false},
      {"a short path DOS reads otherwise (code page 1252's \xC9 is another letter in 437): not entered",
       nullptr,
       [&](sim::Machine &m) {
         const std::string accented = "C:\\WINDOWS\\SYSTEM\\QVM\xC9.DLL";
         sim::AddFile(m, accented);
         sim::Lock(m, accented, sim::InUse::Loaded);
         test::PutWindowsFile(m, "QVFList.ini", "[FILES]\nFILE00=" + accented + "\n");
       },
       "-", false},
      {"memory to remember it fails: not entered", nullptr,
       [](sim::Machine &m) { sim::FailNext(m, "LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, 1); }, "-", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::InstalledMachine(Family::Win9x);
    test::PutWindowsFile(m, "QVFList.ini", "[FILES]\nFILE00=" + dll + "\n");
    sim::AddFile(m, dll, "MZ");
    sim::SetAttributes(m, dll, FILE_ATTRIBUTE_READONLY);
    sim::Lock(m, dll, sim::InUse::Loaded);
    if (row.before) test::PutWindowsFile(m, "WININIT.INI", row.before);
    if (row.arrange) row.arrange(m);
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 1);
    auto wininit = m.files.find(sim::FoldPath(m, "C:\\WINDOWS\\WININIT.INI"));
    EXPECT_EQ(wininit == m.files.end() ? "-" : wininit->second.data, row.after);
    const std::string &box = m.messageBoxes.back().text;
    EXPECT_EQ(box.find("Restart the computer") != std::string::npos, row.entered) << box;
    EXPECT_EQ(box.find("could not be removed") != std::string::npos, !row.entered) << box;
    sim::Restart(m);
    EXPECT_EQ(sim::Exists(m, dll), !row.entered);
  }
}

}  // namespace
