// The main flow seen from outside: which box a user gets, in which order the
// checks refuse, what a No or a Yes leaves behind, and how the executable
// arranges its own deletion on each family.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "flow_fixtures.h"

namespace {

using sim::Family;
using test::Boxes;
using test::InstalledMachine;

const char kCatalog[] =
    "[STATIC]\n"
    "DIALOG00=Uninstall Lumora Mail\n"
    "DIALOG01=Really?\n"
    "IDS_ADD_PORT_LIMIT=Add-port wizard open\n"
    "ADDPORT=Add Port Wizard\n"
    "IDS_CONF_PORT_LIMIT=Config wizard open\n"
    "CONFIG=Port Config\n"
    "ONLY_ADMIN=Administrators only\n"
    "MSGBOX00=All gone\n"
    "ERRORMES2=Jobs are waiting\n"
    "[TITLE]\n"
    "DIALOG=Lumora Uninstaller\n"
    "MSGBOX=Done\n";

const std::string kQuestionBox = "Lumora Uninstaller|Uninstall Lumora Mail\nReally?|36";

bool Called(const sim::Machine &m, const std::string &function) { return !sim::CallsTo(m, function).empty(); }

// Whether every library looked into or released is one that LoadLibraryA
// (or, for a library loaded with the executable, GetModuleHandleA) gave.
bool OnlyLoadedLibrariesUsed(const sim::Machine &m) {
  std::vector<std::string> loaded;
  for (const char *load : {"LoadLibraryA", "GetModuleHandleA"})
    for (const sim::Call &call : sim::CallsTo(m, load))
      if (call.result != sim::Hex(0)) loaded.push_back(call.result);
  for (const char *use : {"GetProcAddress", "FreeLibrary"})
    for (const sim::Call &call : sim::CallsTo(m, use))
      if (std::find(loaded.begin(), loaded.end(), call.args[0]) == loaded.end()) return false;
  return true;
}

bool ReadManifest(const sim::Machine &m) {
  for (const sim::Call &call : sim::CallsTo(m, "GetPrivateProfileStringA"))
    if (call.args[4] == "QVFList.ini") return true;
  return false;
}

struct RefusalCase {
  const char *label;
  Family family;
  std::function<void(sim::Machine &)> arrange;
  std::string box;  // caption|text|style
  bool manifestRead;
  bool libraryLoaded;
};

TEST(MainFlow, RefusesBeforeAskingAndChangesNothing) {
  const RefusalCase cases[] = {
      {"add-port wizard open", Family::NT,
       [](sim::Machine &m) { test::AddWindow(m, "Add Port Wizard - step 1"); },
       "Lumora Uninstaller|Add-port wizard open|0", false, false},
      {"config wizard open", Family::NT, [](sim::Machine &m) { test::AddWindow(m, "Port Config"); },
       "Lumora Uninstaller|Config wizard open|0", false, false},
      {"both wizards open: the add-port one is named", Family::Win9x,
       [](sim::Machine &m) {
         test::AddWindow(m, "Port Config");
         test::AddWindow(m, "Add Port Wizard");
       },
       "Lumora Uninstaller|Add-port wizard open|0", false, false},
      {"privilege refused", Family::NT, [](sim::Machine &m) { m.libraries[0].checkUserPrivilegeResult = 0; },
       "Lumora Uninstaller|Administrators only|16", true, true},
      {"_SETUP.DLL gone from its folder, no administrator: the token refuses", Family::NT,
       [](sim::Machine &m) {
         m.files.erase(sim::FoldPath(m, std::string(test::kInstallDir) + "\\_SETUP.DLL"));
         m.administrators = sim::Administrators::No;
       },
       "Lumora Uninstaller|Administrators only|16", true, false},
      {"_SETUP.DLL's folder gone: Application error.", Family::NT,
       [](sim::Machine &m) { sim::SetString(m, test::kMonitorKey, "InstallPath", "C:\\Elsewhere"); },
       "Lumora Uninstaller|Application error.|16", true, true},
      {"_SETUP.DLL without CheckUserPrivilege", Family::NT,
       [](sim::Machine &m) { m.libraries[0].exportsCheckUserPrivilege = false; },
       "Lumora Uninstaller|Application error.|16", true, true},
      {"no monitor named, no administrator: the token refuses", Family::NT,
       [](sim::Machine &m) {
         test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\nPATH=C:\\Program Files\\Lumora\n");
         m.administrators = sim::Administrators::No;
       },
       "Lumora Uninstaller|Administrators only|16", true, false},
      {"the monitor gone, a token not elevated: Administrators for deny only", Family::NT,
       [](sim::Machine &m) {
         sim::FindKey(m, "System\\CurrentControlSet\\Control\\Print\\Monitors")->subkeys.clear();
         m.administrators = sim::Administrators::DenyOnly;
       },
       "Lumora Uninstaller|Administrators only|16", true, false},
      {"a monitor name beyond its key paths is no monitor: the token refuses", Family::NT,
       [](sim::Machine &m) {
         test::PutWindowsFile(m, "QVFList.ini", "[LPR]\nMonitor=" + std::string(202, 'm') + "\n");
         m.administrators = sim::Administrators::No;
       },
       "Lumora Uninstaller|Administrators only|16", true, false},
      {"no monitor named, the token can't be opened", Family::NT,
       [](sim::Machine &m) {
         test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\nPATH=C:\\Program Files\\Lumora\n");
         sim::FailNext(m, "OpenProcessToken");
       },
       "Lumora Uninstaller|Administrators only|16", true, false},
      {"no monitor named, the token's groups can't be read", Family::NT,
       [](sim::Machine &m) {
         test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\nPATH=C:\\Program Files\\Lumora\n");
         sim::FailNext(m, "GetTokenInformation", 1, ERROR_ACCESS_DENIED, 1);
       },
       "Lumora Uninstaller|Administrators only|16", true, false},
      {"monitor without InstallPath", Family::NT,
       [](sim::Machine &m) { sim::FindKey(m, test::kMonitorKey)->values.clear(); },
       "Lumora Uninstaller|Application error.|16", true, false},
      {"relative InstallPath is never searched for", Family::NT,
       [](sim::Machine &m) { sim::SetString(m, test::kMonitorKey, "InstallPath", "Lumora"); },
       "Lumora Uninstaller|Application error.|16", true, false},
      {"library path too long to form whole", Family::NT,
       [](sim::Machine &m) {
         sim::SetString(m, test::kMonitorKey, "InstallPath", "C:\\" + std::string(246, 'a'));
       },
       "Lumora Uninstaller|Application error.|16", true, false},
      {"job waiting on a monitor port (NT)", Family::NT,
       [](sim::Machine &m) { test::AddPrinter(m, "Lumora Mail", "QVMAIL2:", 1); },
       "Lumora Uninstaller|Jobs are waiting|16", true, true},
      {"job waiting on a monitor port (95/98)", Family::Win9x,
       [](sim::Machine &m) { test::AddPrinter(m, "Lumora Mail", "qvmail1:", 2); },
       "Lumora Uninstaller|Jobs are waiting|16", true, false},
  };
  for (const RefusalCase &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = InstalledMachine(c.family);
    test::PutCatalog(m, kCatalog);
    c.arrange(m);
    std::string before = test::Snapshot(m);
    EXPECT_EQ(test::RunUninstaller(m), 0);
    EXPECT_EQ(Boxes(m), std::vector<std::string>{c.box});
    EXPECT_EQ(ReadManifest(m), c.manifestRead);
    EXPECT_EQ(Called(m, "LoadLibraryA"), c.libraryLoaded);
    EXPECT_TRUE(OnlyLoadedLibrariesUsed(m));
    EXPECT_EQ(test::Snapshot(m), before);
    EXPECT_EQ(sim::LastRunLeftovers().libraries, 0);
    EXPECT_EQ(sim::LastRunLeftovers().registryKeys, 0);
  }
}

TEST(MainFlow, ChecksThePrivilegeOnlyOnNt) {
  const struct {
    Family family;
    bool loaded;
  } cases[] = {{Family::NT, true}, {Family::Win9x, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.family == Family::NT ? "NT" : "95/98");
    sim::Machine m = InstalledMachine(c.family);
    m.libraries[0].checkUserPrivilegeResult = 0;
    if (c.family == Family::NT) m.libraries[0].checkUserPrivilegeResult = 7;  // any nonzero lets it go on
    test::PutCatalog(m, kCatalog);
    EXPECT_EQ(test::RunUninstaller(m), 1);  // asked; the default answer is No
    EXPECT_EQ(Boxes(m), std::vector<std::string>{kQuestionBox});
    EXPECT_EQ(test::FirstArgs(m, "LoadLibraryA"),
              c.loaded ? std::vector<std::string>{"C:\\Program Files\\Lumora\\_SETUP.DLL"}
                       : std::vector<std::string>{});
    if (c.loaded) {
      auto check = sim::CallsTo(m, "CheckUserPrivilege");
      ASSERT_EQ(check.size(), 1u);
      EXPECT_EQ(check[0].args[0], "0");
      // Released right after the call, before its answer is acted on.
      auto names = sim::CallNames(m);
      auto at = std::find(names.begin(), names.end(), "CheckUserPrivilege");
      EXPECT_EQ(*(at + 1), "FreeLibrary");
    }
  }
}

TEST(MainFlow, AnswerNoChangesNothing) {
  for (Family family : {Family::NT, Family::Win9x}) {
    sim::Machine m = InstalledMachine(family);
    test::PutCatalog(m, kCatalog);
    m.answers = {IDNO};
    std::string before = test::Snapshot(m);
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(Boxes(m), std::vector<std::string>{kQuestionBox});
    EXPECT_EQ(test::Snapshot(m), before);
    EXPECT_FALSE(Called(m, "DialogBoxParamA"));
  }
}

TEST(MainFlow, QuestionShowsBothLinesWholeEvenAtTheirLongest) {
  sim::Machine m = InstalledMachine(Family::Win9x);
  std::string first(255, 'F'), second(255, 'S');
  test::PutCatalog(m, "[STATIC]\nDIALOG00=" + first + "\nDIALOG01=" + second + "\n");
  test::RunUninstaller(m);
  ASSERT_EQ(m.messageBoxes.size(), 1u);
  EXPECT_EQ(m.messageBoxes[0].text, first + "\n" + second);
  EXPECT_EQ(m.messageBoxes[0].caption, "Uninstaller");
  EXPECT_EQ(m.messageBoxes[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(m.messageBoxes[0].owner, nullptr);
}

TEST(MainFlow, YesRemovesThenReportsAndSchedulesSelfDeletionOnNt) {
  sim::Machine m = InstalledMachine(Family::NT);
  test::PutCatalog(m, kCatalog);
  m.answers = {IDYES};
  EXPECT_EQ(test::RunUninstaller(m), 1);
  EXPECT_EQ(Boxes(m), (std::vector<std::string>{kQuestionBox, "Done|All gone|0"}));
  EXPECT_FALSE(sim::Exists(m, "C:\\Program Files\\Lumora\\Readme.txt"));
  EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\QVUninst.ini"));  // the completion texts were loaded before
  EXPECT_EQ(sim::FindKey(m, test::kUninstallKey), nullptr);
  // After the executable, the install folders that hold it, deepest first.
  EXPECT_EQ(m.pendingDeletes,
            (std::vector<std::string>{m.executablePath, test::kInstallDir, "C:\\Program Files"}));
  EXPECT_TRUE(m.processes.empty());
  // The dialog ran, its bar's class registered (InitCommonControls), and closed before the completion box.
  ASSERT_EQ(m.dialogs.size(), 1u);
  EXPECT_TRUE(m.dialogs[0].ended);
  auto names = sim::CallNames(m);
  auto dialog = std::find(names.begin(), names.end(), "DialogBoxParamA");
  auto move = std::find(names.begin(), names.end(), "MoveFileExA");
  ASSERT_NE(dialog, names.end());
  EXPECT_LT(dialog, move);
  EXPECT_EQ(
      sim::CallsTo(m, "MoveFileExA")[0].args,
      (std::vector<std::string>{m.executablePath, "(null)", std::to_string(MOVEFILE_DELAY_UNTIL_REBOOT)}));
}

TEST(MainFlow, YesOn9xStartsAHiddenQuotedDeleteCommand) {
  sim::Machine m = InstalledMachine(Family::Win9x);
  m.answers = {IDYES};
  EXPECT_EQ(test::RunUninstaller(m), 1);
  EXPECT_EQ(Boxes(m).back(), "Complete|Uninstall is Complete|0");
  EXPECT_TRUE(m.pendingDeletes.empty());
  ASSERT_EQ(m.processes.size(), 1u);
  const sim::ProcessRecord &p = m.processes[0];
  EXPECT_EQ(p.applicationName, "");
  EXPECT_EQ(p.commandLine, "command.com /c del \"C:\\Program Files\\Lumora\\QVUninst.exe\"");
  EXPECT_EQ(p.startupCb, sizeof(STARTUPINFOA));
  EXPECT_EQ(p.startupFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(p.startupShowWindow, SW_HIDE);
  EXPECT_TRUE(p.inheritHandles);
  // Started at idle priority while the uninstaller raises its own: it runs once the uninstaller has exited.
  EXPECT_EQ(p.creationFlags, static_cast<DWORD>(IDLE_PRIORITY_CLASS));
  EXPECT_EQ(m.priorityClass, static_cast<DWORD>(HIGH_PRIORITY_CLASS));
  EXPECT_EQ(m.threadPriority, THREAD_PRIORITY_TIME_CRITICAL);
  EXPECT_TRUE(p.environmentIsNull);
  EXPECT_TRUE(p.currentDirectoryIsNull);
  EXPECT_EQ(sim::LastRunLeftovers().handles, 0);  // both handles closed at once
}

TEST(MainFlow, SelfDeletionNeverNamesACutPath) {
  const struct {
    const char *label;
    Family family;
    size_t pathLength;
    bool scheduled;
  } cases[] = {
      {"NT, 255 characters fit", Family::NT, 255, true},
      {"NT, 256 characters do not", Family::NT, 256, false},
      {"95/98, the DOS command tail holds the path", Family::Win9x, 116, true},
      {"95/98, the tail would be cut and there is no shorter form", Family::Win9x, 117, false},
      {"95/98, the path itself does not fit", Family::Win9x, 300, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = InstalledMachine(c.family);
    m.executablePath = "C:\\" + std::string(c.pathLength - 3 - 4, 'x') + ".exe";
    ASSERT_EQ(m.executablePath.size(), c.pathLength);
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(m.pendingDeletes.size() + m.processes.size(), c.scheduled ? 1u : 0u);
  }
}

TEST(MainFlow, FailedSelfDeletionIsNotReported) {
  for (Family family : {Family::NT, Family::Win9x}) {
    sim::Machine m = InstalledMachine(family);
    m.answers = {IDYES};
    sim::FailNext(m, family == Family::NT ? "MoveFileExA" : "CreateProcessA");
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(Boxes(m).size(), 2u);
    EXPECT_EQ(sim::LastRunLeftovers().handles, 0);
  }
}

// Without a registered monitor (none named, or one a run cut short already
// deleted) there is no _SETUP.DLL to ask: the token's Administrators group
// decides, so that a product half removed can always be finished. A
// registered monitor's _SETUP.DLL decides alone, as before.
TEST(MainFlow, WithoutARegisteredMonitorTheTokenDecides) {
  const struct {
    const char *label;
    Family family;
    bool registered;
    sim::Administrators administrators;
    bool tokenAsked;
    bool libraryLoaded;
  } cases[] = {
      {"a registered monitor: _SETUP.DLL decides, the token is never asked", Family::NT, true,
       sim::Administrators::No, false, true},
      {"the monitor gone, an administrator", Family::NT, false, sim::Administrators::Yes, true, false},
      {"_SETUP.DLL gone, the monitor kept by a printer's port, an administrator", Family::NT, true,
       sim::Administrators::Yes, true, false},
      {"95/98: neither is asked", Family::Win9x, false, sim::Administrators::No, false, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = InstalledMachine(c.family);
    test::PutCatalog(m, kCatalog);
    if (!c.registered)
      sim::FindKey(m, "System\\CurrentControlSet\\Control\\Print\\Monitors")->subkeys.clear();
    if (c.registered && c.tokenAsked)
      m.files.erase(sim::FoldPath(m, std::string(test::kInstallDir) + "\\_SETUP.DLL"));
    m.administrators = c.administrators;
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(Boxes(m), std::vector<std::string>{kQuestionBox});
    EXPECT_EQ(Called(m, "OpenProcessToken"), c.tokenAsked);
    EXPECT_EQ(Called(m, "LoadLibraryA"), c.libraryLoaded);
    EXPECT_TRUE(sim::CallsTo(m, "GetTokenInformation").size() == (c.tokenAsked ? 2u : 0u));
  }
}

// A progress dialog that can't be created (on 95/98 when the USER heap is
// exhausted) runs nothing: the removal then runs without it, so that the
// completion box tells the truth and the executable goes only with the product.
TEST(MainFlow, ADialogThatCannotBeShownStillRemoves) {
  for (Family family : {Family::NT, Family::Win9x}) {
    SCOPED_TRACE(family == Family::NT ? "NT" : "95/98");
    sim::Machine m = InstalledMachine(family);
    m.answers = {IDYES};
    sim::FailNext(m, "DialogBoxParamA", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(Boxes(m).back(), "Complete|Uninstall is Complete|0");
    EXPECT_FALSE(sim::Exists(m, std::string(test::kInstallDir) + "\\Readme.txt"));
    EXPECT_EQ(sim::FindKey(m, test::kUninstallKey), nullptr);
    EXPECT_FALSE(sim::Exists(m, "C:\\WINDOWS\\QVFList.ini"));
    EXPECT_EQ(sim::CallsTo(m, "DeleteFileA").size(), 3u);  // run once: the listed file and the two INI files
  }
}

TEST(MainFlow, MemoryExhaustedWhilePlanningEndsBeforeTheDialog) {
  sim::Machine m = InstalledMachine(Family::NT);
  m.answers = {IDYES};
  sim::FailNext(m, "LocalAlloc");
  std::string before = test::Snapshot(m);
  EXPECT_EQ(test::RunUninstaller(m), 1);
  EXPECT_EQ(Boxes(m).back(), "(null)|Memory allocation error|0");
  EXPECT_FALSE(Called(m, "DialogBoxParamA"));
  EXPECT_EQ(test::Snapshot(m), before);
}

}  // namespace

namespace {

TEST(MainFlow, WithoutACatalogEveryTextIsItsDefault) {
  const struct {
    const char *label;
    std::function<void(sim::Machine &)> arrange;
    std::vector<std::string> boxes;
    int exitCode;
  } cases[] = {
      {"question and completion",
       [](sim::Machine &m) { m.answers = {IDYES}; },
       {"Uninstaller|Uninstall Lumora\nAre you Sure ?|36", "Complete|Uninstall is Complete|0"},
       1},
      {"wizard refusal",
       [](sim::Machine &m) { test::AddWindow(m, "Wizard to add E-mail printing Port (1/3)"); },
       {"Uninstaller|The wizard to add E-mail printing is displayed.|0"},
       0},
      {"pending jobs: ERRORMES2 has no default",
       [](sim::Machine &m) { test::AddPrinter(m, "Mail", "QVMAIL1:", 1); },
       {"Uninstaller||16"},
       0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = InstalledMachine(Family::NT);
    c.arrange(m);
    EXPECT_EQ(test::RunUninstaller(m), c.exitCode);
    EXPECT_EQ(Boxes(m), c.boxes);
  }
}

}  // namespace

namespace {

// The pending-job check looks at the monitor the removal would empty: a name
// longer than 127 characters is not cut to another (or no) monitor's.
TEST(MainFlow, PendingJobCheckSeesTheMonitorTheRemovalWouldEmpty) {
  const std::string monitor(150, 'M');
  const std::string key = std::string("System\\CurrentControlSet\\Control\\Print\\Monitors\\") + monitor;
  for (Family family : {Family::NT, Family::Win9x}) {
    sim::Machine m = InstalledMachine(family);
    test::PutWindowsFile(m, "QVFList.ini", "[LPR]\nMonitor=" + monitor + "\n");
    sim::SetString(m, key, "InstallPath", test::kInstallDir);
    sim::CreateKey(m, key + "\\Ports\\QVLONG:");
    test::AddPrinter(m, "Long", "QVLONG:", 1);
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 0);
    EXPECT_EQ(Boxes(m), std::vector<std::string>{"Uninstaller||16"});
    EXPECT_NE(sim::FindKey(m, key + "\\Ports\\QVLONG:"), nullptr);
  }
}

}  // namespace

namespace {

// _SETUP.DLL is loaded only by a full path: drive letter, colon and backslash,
// or a UNC path. Anything else would be searched for along the library path.
// A library waits wherever each row's path would lead, so that a path wrongly
// taken shows as a loaded library and a run that goes on.
TEST(MainFlow, LoadsTheSetupLibraryOnlyFromAFullInstallPath) {
  const std::string kAsked = "Uninstaller|Uninstall Lumora\nAre you Sure ?|36";
  const std::string kRefused = "Uninstaller|Application error.|16";
  const struct {
    const char *label;
    std::string installPath;
    UINT codePage;
    bool loaded;
    std::string box;
  } rows[] = {
      {"first drive letter", "A:\\", 1252, true, kAsked},
      {"last drive letter", "Z:\\", 1252, true, kAsked},
      {"first drive letter, lower case", "a:\\", 1252, true, kAsked},
      {"last drive letter, lower case", "z:\\", 1252, true, kAsked},
      {"'@' sits just before 'A'", "@:\\", 1252, false, kRefused},
      {"'[' just after 'Z'", "[:\\", 1252, false, kRefused},
      {"'`' just before 'a'", "`:\\", 1252, false, kRefused},
      {"'{' just after 'z'", "{:\\", 1252, false, kRefused},
      {"drive without its backslash", "C:", 1252, false, kRefused},
      {"drive-relative path", "C:relative", 1252, false, kRefused},
      // The stand-in has no network: the library is asked for, and not found.
      {"UNC path", "\\\\server\\share", 1252, true, kRefused},
      {"root of the current drive", "\\single", 1252, false, kRefused},
      {"empty", "", 1252, false, kRefused},
      {"double-byte character first: full-width A", "\x82\x60:\\", 932, false, kRefused},
      {"lead byte taking the colon as its trail byte", "\x82:\\Lumora", 932, false, kRefused},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = InstalledMachine(Family::NT);
    m.codePage = row.codePage;
    sim::SetString(m, test::kMonitorKey, "InstallPath", row.installPath);
    const std::string library = row.installPath + "\\_SETUP.DLL";
    sim::AddFile(m, library, "MZ");
    m.libraries.push_back(sim::Library{library, true, 1});
    EXPECT_EQ(test::RunUninstaller(m), row.box == kAsked ? 1 : 0);
    EXPECT_EQ(Boxes(m), std::vector<std::string>{row.box});
    EXPECT_EQ(test::FirstArgs(m, "LoadLibraryA"),
              row.loaded ? std::vector<std::string>{library} : std::vector<std::string>{});
  }
}

}  // namespace

namespace {

// The spooler that sizes the printer list and then fails to fill it: the
// buffer is released, the check finds no jobs, the removal has no printer to
// move and still deletes what the spooler lets go. RunUninstaller holds each
// run to leaving no block behind.
TEST(MainFlow, PrinterListThatCantBeFilledIsReleasedAndTheRunGoesOn) {
  const struct {
    const char *label;
    int enumerationsBefore;  // EnumPrintersA calls that succeed before the failing one
    std::string printerPort;
    std::vector<std::string> portsDeleted;
    std::string completion;
  } rows[] = {
      {"at the pending-job check: its job goes unseen",
       1,
       "LPT1:",
       {"QVMAIL1:", "QVMAIL2:"},
       "Complete|Uninstall is Complete|0"},
      {"at the removal: its printer stays, and so do its port and the monitor, which the box names",
       3,
       "QVMAIL1:",
       {"QVMAIL2:"},
       "Complete|Uninstall is Complete\n\nThese could not be removed:\nLumora Mail Monitor|48"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = InstalledMachine(Family::NT);
    test::AddPrinter(m, "Lumora Mail", "QVMAIL1:", row.enumerationsBefore == 1 ? 1 : 0);
    sim::FailNext(m, "EnumPrintersA", 1, ERROR_ACCESS_DENIED, row.enumerationsBefore);
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(Boxes(m).back(), row.completion);
    EXPECT_EQ(m.printers[0].port, row.printerPort);
    std::vector<std::string> deleted;
    for (const sim::Call &call : sim::CallsTo(m, "DeletePortA"))
      if (call.result == "1") deleted.push_back(call.args[2]);
    EXPECT_EQ(deleted, row.portsDeleted);
  }
}

}  // namespace

namespace {

// Reads of the catalog's ERRORMES2 key.
size_t Errormes2Reads(const sim::Machine &m) {
  size_t reads = 0;
  for (const sim::Call &call : sim::CallsTo(m, "GetPrivateProfileStringA"))
    if (call.args[0] == "STATIC" && call.args[1] == "ERRORMES2" && call.args[4] == "QVUninst.ini") ++reads;
  return reads;
}

// ERRORMES2 is read when the refusal is shown, not at start-up: an edit made
// once the check has begun is what the user reads, while the caption, loaded
// at start-up, stays as it was.
TEST(MainFlow, PendingJobsRefusalReadsItsTextWhenShown) {
  for (Family family : {Family::NT, Family::Win9x}) {
    SCOPED_TRACE(family == Family::NT ? "NT" : "95/98");
    sim::Machine m = InstalledMachine(family);
    test::PutCatalog(m, kCatalog);
    test::AddPrinter(m, "Lumora Mail", "QVMAIL1:", 1);
    m.onCall = [&m](const sim::Call &call) {
      if (call.name == "EnumPrintersA" && sim::CallsTo(m, "EnumPrintersA").size() == 1)
        test::PutCatalog(m, "[STATIC]\nERRORMES2=Edited while checking\n[TITLE]\nDIALOG=Edited caption\n");
    };
    EXPECT_EQ(test::RunUninstaller(m), 0);
    EXPECT_EQ(Boxes(m), std::vector<std::string>{"Lumora Uninstaller|Edited while checking|16"});
    EXPECT_EQ(Errormes2Reads(m), 1u);
  }
}

// Every other run never reads it.
TEST(MainFlow, Errormes2IsReadOnlyForThePendingJobsRefusal) {
  const struct {
    const char *label;
    Family family;
    std::function<void(sim::Machine &)> arrange;
    int exitCode;
  } rows[] = {
      {"answered No", Family::NT, [](sim::Machine &) {}, 1},
      {"answered Yes", Family::Win9x, [](sim::Machine &m) { m.answers = {IDYES}; }, 1},
      {"jobs only on another port", Family::NT,
       [](sim::Machine &m) { test::AddPrinter(m, "Lab", "LPT2:", 1); }, 1},
      {"wizard open", Family::NT, [](sim::Machine &m) { test::AddWindow(m, "Port Config"); }, 0},
      {"privilege refused", Family::NT, [](sim::Machine &m) { m.libraries[0].checkUserPrivilegeResult = 0; },
       0},
      {"no monitor named: no check", Family::Win9x,
       [](sim::Machine &m) {
         test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\nPATH=C:\\Program Files\\Lumora\n");
         test::AddPrinter(m, "Lumora Mail", "QVMAIL1:", 1);
       },
       1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = InstalledMachine(row.family);
    test::PutCatalog(m, kCatalog);
    row.arrange(m);
    EXPECT_EQ(test::RunUninstaller(m), row.exitCode);
    EXPECT_EQ(Errormes2Reads(m), 0u);
  }
}

// The pending-job check only looks (no PRINTER_DEFAULTS: the platform's
// default access); moving a printer to another port needs full access.
TEST(MainFlow, PrintersOpenedWithTheAccessEachStepNeeds) {
  sim::Machine m = InstalledMachine(Family::NT);
  test::AddPrinter(m, "Lumora Mail", "QVMAIL1:");
  test::AddPrinter(m, "Office Laser", "LPT2:");
  m.answers = {IDYES};
  EXPECT_EQ(test::RunUninstaller(m), 1);
  std::vector<std::string> opened;
  for (const sim::Call &call : sim::CallsTo(m, "OpenPrinterA"))
    opened.push_back(call.args[0] + " " + call.args[1]);
  EXPECT_EQ(opened, (std::vector<std::string>{"Lumora Mail (null)", "Lumora Mail 0xf000c"}));
  EXPECT_EQ(m.printers[0].port, "LPT1:");
}

}  // namespace

namespace {

// The completion box says what the removal could not finish: a restart line
// when a listed file waits for the restart, and what stayed for good, a few
// named and the others counted. Nothing else changes the box.
TEST(MainFlow, CompletionSaysWhatWaitsAndWhatStayed) {
  const std::string dir = test::kInstallDir;
  const std::string restart = "Restart the computer to finish the removal before installing Lumora again.";
  const std::string stayed = "These could not be removed:";
  const std::string kanji = "\x95\x5C\x8E\xA6";             // 表示, whose first trail byte is a backslash
  const std::string kA = "\x83\x41", kSmallA = "\x83\x61";  // double-byte; their trail bytes are A and a
  auto runFromElsewhere = [](sim::Machine &m) {
    m.executablePath = "C:\\Tools\\QVUninst.exe";
    sim::AddFile(m, m.executablePath, "MZ");
  };
  const struct {
    const char *label;
    Family family;
    std::function<void(sim::Machine &)> arrange;
    std::string box;
  } rows[] = {
      {"everything went", Family::NT, nullptr, "Complete|Uninstall is Complete|0"},
      {"95/98: the install folder holding the executable stays after del, unsaid", Family::Win9x, nullptr,
       "Complete|Uninstall is Complete|0"},
      {"a listed file in use waits for the restart", Family::NT,
       [&](sim::Machine &m) { sim::Lock(m, dir + "\\Readme.txt"); },
       "Complete|Uninstall is Complete\n\n" + restart + "|0"},
      {"a file of the user's keeps the install folder and its parents; the prefixes are not the product's",
       Family::NT,
       [&](sim::Machine &m) {
         runFromElsewhere(m);
         sim::AddFile(m, dir + "\\mine.txt");
       },
       "Complete|Uninstall is Complete\n\n" + stayed + "\n" + dir + "|48"},
      {"three named, the others counted; the install folder also a [PATHS] entry is named once", Family::NT,
       [&](sim::Machine &m) {
         runFromElsewhere(m);
         test::PutWindowsFile(m, "QVFList.ini",
                              "[UNINSTALL]\nPATH=" + dir + "\n[FILES]\nFILE00=" + dir + "\\a\nFILE01=" + dir +
                                  "\\b\nFILE02=" + dir + "\\gone\nFILE03=" + dir +
                                  "\\c\n[PATHS]\nPATH00=" + dir + "\n");
         for (const char *name : {"\\a", "\\b", "\\c"}) sim::AddDirectory(m, dir + name);
         sim::AddFile(m, dir + "\\c\\mine.txt");
       },
       "Complete|Uninstall is Complete\n\n" + stayed + "\n" + dir + "\\a\n" + dir + "\\b\n" + dir +
           "\\c\n1 more|48"},
      {"two folders whose names differ only in a trail byte's letter case: both named", Family::NT,
       [&](sim::Machine &m) {
         runFromElsewhere(m);
         test::PutWindowsFile(m, "QVFList.ini",
                              "[UNINSTALL]\nPATH=" + dir + "\n[FILES]\nFILE00=" + dir + "\\" + kA +
                                  "\nFILE01=" + dir + "\\" + kSmallA + "\n");
         sim::AddDirectory(m, dir + "\\" + kA);
         sim::AddDirectory(m, dir + "\\" + kSmallA);
       },
       "Complete|Uninstall is Complete\n\n" + stayed + "\n" + dir + "\\" + kA + "\n" + dir + "\\" + kSmallA +
           "\n" + dir + "|48"},
      {"past the names kept, each still counted once", Family::NT,
       [&](sim::Machine &m) {
         runFromElsewhere(m);
         std::string manifest = "[UNINSTALL]\nPATH=" + dir + "\n[FILES]\n";
         for (int i = 0; i < 20; ++i) {
           const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
           manifest += "FILE" + n + "=" + dir + "\\" + n + "\n";
           sim::AddDirectory(m, dir + "\\" + n);
         }
         test::PutWindowsFile(m, "QVFList.ini", manifest);
       },
       "Complete|Uninstall is Complete\n\n" + stayed + "\n" + dir + "\\00\n" + dir + "\\01\n" + dir +
           "\\02\n18 more|48"},
      {"an entry whose key stays but loses its values no longer shows: unsaid", Family::NT,
       [](sim::Machine &m) { sim::FindKey(m, test::kUninstallKey)->undeletable = true; },
       "Complete|Uninstall is Complete|0"},
      {"an entry that still shows, and an INI file that stays", Family::NT,
       [](sim::Machine &m) {
         sim::FindKey(m, test::kUninstallKey)->undeletable = true;
         sim::FindKey(m, test::kUninstallKey)->deniedAccess = KEY_SET_VALUE;
         test::PutCatalog(m, "");
         sim::SetAttributes(m, "C:\\WINDOWS\\QVUninst.ini", FILE_ATTRIBUTE_READONLY);
       },
       "Complete|Uninstall is Complete\n\n" + stayed + "\nLumora\nC:\\WINDOWS\\QVUninst.ini|48"},
      {"the catalog's texts, double-byte ones shown whole", Family::NT,
       [&](sim::Machine &m) {
         test::PutCatalog(m, "[STATIC]\nMSGBOX00=" + kanji + "\nMSGBOX01=" + std::string(255, 'r') +
                                 "\nMSGBOX02=" + kanji + kanji + "\n");
         test::PutWindowsFile(m, "QVFList.ini",
                              "[UNINSTALL]\nPATH=" + dir + "\n[FILES]\nFILE00=C:\\WINDOWS\\QVMon.dll\n");
         sim::AddFile(m, "C:\\WINDOWS\\QVMon.dll");
         sim::Lock(m, "C:\\WINDOWS\\QVMon.dll", sim::InUse::Loaded);
         runFromElsewhere(m);
         sim::AddFile(m, dir + "\\" + kanji);
       },
       "Complete|" + kanji + "\n\n" + std::string(255, 'r') + "\n\n" + kanji + kanji + "\n" + dir + "|48"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = InstalledMachine(row.family);
    m.codePage = 932;
    if (row.arrange) row.arrange(m);
    m.answers = {IDYES};
    EXPECT_EQ(test::RunUninstaller(m), 1);
    EXPECT_EQ(Boxes(m).back(), row.box);
  }
}

}  // namespace
