// The bounded text helpers every path and name is written through: a result
// that doesn't fit whole is reported and never left cut in the buffer; and
// DirectoryContains, which compares as the platform compares names in its
// ANSI code page.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <string>

#include "common/paths.h"
#include "harness.h"

namespace {

TEST(Text, CopyAndFormatGiveTheWholeResultOrNone) {
  const std::string untouched(15, '#');
  const struct {
    const char *label;
    TextSize capacity;
    std::function<int(char *, TextSize)> write;
    int whole;
    std::string text;
  } rows[] = {
      {"copy, no room at all", 0, [](char *d, TextSize c) { return CopyTextWhole(d, c, "abc"); }, 0,
       untouched},
      {"copy, no room even for an empty text", 0, [](char *d, TextSize c) { return CopyTextWhole(d, c, ""); },
       0, untouched},
      {"copy, room for the terminator only", 1, [](char *d, TextSize c) { return CopyTextWhole(d, c, ""); },
       1, ""},
      {"copy, one character too many", 3, [](char *d, TextSize c) { return CopyTextWhole(d, c, "abc"); }, 0,
       ""},
      {"copy, an exact fit", 4, [](char *d, TextSize c) { return CopyTextWhole(d, c, "abc"); }, 1, "abc"},
      {"format, no room at all", 0, [](char *d, TextSize c) { return FormatTextWhole(d, c, "%s", "x"); }, 0,
       untouched},
      {"format, one character too many", 3,
       [](char *d, TextSize c) { return FormatTextWhole(d, c, "%s\\%s", "a", "b"); }, 0, ""},
      {"format, an exact fit", 4,
       [](char *d, TextSize c) { return FormatTextWhole(d, c, "%s\\%s", "a", "b"); }, 1, "a\\b"},
      {"format, %% is one percent sign", 3,
       [](char *d, TextSize c) { return FormatTextWhole(d, c, "%%%s", "x"); }, 1, "%x"},
      {"format, a NULL text is empty", 3,
       [](char *d, TextSize c) { return FormatTextWhole(d, c, "[%s]", static_cast<const char *>(NULL)); }, 1,
       "[]"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    char buffer[16];
    memset(buffer, '#', sizeof buffer - 1);
    buffer[sizeof buffer - 1] = 0;
    EXPECT_EQ(row.write(buffer, row.capacity), row.whole);
    EXPECT_EQ(std::string(buffer), row.text);
  }
}

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
      {"separators as the platform reads them: a run is one, a forward slash one too", 1252, "C:\\\\Apps\\",
       "C:\\Apps/Bin\\Tool.exe", 1},
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
