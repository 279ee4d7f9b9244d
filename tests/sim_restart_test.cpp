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

// C:\App holds the running executable and an empty Sub; C:\Busy a locked file.
sim::Machine RestartMachine() {
  sim::Machine m = test::NewMachine();
  m.executablePath = "C:\\App\\Tool.exe";
  sim::AddFile(m, m.executablePath, "MZ");
  sim::AddDirectory(m, "C:\\App\\Sub");
  sim::AddFile(m, "C:\\Busy\\open.txt");
  sim::Lock(m, "C:\\Busy\\open.txt");
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
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = RestartMachine();
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

}  // namespace
