// The stand-in's restart: the delete commands a run started, then the
// entries pending deletion at restart, carried out as the platform does.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using Outcomes = std::vector<std::pair<std::string, std::string>>;  // path, outcome

Outcomes Restarted(sim::Machine &m) {
  Outcomes outcomes;
  for (const sim::RestartEntry &entry : sim::Restart(m)) outcomes.push_back({entry.path, entry.outcome});
  return outcomes;
}

// C:\App (alias APPDIR~1) holds the running executable and an empty Sub;
// C:\Busy a locked file; C:\Kept a read-only file.
sim::Machine RestartMachine(sim::Family family = sim::Family::NT, UINT codePage = 1252) {
  sim::Machine m = test::NewMachine(family, codePage);
  m.executablePath = "C:\\App\\Tool.exe";
  sim::AddFile(m, m.executablePath, "MZ");
  sim::AddDirectory(m, "C:\\App\\Sub");
  sim::SetShortName(m, "C:\\App", "APPDIR~1");
  sim::AddFile(m, "C:\\Busy\\open.txt");
  sim::Lock(m, "C:\\Busy\\open.txt");
  sim::AddFile(m, "C:\\Kept\\ro.txt");
  sim::SetAttributes(m, "C:\\Kept\\ro.txt", FILE_ATTRIBUTE_READONLY);
  return m;
}

