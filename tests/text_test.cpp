// DirectoryContains: whether a path lies inside a directory, compared as the
// platform compares names in its ANSI code page.
#include "common/text.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string kTable = "\x95\x5C";   // 表 in code page 932: its trail byte is a backslash
const std::string kA = "\x83\x41";       // a double-byte character whose trail byte is the letter A
const std::string kSmallA = "\x83\x61";  // another one, whose trail byte is the letter a

TEST(Text, DirectoryContainsComparesWholeCharacters) {
  const struct {
    const char *label;
    UINT codePage;
    std::string directory;
    std::string path;
    int contains;
  } cases[] = {
      {"inside", 1252, "C:\\Apps", "C:\\Apps\\Tool.exe", 1},
      {"deeper inside", 1252, "C:\\Apps", "C:\\Apps\\Bin\\Tool.exe", 1},
      {"letter case aside", 1252, "c:\\APPS", "C:\\apps\\Tool.exe", 1},
      {"a name that only begins alike", 1252, "C:\\Apps", "C:\\AppsOld\\Tool.exe", 0},
      {"the path itself", 1252, "C:\\Apps\\Tool.exe", "C:\\Apps\\Tool.exe", 0},
      {"a path shorter than the directory", 1252, "C:\\Apps\\Bin", "C:\\Apps", 0},
      {"another directory", 1252, "C:\\Tools", "C:\\Apps\\Tool.exe", 0},
      {"表 ends the directory", 932, "C:\\" + kTable, "C:\\" + kTable + "\\Tool.exe", 1},
      {"a lone lead byte is not 表's first half", 932, "C:\\\x95", "C:\\" + kTable + "Tool.exe", 0},
      {"the same bytes are two characters in 1252", 1252, "C:\\\x95", "C:\\" + kTable + "Tool.exe", 1},
      {"a trail byte never folds", 932, "C:\\" + kA, "C:\\" + kSmallA + "\\Tool.exe", 0},
      {"in 1252 the same letters fold", 1252, "C:\\" + kA, "C:\\" + kSmallA + "\\Tool.exe", 1},
      {"letters after a double-byte character fold", 932, "C:\\" + kTable + "\\apps",
       "C:\\" + kTable + "\\APPS\\Tool.exe", 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine(sim::Family::NT, c.codePage);
    int contains = -1;
    test::RunInProcess(m, [&] { return contains = DirectoryContains(c.directory.c_str(), c.path.c_str()); });
    EXPECT_EQ(contains, c.contains);
  }
}

}  // namespace
