// The removal plan: the install-path chain built from [UNINSTALL] PATH and
// the step count (chain nodes plus [FILES] entries).
#include <gtest/gtest.h>

#include "harness.h"
#include "removal/removal.h"

namespace {

struct Plan {
  std::vector<std::string> nodes;  // head to tail
  bool linksAgree = true;          // prev, next, head and tail all consistent
  DWORD steps = 0;
};

// Builds the plan in a process and reads the chain before the process ends.
Plan BuildPlan(sim::Machine &m) {
  Plan plan;
  test::RunInProcess(m, [&] {
    BuildRemovalPlan();
    PathNode *previous = nullptr;
    for (PathNode *node = head; node; node = node->next) {
      plan.nodes.push_back(node->path);
      if (node->prev != previous) plan.linksAgree = false;
      previous = node;
    }
    if (tail != previous) plan.linksAgree = false;
    plan.steps = stepCount;
    return 0;
  });
  return plan;
}

const std::string kTable = "\x95\x5C";  // 表 in code page 932: its trail byte is a backslash

TEST(RemovalPlan, ChainHoldsEveryPrefixAfterTheFirstComponent) {
  const std::string a124(124, 'a'), a125(125, 'a'), a100(100, 'a'), b30(30, 'b'), x130(130, 'x');
  const struct {
    const char *label;
    UINT codePage;
    std::string uninstall;  // [UNINSTALL] section body
    std::vector<std::string> nodes;
  } cases[] = {
      {"drive path",
       1252,
       "PATH=C:\\Tools\\Mail\\Print",
       {"C:\\Tools", "C:\\Tools\\Mail", "C:\\Tools\\Mail\\Print"}},
      {"doubled and trailing backslashes change nothing",
       1252,
       "PATH=C:\\\\Tools\\Mail\\\\Print\\",
       {"C:\\Tools", "C:\\Tools\\Mail", "C:\\Tools\\Mail\\Print"}},
      {"UNC path: the share is the root and the nodes keep their leading backslashes",
       1252,
       "PATH=\\\\server\\share\\dir\\sub",
       {"\\\\server\\share\\dir", "\\\\server\\share\\dir\\sub"}},
      {"UNC share alone", 1252, "PATH=\\\\server\\share", {}},
      {"UNC server alone", 1252, "PATH=\\\\server", {}},
      {"rooted path: no full path, no chain", 1252, "PATH=\\Tools\\Mail", {}},
      {"relative path", 1252, "PATH=Tools\\Mail", {}},
      {"drive-relative path", 1252, "PATH=C:Tools\\Mail", {}},
      {"one component", 1252, "PATH=C:", {}},
      {"one component with a backslash", 1252, "PATH=C:\\", {}},
      {"empty value", 1252, "PATH=", {}},
      {"missing key", 1252, "OTHER=C:\\Tools", {}},
      {"表 ends a component",
       932,
       "PATH=C:\\" + kTable + "\\Data",
       {"C:\\" + kTable, "C:\\" + kTable + "\\Data"}},
      {"表 inside a component",
       932,
       "PATH=C:\\A" + kTable + "B\\Data",
       {"C:\\A" + kTable + "B", "C:\\A" + kTable + "B\\Data"}},
      {"a prefix of exactly 127 characters fits", 1252, "PATH=C:\\" + a124, {"C:\\" + a124}},
      {"a prefix of 128 characters ends the chain", 1252, "PATH=C:\\" + a125 + "\\x", {}},
      {"the chain ends at the first prefix that does not fit",
       1252,
       "PATH=C:\\" + a100 + "\\" + b30 + "\\c",
       {"C:\\" + a100}},
      {"a first component too long for a node", 1252, "PATH=" + x130 + "\\a", {}},
      {"a value cut by its read is left alone", 1252, "PATH=C:\\Tools\\" + std::string(300, 'p'), {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine(sim::Family::NT, c.codePage);
    test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\n" + c.uninstall + "\n[FILES]\nFILE00=a\nFILE01=b\n");
    Plan plan = BuildPlan(m);
    EXPECT_EQ(plan.nodes, c.nodes);
    EXPECT_TRUE(plan.linksAgree);
    EXPECT_EQ(plan.steps, c.nodes.size() + 2);
  }
}

TEST(RemovalPlan, CountsFilesUpToTheFirstGap) {
  std::string hundredAndOne;
  for (int i = 0; i <= 100; ++i) hundredAndOne += (i < 10 ? "FILE0" : "FILE") + std::to_string(i) + "=f\n";
  const struct {
    const char *label;
    std::string files;  // [FILES] body; "" for no manifest at all
    DWORD steps;
  } cases[] = {
      {"no manifest", "", 0},
      {"a gap ends the list", "FILE00=a\nFILE01=b\nFILE03=d\n", 2},
      {"FILE00 missing: nothing counts", "FILE01=b\n", 0},
      {"an empty FILE00 ends the list too", "FILE00=\nFILE01=b\n", 0},
      {"FILE99 is followed by FILE100", hundredAndOne, 101},
      {"a value longer than 127 characters counts once", "FILE00=" + std::string(200, 'f') + "\n", 1},
      {"a value cut by any read still counts", "FILE00=" + std::string(400, 'f') + "\nFILE01=g\n", 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine();
    if (!c.files.empty()) test::PutWindowsFile(m, "QVFList.ini", "[FILES]\n" + c.files);
    EXPECT_EQ(BuildPlan(m).steps, c.steps);
  }
}

TEST(RemovalPlan, FailedAllocationEndsTheRunWithItsFixedMessage) {
  for (int skip : {0, 1}) {
    SCOPED_TRACE("allocations before the failure: " + std::to_string(skip));
    sim::Machine m = test::NewMachine();
    test::PutWindowsFile(m, "QVFList.ini", "[UNINSTALL]\nPATH=C:\\Tools\\Mail\\Print\n");
    sim::FailNext(m, "LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, skip);
    bool returned = false;
    int code = test::RunInProcess(m, [&] {
      BuildRemovalPlan();
      returned = true;
      return 0;
    });
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(returned);
    EXPECT_EQ(test::Boxes(m), std::vector<std::string>{"(null)|Memory allocation error|0"});
  }
}

}  // namespace
