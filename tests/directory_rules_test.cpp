// The two directory rules: the calls they make, in order, and the time the
// retry rule takes on the virtual clock.
#include <gtest/gtest.h>

#include <functional>

#include "harness.h"
#include "removal/removal.h"

namespace {

const std::string kTable = "\x95\x5C";  // 表 in code page 932: its trail byte is a backslash

// RemoveDirectoryA calls as "path=result".
std::vector<std::string> RemoveCalls(const sim::Machine &m) {
  std::vector<std::string> calls;
  for (const sim::Call &call : sim::CallsTo(m, "RemoveDirectoryA"))
    calls.push_back(call.args[0] + "=" + call.result);
  return calls;
}

// RemoveDirectoryA calls with runs of one path folded: "path x10".
std::vector<std::string> AttemptRuns(const sim::Machine &m) {
  std::vector<std::string> runs;
  std::string last;
  int count = 0;
  auto flush = [&] {
    if (count) runs.push_back(last + " x" + std::to_string(count));
  };
  for (const sim::Call &call : sim::CallsTo(m, "RemoveDirectoryA")) {
    if (count && call.args[0] == last) {
      ++count;
      continue;
    }
    flush();
    last = call.args[0];
    count = 1;
  }
  flush();
  return runs;
}

TEST(DirectoryRules, WalkUpRemovesAncestorsUntilOneStays) {
  const std::string long260 = "C:\\" + std::string(257, 'L');
  const struct {
    const char *label;
    UINT codePage;
    std::function<void(sim::Machine &)> setUp;
    std::string entry;
    std::vector<std::string> calls;
    std::string stays = "";  // a folder of the user's the walk must leave
    std::string inUse = "";  // a file left for the restart before the walk, as the files stage leaves one
  } cases[] = {
      {"C and B empty, A holds more",
       1252,
       [](sim::Machine &m) {
         sim::AddDirectory(m, "C:\\A\\B\\C");
         sim::AddFile(m, "C:\\A\\other.txt");
       },
       "C:\\A\\B\\C",
       {"C:\\A\\B\\C=1", "C:\\A\\B=1", "C:\\A=0"}},
      {"all empty: the walk ends at the first level, never naming the bare drive",
       1252,
       [](sim::Machine &m) { sim::AddDirectory(m, "C:\\A\\B\\C"); },
       "C:\\A\\B\\C",
       {"C:\\A\\B\\C=1", "C:\\A\\B=1", "C:\\A=1"}},
      {"another drive: its bare name would be the user's folder its \"=D:\" variable holds",
       1252,
       [](sim::Machine &m) {
         sim::AddDirectory(m, "D:\\Apps\\Tool");
         sim::AddDirectory(m, "D:\\Users\\Scans");
         m.driveDirectories['D'] = "D:\\Users\\Scans";
       },
       "D:\\Apps\\Tool",
       {"D:\\Apps\\Tool=1", "D:\\Apps=1"},
       "D:\\Users\\Scans"},
      {"a UNC share's root is never named",
       1252,
       [](sim::Machine &) {},
       "\\\\server\\share\\A",
       {"\\\\server\\share\\A=0"}},
      {"a missing leaf does not stop the walk",
       1252,
       [](sim::Machine &m) {
         sim::AddDirectory(m, "C:\\A\\B");
         sim::AddFile(m, "C:\\A\\other.txt");
       },
       "C:\\A\\B\\C",
       {"C:\\A\\B\\C=0", "C:\\A\\B=1", "C:\\A=0"}},
      {"a leaf that holds a file",
       1252,
       [](sim::Machine &m) { sim::AddFile(m, "C:\\A\\B\\C\\f.txt"); },
       "C:\\A\\B\\C",
       {"C:\\A\\B\\C=0", "C:\\A\\B=0"}},
      {"a trailing backslash: the first cut names the same directory, gone by then, and ends the walk",
       1252,
       [](sim::Machine &m) { sim::AddDirectory(m, "C:\\W5\\A\\B"); },
       "C:\\W5\\A\\B\\",
       {"C:\\W5\\A\\B\\=1", "C:\\W5\\A\\B=0"},
       "C:\\W5\\A"},
      {"a trailing backslash on a folder kept for the restart: the walk still ends at the first cut",
       1252,
       [](sim::Machine &m) { sim::AddFile(m, "C:\\W5\\A\\B\\held.dll"); },
       "C:\\W5\\A\\B\\",
       {"C:\\W5\\A\\B\\=0", "C:\\W5\\A\\B=0"},
       "",
       "C:\\W5\\A\\B\\held.dll"},
      {"a trailing backslash on a folder already gone: the walk still ends at the first cut",
       1252,
       [](sim::Machine &m) { sim::AddDirectory(m, "C:\\W5\\A"); },
       "C:\\W5\\A\\B\\",
       {"C:\\W5\\A\\B\\=0", "C:\\W5\\A\\B=0"},
       "C:\\W5\\A"},
      {"folders already gone are passed over: a run cut short took them",
       1252,
       [](sim::Machine &m) { sim::AddDirectory(m, "C:\\A"); },
       "C:\\A\\B\\C",
       {"C:\\A\\B\\C=0", "C:\\A\\B=0", "C:\\A=1"}},
      {"no backslash: a relative name is left alone", 1252, [](sim::Machine &) {}, "Temp", {}},
      {"a drive root is left alone", 1252, [](sim::Machine &) {}, "C:\\", {}},
      {"表 ends a component",
       932,
       [](sim::Machine &m) { sim::AddDirectory(m, "C:\\" + kTable + "\\Data"); },
       "C:\\" + kTable + "\\Data",
       {"C:\\" + kTable + "\\Data=1", "C:\\" + kTable + "=1"}},
      {"表 ends the entry",
       932,
       [](sim::Machine &m) { sim::AddDirectory(m, "C:\\A\\" + kTable); },
       "C:\\A\\" + kTable,
       {"C:\\A\\" + kTable + "=1", "C:\\A=1"}},
      {"an entry longer than the working copy is left alone",
       1252,
       [&](sim::Machine &m) { sim::AddDirectory(m, long260); },
       long260,
       {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine(sim::Family::NT, c.codePage);
    c.setUp(m);
    int result = 0;
    test::RunInProcess(m, [&] {
      if (!c.inUse.empty()) KeepFileForRestart(c.inUse.c_str());
      result = RemoveDirectoryWalkUp(c.entry.c_str());
      return 0;
    });
    EXPECT_EQ(RemoveCalls(m), c.calls);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(m.clockMs, 0u);
    EXPECT_TRUE(sim::IsDirectory(m, m.windowsDirectory));
    if (!c.stays.empty()) {
      EXPECT_TRUE(sim::IsDirectory(m, c.stays));
    }
  }
}

TEST(DirectoryRules, RetryTriesTheEntryAndItsParentTenTimesEach) {
  const std::string root = "C:\\Apps\\Tool\\";
  const std::string long260 = "C:\\" + std::string(257, 'L');
  const struct {
    const char *label;
    UINT codePage;
    std::string entry;
    std::string root;
    std::vector<std::string> runs;
    uint64_t ms;
  } cases[] = {
      {"parent equals ROOT", 1252, "C:\\Apps\\Tool\\Log", root, {"C:\\Apps\\Tool\\Log x10"}, 5000},
      {"parent below ROOT",
       1252,
       "C:\\Apps\\Tool\\Data\\Cache",
       root,
       {"C:\\Apps\\Tool\\Data\\Cache x10", "C:\\Apps\\Tool\\Data x10"},
       10000},
      {"parent differs from ROOT in case",
       1252,
       "C:\\APPS\\Tool\\Log",
       root,
       {"C:\\APPS\\Tool\\Log x10", "C:\\APPS\\Tool x10"},
       10000},
      {"trailing backslash: the parent is the same directory",
       1252,
       "C:\\Apps\\Tool\\Log\\",
       root,
       {"C:\\Apps\\Tool\\Log\\ x10", "C:\\Apps\\Tool\\Log x10"},
       10000},
      {"no backslash: a relative name is left alone", 1252, "Log", root, {}, 0},
      {"a first-level entry: its parent, the bare drive, is never tried",
       1252,
       "D:\\Log",
       root,
       {"D:\\Log x10"},
       5000},
      {"ROOT with two trailing backslashes keeps one",
       1252,
       "C:\\Apps\\Tool\\Log",
       "C:\\Apps\\Tool\\\\",
       {"C:\\Apps\\Tool\\Log x10", "C:\\Apps\\Tool x10"},
       10000},
      {"a rooted entry with no drive is left alone", 1252, "\\Log", "", {}, 0},
      {"empty ROOT: any other parent is tried",
       1252,
       "C:\\X\\Log",
       "",
       {"C:\\X\\Log x10", "C:\\X x10"},
       10000},
      {"ROOT ending in 表 keeps its last byte",
       932,
       "C:\\" + kTable + "\\Log",
       "C:\\" + kTable,
       {"C:\\" + kTable + "\\Log x10"},
       5000},
      {"entry ending in 表: the parent is cut at the real separator",
       932,
       "C:\\X\\" + kTable,
       root,
       {"C:\\X\\" + kTable + " x10", "C:\\X x10"},
       10000},
      {"entry longer than the working copy is left alone", 1252, long260, root, {}, 0},
      {"ROOT longer than its working copy: the entry is left alone", 1252, "C:\\X\\Log", long260, {}, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine(sim::Family::NT, c.codePage);
    // 1 in every case, as for the walk-up rule.
    EXPECT_EQ(
        test::RunInProcess(m, [&] { return RemoveDirectoryWithRetry(c.entry.c_str(), c.root.c_str()); }), 1);
    EXPECT_EQ(AttemptRuns(m), c.runs);
    EXPECT_EQ(m.clockMs, c.ms);
    EXPECT_EQ(sim::CallsTo(m, "Sleep").size(), c.ms / 500);
  }
}

TEST(DirectoryRules, RetryWaitsAfterEveryAttemptEvenOnceTheDirectoryIsGone) {
  sim::Machine m = test::NewMachine();
  sim::AddDirectory(m, "C:\\Apps\\Tool\\Log");
  test::RunInProcess(m, [&] { return RemoveDirectoryWithRetry("C:\\Apps\\Tool\\Log", "C:\\Apps\\Tool\\"); });
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) {
    expected.push_back(std::string("RemoveDirectoryA(C:\\Apps\\Tool\\Log) = ") + (i == 0 ? "1" : "0"));
    expected.push_back("Sleep(500) = ");
  }
  std::vector<std::string> calls;
  for (const sim::Call &call : m.calls)
    if (call.name == "RemoveDirectoryA" || call.name == "Sleep") calls.push_back(call.ToString());
  EXPECT_EQ(calls, expected);
  EXPECT_FALSE(sim::Exists(m, "C:\\Apps\\Tool\\Log"));
  EXPECT_TRUE(sim::Exists(m, "C:\\Apps\\Tool"));
}

}  // namespace
