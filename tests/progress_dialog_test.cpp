// The progress dialog: how it prepares its bar, runs the removal from its
// own initialisation and closes itself.
#include <gtest/gtest.h>

#include "control/control.h"
#include "harness.h"
#include "removal/removal.h"

namespace {

INT_PTR OpenProgressDialog(sim::Machine &m, DWORD steps) {
  INT_PTR result = 0;
  test::RunInProcess(m, [&] {
    stepCount = steps;
    InitCommonControls();
    result = DialogBoxParamA(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle),
                             MAKEINTRESOURCEA(kProgressDialogId), nullptr, ProgressDlgProc, 0);
    return 0;
  });
  return result;
}

TEST(ProgressDialog, RangeIsTheStepCountsLowWord) {
  const struct {
    DWORD steps;
    const char *rangeMessage;
    int max;
  } cases[] = {
      {0, "PBM_SETRANGE 0 0x00000000", 0},         {5, "PBM_SETRANGE 0 0x00050000", 5},
      {65535, "PBM_SETRANGE 0 0xffff0000", 65535}, {65536, "PBM_SETRANGE 0 0x00000000", 0},
      {70000, "PBM_SETRANGE 0 0x11700000", 4464},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("step count " + std::to_string(c.steps));
    sim::Machine m = test::NewMachine();
    EXPECT_EQ(OpenProgressDialog(m, c.steps), 1);
    ASSERT_EQ(m.dialogs.size(), 1u);
    const sim::ProgressBar &bar = m.dialogs[0].bar;
    EXPECT_EQ(bar.messages, (std::vector<std::string>{"PBM_SETPOS 0 0x00000000", "PBM_SETSTEP 1 0x00000000",
                                                      c.rangeMessage}));
    EXPECT_EQ(bar.rangeMin, 0);
    EXPECT_EQ(bar.rangeMax, c.max);
    EXPECT_EQ(bar.step, 1);
  }
}

TEST(ProgressDialog, ShowsItselfThenRunsTheRemovalAndEnds) {
  sim::Machine m = test::NewMachine();
  test::PutWindowsFile(m, "QVFList.ini", "[FILES]\nFILE00=C:\\a.txt\n");
  bool visibleAtFirstStep = false;
  m.onProgress = [&](const sim::ProgressBar &bar) {
    if (bar.stepItCount == 1) visibleAtFirstStep = m.dialogs[0].visible;
  };
  EXPECT_EQ(OpenProgressDialog(m, 1), 1);
  std::vector<std::string> calls;
  for (const sim::Call &call : m.calls) {
    if (call.name == "GetPrivateProfileStringA" || call.name == "wsprintfA" ||
        call.name == "GetWindowsDirectoryA" || call.name == "GetFileAttributesA")
      continue;
    calls.push_back(call.ToString());
  }
  const std::string dialog = sim::Hex(sim::kDialogBase), bar = sim::Hex(sim::kDialogBase + 1);
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "InitCommonControls() = ",
                       "DialogBoxParamA(0x400000, 102, 0x0, proc, 0) = 1",
                       "GetDlgItem(" + dialog + ", 1000) = " + bar,
                       "SendMessageA(" + bar + ", 0x402, 0, 0) = 0",
                       "SendMessageA(" + bar + ", 0x404, 1, 0) = 10",
                       "ShowWindow(" + dialog + ", 1) = 0",
                       "SendMessageA(" + bar + ", 0x401, 0, 65536) = 6553600",
                       "SendMessageA(" + dialog + ", 0x111, 1000, 0) = 0",
                       "DeleteFileA(C:\\a.txt) = 0",
                       "SendMessageA(" + bar + ", 0x405, 0, 0) = 0",
                       "DeleteFileA(C:\\WINDOWS\\QVFList.ini) = 1",
                       "DeleteFileA(C:\\WINDOWS\\QVUninst.ini) = 0",
                       "EndDialog(" + dialog + ", 1) = 1",
                   }));
  EXPECT_TRUE(visibleAtFirstStep);
  EXPECT_TRUE(m.dialogs[0].ended);
  EXPECT_EQ(m.dialogs[0].bar.position, 1);
}

TEST(ProgressDialog, OnlyCommand1000StartsTheRemoval) {
  const struct {
    const char *label;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    INT_PTR result;
    bool runs;
  } cases[] = {
      {"command 1000", WM_COMMAND, 1000, 0, 1, true},
      {"notification code and lParam do not matter", WM_COMMAND, (5u << 16) | 1000, 77, 1, true},
      {"another command", WM_COMMAND, 1001, 0, 0, false},
      {"1000 in the high word only", WM_COMMAND, 1000u << 16, 0, 0, false},
      {"another message", 0x0113 /* WM_TIMER */, 1000, 0, 0, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine();
    INT_PTR result = -1;
    test::RunInProcess(m, [&] {
      result = ProgressDlgProc(reinterpret_cast<HWND>(sim::kDialogBase), c.message, c.wParam, c.lParam);
      return 0;
    });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(sim::CallsTo(m, "EndDialog").size(), c.runs ? 1u : 0u);
    EXPECT_EQ(sim::CallsTo(m, "DeleteFileA").size(), c.runs ? 2u : 0u);  // the two INI files
  }
}

}  // namespace
