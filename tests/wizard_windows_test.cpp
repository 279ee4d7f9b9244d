// FindWindowByTitlePrefix: the first top-level window in Z order, the topmost
// included, whose title (or class name) begins with the search text exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/control.h"
#include "flow_fixtures.h"

namespace {

const char kWizard[] = "Wizard to add E-mail printing Port";

TEST(WizardWindowsTest, TitlePrefixRules) {
  struct Row {
    const char *label;
    std::vector<sim::TopWindow> windows;  // topmost first
    std::string search;
    int mode;
    int found;  // index in the Z order, -1 for none
  };
  const std::string wizard = kWizard;
  const Row rows[] = {
      {"no windows", {}, wizard, kTitleMode, -1},
      {"topmost window is compared", {{wizard, "#32770"}, {"Notepad", "Notepad"}}, wizard, kTitleMode, 0},
      {"title continues after the prefix",
       {{"Notepad", "Notepad"}, {wizard + " - Step 2", "#32770"}},
       wizard,
       kTitleMode,
       1},
      {"prefix not at the start", {{"The " + wizard, "#32770"}}, wizard, kTitleMode, -1},
      {"letter case differs", {{"wizard to add E-mail printing Port", "#32770"}}, wizard, kTitleMode, -1},
      {"title shorter than the search text", {{"Wizard to add", "#32770"}}, wizard, kTitleMode, -1},
      {"higher of two matches wins",
       {{"Notepad", "Notepad"}, {wizard + " (2)", "#32770"}, {wizard + " (1)", "#32770"}},
       wizard,
       kTitleMode,
       1},
      {"title longer than the fetch", {{wizard + std::string(300, '.'), "#32770"}}, wizard, kTitleMode, 0},
      {"empty search text matches nothing", {{"Notepad", "Notepad"}, {"", "Shell"}}, "", kTitleMode, -1},
      {"class-name mode", {{wizard, "#32770"}, {"Other", "QVWizard"}}, "QVWiz", kClassNameMode, 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    sim::Machine m = test::NewMachine();
    m.windows = row.windows;
    HWND found = reinterpret_cast<HWND>(1);
    test::RunInProcess(m, [&] {
      found = FindWindowByTitlePrefix(row.search.c_str(), row.mode);
      return 0;
    });
    HWND expected = row.found < 0 ? nullptr : reinterpret_cast<HWND>(sim::kTopWindowBase + row.found);
    EXPECT_EQ(expected, found);
  }
}

}  // namespace
