// The bounded text helpers every path and name is written through: a result
// that doesn't fit whole is reported and never left cut in the buffer.
#include "common/text.h"

#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <string>

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

}  // namespace
