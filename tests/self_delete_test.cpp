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
  };
  for (const SelfDeleteCase &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::InstalledMachine(c.family);
    m.codePage = c.codePage;
    m.executablePath = c.executable;
    sim::AddFile(m, c.executable, "MZ");
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