TEST(SimRestart, CarriesOutPendingEntriesInTheOrderMade) {
  const struct {
    const char *label;
    std::vector<std::string> pending;
    Outcomes outcomes;
    std::vector<std::string> gone, kept;
  } cases[] = {
      {"the running executable, then its emptied folders",
       {"C:\\App\\Tool.exe", "C:\\App\\Sub", "C:\\App"},
       {{"C:\\App\\Tool.exe", "deleted"}, {"C:\\App\\Sub", "removed"}, {"C:\\App", "removed"}},
       {"C:\\App"},
       {}},
      {"a folder before what it holds stays",
       {"C:\\App", "C:\\App\\Tool.exe"},
       {{"C:\\App", "kept (not empty)"}, {"C:\\App\\Tool.exe", "deleted"}},
       {"C:\\App\\Tool.exe"},
       {"C:\\App\\Sub"}},
      {"letter case and a trailing backslash aside",
       {"c:\\app\\TOOL.EXE", "c:\\APP\\sub\\"},
       {{"c:\\app\\TOOL.EXE", "deleted"}, {"c:\\APP\\sub\\", "removed"}},
       {"C:\\App\\Tool.exe", "C:\\App\\Sub"},
       {"C:\\App"}},
      {"nothing is in use at the start",
       {"C:\\Busy\\open.txt", "C:\\Busy"},
       {{"C:\\Busy\\open.txt", "deleted"}, {"C:\\Busy", "removed"}},
       {"C:\\Busy"},
       {"C:\\App\\Tool.exe"}},
      {"what is not there, and a drive root",
       {"C:\\Nothing", "C:\\"},
       {{"C:\\Nothing", "missing"}, {"C:\\", "kept (a drive root)"}},
       {},
       {"C:\\App\\Tool.exe", "C:\\Busy\\open.txt"}},
      {"aliases name what they alias",
       {"C:\\APPDIR~1\\Tool.exe", "c:\\appdir~1\\sub", "C:\\APPDIR~1"},
       {{"C:\\APPDIR~1\\Tool.exe", "deleted"}, {"c:\\appdir~1\\sub", "removed"}, {"C:\\APPDIR~1", "removed"}},
       {"C:\\App"},
       {}},
      {"a read-only file is kept, and so its folder",
       {"C:\\Kept\\ro.txt", "C:\\Kept"},
       {{"C:\\Kept\\ro.txt", "kept (read-only)"}, {"C:\\Kept", "kept (not empty)"}},
       {},
       {"C:\\Kept\\ro.txt"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = RestartMachine();
    m.pendingDeletes = c.pending;
    EXPECT_EQ(Restarted(m), c.outcomes);
    for (const std::string &path : c.gone) EXPECT_FALSE(sim::Exists(m, path)) << path;
    for (const std::string &path : c.kept) EXPECT_TRUE(sim::Exists(m, path)) << path;
    EXPECT_TRUE(m.pendingDeletes.empty());
    for (const auto &entry : m.files) EXPECT_EQ(entry.second.inUse, sim::InUse::No) << entry.second.path;
  }
}

TEST(SimRestart, RunsTheDeleteCommandsTheRunStarted) {
  const struct {
    const char *label;
    std::string commandLine;
    std::string path;  // as the entry names it
    std::string outcome;
    std::string gone;
  } cases[] = {
      {"a quoted path: the running executable, no longer in use", "command.com /c del \"C:\\App\\Tool.exe\"",
       "C:\\App\\Tool.exe", "deleted", "C:\\App\\Tool.exe"},
      {"the interpreter's name and switch in any case", "COMMAND.COM /C DEL \"C:\\App\\Tool.exe\"",
       "C:\\App\\Tool.exe", "deleted", "C:\\App\\Tool.exe"},
      {"one word needs no quotes", "command.com /c del C:\\App\\Tool.exe", "C:\\App\\Tool.exe", "deleted",
       "C:\\App\\Tool.exe"},
      {"blanks without quotes are several names", "command.com /c del C:\\My App\\Tool.exe",
       "command.com /c del C:\\My App\\Tool.exe", "refused (not one name)", ""},
      {"a quote left open", "command.com /c del \"C:\\App\\Tool.exe",
       "command.com /c del \"C:\\App\\Tool.exe", "refused (not one name)", ""},
      {"a file another program holds", "command.com /c del \"C:\\Busy\\open.txt\"", "C:\\Busy\\open.txt",
       "kept (in use)", ""},
      {"a directory", "command.com /c del \"C:\\App\\Sub\"", "C:\\App\\Sub", "kept (a directory)", ""},
      {"nothing of that name", "command.com /c del \"C:\\App\\None.exe\"", "C:\\App\\None.exe", "missing",
       ""},
      {"another program", "notepad.exe C:\\App\\Tool.exe", "notepad.exe C:\\App\\Tool.exe", "not simulated",
       ""},
      {"by its alias", "command.com /c del C:\\APPDIR~1\\Tool.exe", "C:\\APPDIR~1\\Tool.exe", "deleted",
       "C:\\App\\Tool.exe"},
      {"del leaves a read-only file", "command.com /c del C:\\Kept\\ro.txt", "C:\\Kept\\ro.txt",
       "kept (read-only)", ""},
      {"a name with a byte the OEM code page reads as another character",
       "command.com /c del \"C:\\Caf\xE9\\x.txt\"", "C:\\Caf\xE9\\x.txt", "missing", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = RestartMachine();
    sim::AddFile(m, "C:\\Caf\xE9\\x.txt");
    size_t files = m.files.size();
    sim::ProcessRecord process;
    process.commandLine = c.commandLine;
    m.processes.push_back(process);
    EXPECT_EQ(Restarted(m), (Outcomes{{c.path, c.outcome}}));
    EXPECT_EQ(m.files.size(), c.gone.empty() ? files : files - 1);
    if (!c.gone.empty()) {
      EXPECT_FALSE(sim::Exists(m, c.gone));
    }
    EXPECT_TRUE(m.processes.empty());
  }
}

// The delete commands run as the uninstaller exits, before the restart.
TEST(SimRestart, DeleteCommandsComeBeforeThePendingEntries) {
  sim::Machine m = RestartMachine();
  m.pendingDeletes = {"C:\\App\\Tool.exe"};
  sim::ProcessRecord process;
  process.commandLine = "command.com /c del \"C:\\App\\Tool.exe\"";
  m.processes.push_back(process);
  EXPECT_EQ(Restarted(m), (Outcomes{{"C:\\App\\Tool.exe", "deleted"}, {"C:\\App\\Tool.exe", "missing"}}));
}

// The 95/98 boot step, after the delete commands: the [rename] lines of
// WININIT.INI, read as a real-mode program reads them (8.3 names only, the
// OEM code page), then the file set aside as WININIT.BAK. C:\App is APPDIR~1,
// holding "Long Name.txt" (LONGNA~1.TXT), OLD.DLL and NEW.DLL.
TEST(SimRestart, TheBootStepCarriesOutWinInit) {
  const std::string kOlder = "[rename]\r\nNUL=C:\\EARLIER.TXT\r\n";
  const struct {
    const char *label;
    sim::Family family;
    UINT codePage;
    std::string ini;
    std::string command;  // a delete command the run started, or ""
    Outcomes outcomes;
    std::vector<std::string> gone, kept;
    std::string oldDll = "old";  // C:\App\OLD.DLL's contents afterwards, when it is there
  } rows[] = {
      {"a file by its short path, whatever the letter case",
       sim::Family::Win9x,
       1252,
       "[rename]\r\nNUL=C:\\APPDIR~1\\LONGNA~1.TXT\r\nnul = c:\\appdir~1\\old.dll\r\n",
       "",
       {{"NUL=C:\\APPDIR~1\\LONGNA~1.TXT", "deleted"}, {"nul=c:\\appdir~1\\old.dll", "deleted"}},
       {"C:\\App\\Long Name.txt", "C:\\App\\OLD.DLL"},
       {"C:\\App\\NEW.DLL"}},
      {"long names are ignored; a long name shaped 8.3 is no DOS name",
       sim::Family::Win9x,
       1252,
       "[Rename]\r\nNUL=C:\\App\\Long Name.txt\r\nNUL=C:\\App\\OLD.DLL\r\n",
       "",
       {{"NUL=C:\\App\\Long Name.txt", "ignored (long name)"}, {"NUL=C:\\App\\OLD.DLL", "missing"}},
       {},
       {"C:\\App\\Long Name.txt", "C:\\App\\OLD.DLL"}},
      {"a directory, a read-only file, nothing of that name",
       sim::Family::Win9x,
       1252,
       "[rename]\r\nNUL=C:\\APPDIR~1\r\nNUL=C:\\KEPT\\RO.TXT\r\nNUL=C:\\APPDIR~1\\NONE.TXT\r\n",
       "",
       {{"NUL=C:\\APPDIR~1", "kept (a directory)"},
        {"NUL=C:\\KEPT\\RO.TXT", "kept (read-only)"},
        {"NUL=C:\\APPDIR~1\\NONE.TXT", "missing"}},
       {},
       {"C:\\App", "C:\\Kept\\ro.txt"}},
      {"what was in use during the run goes",
       sim::Family::Win9x,
       1252,
       "[rename]\nNUL=C:\\BUSY\\OPEN.TXT\n",
       "",
       {{"NUL=C:\\BUSY\\OPEN.TXT", "deleted"}},
       {"C:\\Busy\\open.txt"},
       {}},
      {"OEM 437 reads 0xC9 as another letter",
       sim::Family::Win9x,
       1252,
       "[rename]\r\nNUL=C:\\CAF\xC9\\X.TXT\r\n",
       "",
       {{"NUL=C:\\CAF\xC9\\X.TXT", "missing"}},
       {},
       {"C:\\CAF\xC9\\X.TXT"}},
      {"a 932 name whose trail byte is a backslash",
       sim::Family::Win9x,
       932,
       "[rename]\r\nNUL=C:\\\x95\x5C\\X.TXT\r\n",
       "",
       {{"NUL=C:\\\x95\x5C\\X.TXT", "deleted"}},
       {"C:\\\x95\x5C\\X.TXT"},
       {"C:\\\x95\x5C"}},
      {"a rename replaces the destination",
       sim::Family::Win9x,
       1252,
       "[rename]\r\nC:\\APPDIR~1\\OLD.DLL=C:\\APPDIR~1\\NEW.DLL\r\n",
       "",
       {{"C:\\APPDIR~1\\OLD.DLL=C:\\APPDIR~1\\NEW.DLL", "renamed"}},
       {"C:\\App\\NEW.DLL"},
       {"C:\\App\\OLD.DLL"},
       "new"},
      {"a rename moves to another folder; a missing source",
       sim::Family::Win9x,
       1252,
       "[rename]\r\nC:\\KEPT\\MOVED.DLL=C:\\APPDIR~1\\NEW.DLL\r\nC:\\KEPT\\A.DLL=C:\\APPDIR~1\\NONE.DLL\r\n",
       "",
       {{"C:\\KEPT\\MOVED.DLL=C:\\APPDIR~1\\NEW.DLL", "renamed"},
        {"C:\\KEPT\\A.DLL=C:\\APPDIR~1\\NONE.DLL", "missing"}},
       {"C:\\App\\NEW.DLL"},
       {"C:\\Kept\\MOVED.DLL"}},
      {"other sections, comments and lines without '=' are no operations",
       sim::Family::Win9x,
       1252,
       "[CombineVxDs]\r\nNUL=C:\\APPDIR~1\\OLD.DLL\r\n[rename]\r\n;NUL=C:\\APPDIR~1\\NEW.DLL\r\nNUL\r\n",
       "",
       {},
       {},
       {"C:\\App\\OLD.DLL", "C:\\App\\NEW.DLL"}},
      {"after the delete commands",
       sim::Family::Win9x,
       1252,
       "[rename]\r\nNUL=C:\\APPDIR~1\\OLD.DLL\r\n",
       "command.com /c del C:\\APPDIR~1\\OLD.DLL",
       {{"C:\\APPDIR~1\\OLD.DLL", "deleted"}, {"NUL=C:\\APPDIR~1\\OLD.DLL", "missing"}},
       {"C:\\App\\OLD.DLL"},
       {}},
      {"the NT family never reads it",
       sim::Family::NT,
       1252,
       "[rename]\r\nNUL=C:\\APPDIR~1\\OLD.DLL\r\n",
       "",
       {},
       {},
       {"C:\\App\\OLD.DLL", "C:\\WINDOWS\\WININIT.INI"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = RestartMachine(row.family, row.codePage);
    sim::AddFile(m, "C:\\App\\Long Name.txt");
    sim::SetShortName(m, "C:\\App\\Long Name.txt", "LONGNA~1.TXT");
    sim::AddFile(m, "C:\\App\\OLD.DLL", "old");
    sim::AddFile(m, "C:\\App\\NEW.DLL", "new");
    for (const char *path : {"C:\\Kept", "C:\\Kept\\ro.txt", "C:\\Busy", "C:\\Busy\\open.txt"})
      sim::SetShortName(m, path, sim::Fold(m, std::string(path).substr(std::string(path).rfind('\\') + 1)));
    sim::AddFile(m, row.codePage == 932 ? "C:\\\x95\x5C\\X.TXT" : "C:\\CAF\xC9\\X.TXT");
    test::PutWindowsFile(m, "WININIT.BAK", kOlder);
    test::PutWindowsFile(m, "WININIT.INI", row.ini);
    if (!row.command.empty()) {
      sim::ProcessRecord process;
      process.commandLine = row.command;
      m.processes.push_back(process);
    }
    EXPECT_EQ(Restarted(m), row.outcomes);
    for (const std::string &path : row.gone) EXPECT_FALSE(sim::Exists(m, path)) << path;
    for (const std::string &path : row.kept) EXPECT_TRUE(sim::Exists(m, path)) << path;
    const bool processed = row.family == sim::Family::Win9x;
    EXPECT_EQ(sim::Exists(m, "C:\\WINDOWS\\WININIT.INI"), !processed);
    EXPECT_EQ(m.files[sim::FoldPath(m, "C:\\WINDOWS\\WININIT.BAK")].data, processed ? row.ini : kOlder);
    if (sim::Exists(m, "C:\\App\\OLD.DLL")) {
      EXPECT_EQ(m.files[sim::FoldPath(m, "C:\\App\\OLD.DLL")].data, row.oldDll);
    }
  }
}

// A delete command is a DOS program: on 95/98 its tail (all after
// "command.com") holds 126 characters and any more are cut, so the name it
// reads is cut too; it reads its bytes through the OEM code page.
TEST(SimRestart, TheDeleteCommandReadsWhatADosProgramGets) {
  const std::string kPrefix = "command.com /c del ";                    // 8 characters of tail, then the name
  const std::string kFits = "C:\\" + std::string(109, 'a') + ".txt";    // a quoted tail of 126
  const std::string kLonger = "C:\\" + std::string(110, 'a') + ".txt";  // 127
  const struct {
    const char *label;
    sim::Family family;
    UINT codePage;
    std::string name;
    std::string outcome;
  } rows[] = {
      {"a tail of 126 fits", sim::Family::Win9x, 1252, kFits, "deleted"},
      {"a tail of 127 is cut: its closing quote goes", sim::Family::Win9x, 1252, kLonger,
       "refused (not one name)"},
      {"no such limit on NT", sim::Family::NT, 1252, kLonger, "deleted"},
      {"OEM 437 reads 0xE9 as another letter", sim::Family::Win9x, 1252, "C:\\Caf\xE9.txt", "missing"},
      {"a 932 machine's OEM code page is its ANSI one", sim::Family::Win9x, 932, "C:\\\x95\x5C.txt",
       "deleted"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = RestartMachine(row.family, row.codePage);
    sim::AddFile(m, row.name);
    sim::ProcessRecord process;
    process.commandLine = kPrefix + "\"" + row.name + "\"";
    m.processes.push_back(process);
    std::vector<sim::RestartEntry> entries = sim::Restart(m);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].outcome, row.outcome);
    EXPECT_EQ(sim::Exists(m, row.name), row.outcome != "deleted");
  }
}

// In the at-start mode a delete command runs as it is started, while the
// uninstaller still runs, unless a strict-priority scheduler keeps an idle
// command waiting for a creator above idle.
TEST(SimRestart, AtStartTheDeleteCommandMayRunBeforeTheUninstallerExits) {
  const struct {
    const char *label;
    sim::DeleteCommandRuns mode;
    DWORD ownClass;
    DWORD flags;
    const char *target;
    std::string outcome;  // the command's, as Restart reports it
    bool goneBeforeRestart;
  } rows[] = {
      {"after exit: as ever", sim::DeleteCommandRuns::AfterExit, NORMAL_PRIORITY_CLASS, 0,
       "C:\\App\\Tool.exe", "deleted", false},
      {"at start: the running executable is in use", sim::DeleteCommandRuns::AtStart, NORMAL_PRIORITY_CLASS,
       0, "C:\\App\\Tool.exe", "kept (in use)", false},
      {"at start: any other file goes at once", sim::DeleteCommandRuns::AtStart, NORMAL_PRIORITY_CLASS, 0,
       "C:\\App\\Other.txt", "deleted", true},
      {"idle, from a high-class uninstaller: waits for its exit", sim::DeleteCommandRuns::AtStart,
       HIGH_PRIORITY_CLASS, IDLE_PRIORITY_CLASS, "C:\\App\\Tool.exe", "deleted", false},
      {"idle, from an idle uninstaller: runs at once", sim::DeleteCommandRuns::AtStart, IDLE_PRIORITY_CLASS,
       IDLE_PRIORITY_CLASS, "C:\\App\\Tool.exe", "kept (in use)", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = RestartMachine(sim::Family::Win9x);
    m.deleteCommandRuns = row.mode;
    sim::AddFile(m, "C:\\App\\Other.txt");
    std::string commandLine = std::string("command.com /c del \"") + row.target + "\"";
    test::RunInProcess(m, [&] {
      SetPriorityClass(GetCurrentProcess(), row.ownClass);
      STARTUPINFOA startup = {};
      PROCESS_INFORMATION started = {};
      CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, row.flags, NULL, NULL, &startup, &started);
      CloseHandle(started.hThread);
      CloseHandle(started.hProcess);
      return 0;
    });
    EXPECT_EQ(!sim::Exists(m, row.target), row.goneBeforeRestart);
    EXPECT_EQ(Restarted(m), (Outcomes{{row.target, row.outcome}}));
  }
}

}  // namespace
