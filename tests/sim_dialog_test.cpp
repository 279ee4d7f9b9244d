// The stand-in's dialog manager and progress bar: the template as the
// resource script defines it, the modal call without a message loop, and the
// bar's range, step and position rules.
#include <gtest/gtest.h>

#include <functional>

#include "harness.h"

namespace {

std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> script;
std::vector<UINT> laterMessages;  // what the procedure got after WM_INITDIALOG began

INT_PTR CALLBACK ScriptedProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return script ? script(dialog, message, wParam, lParam) : 0;
}

// Opens template `id` with a procedure that runs `onInit` and then ends the
// dialog with 7 (unless told not to end it), the common controls registered
// first (unless told not to); gives DialogBoxParamA's result.
INT_PTR OpenDialog(sim::Machine &m, int id, const std::function<void(HWND)> &onInit, bool end = true,
                   bool initCommonControls = true) {
  INT_PTR result = 0;
  script = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message != WM_INITDIALOG) {
      laterMessages.push_back(message);
      return 1;
    }
    if (onInit) onInit(dialog);
    if (end) EndDialog(dialog, 7);
    return 0;
  };
  test::RunInProcess(m, [&] {
    if (initCommonControls) InitCommonControls();
    result = DialogBoxParamA(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle), MAKEINTRESOURCEA(id), nullptr,
                             ScriptedProc, 42);
    return 0;
  });
  script = nullptr;
  return result;
}

TEST(SimDialog, BuildsTemplate102FromTheResourceScript) {
  sim::Machine m = test::NewMachine();
  INT_PTR result = OpenDialog(m, 102, nullptr);
  ASSERT_EQ(m.dialogs.size(), 1u);
  const sim::DialogRecord &d = m.dialogs[0];
  EXPECT_EQ(result, 7);
  EXPECT_EQ(d.templateId, 102);
  EXPECT_EQ(d.initParam, 42);
  EXPECT_EQ(d.style, 0x900008C4u);
  EXPECT_EQ(d.exStyle, 0u);
  EXPECT_EQ((std::vector<int>{d.x, d.y, d.cx, d.cy}), (std::vector<int>{200, 150, 163, 30}));
  EXPECT_EQ(d.fontPointSize, 9);
  // ＭＳ Ｐゴシック in code page 932.
  EXPECT_EQ(d.fontName, "\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e");
  EXPECT_EQ(d.caption, "");
  ASSERT_EQ(d.controls.size(), 1u);
  const sim::DialogRecord::Control &bar = d.controls[0];
  EXPECT_EQ(bar.className, "msctls_progress32");
  EXPECT_EQ(bar.text, "Progress1");
  EXPECT_EQ(bar.id, 1000);
  EXPECT_EQ(bar.style, 0x50800000u);
  EXPECT_EQ((std::vector<int>{bar.x, bar.y, bar.cx, bar.cy}), (std::vector<int>{7, 7, 149, 16}));
  EXPECT_TRUE(d.ended);
  EXPECT_FALSE(d.visible);
}

TEST(SimDialog, ModalCallWithoutAMessageLoop) {
  const struct {
    const char *label;
    int id;
    bool end;
    INT_PTR result;
    size_t dialogs;
    bool initCommonControls = true;
    DWORD error = 0;
  } cases[] = {
      {"ended during WM_INITDIALOG: its result", 102, true, 7, 1},
      {"not ended: -1, no loop to wait in", 102, false, -1, 1},
      {"unknown template: -1, nothing created", 555, true, -1, 0, true, 1814},
      {"the progress bar's class not registered: -1, nothing created", 102, true, -1, 0, false, 1407},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    sim::Machine m = test::NewMachine();
    EXPECT_EQ(OpenDialog(m, c.id, nullptr, c.end, c.initCommonControls), c.result);
    EXPECT_EQ(m.dialogs.size(), c.dialogs);
    if (c.error) {
      EXPECT_EQ(m.lastError, c.error);
    }
  }
}

TEST(SimDialog, ControlsAndMessagesReachTheRightWindow) {
  sim::Machine m = test::NewMachine();
  HWND bar = nullptr, unknown = reinterpret_cast<HWND>(1);
  LRESULT commandResult = -1;
  bool visibleDuringInit = false;
  laterMessages.clear();
  OpenDialog(m, 102, [&](HWND dialog) {
    bar = GetDlgItem(dialog, 1000);
    unknown = GetDlgItem(dialog, 1001);
    ShowWindow(dialog, SW_SHOWNORMAL);
    visibleDuringInit = m.dialogs[0].visible;
    commandResult = SendMessageA(dialog, WM_COMMAND, 1000, 0);
    EXPECT_EQ(laterMessages, std::vector<UINT>{WM_COMMAND});  // synchronously, before SendMessageA returned
  });
  EXPECT_EQ(reinterpret_cast<uintptr_t>(bar), sim::kDialogBase + 1);
  EXPECT_EQ(unknown, nullptr);
  EXPECT_TRUE(visibleDuringInit);
  EXPECT_EQ(commandResult, 0);  // a dialog's message result, never set
}

TEST(SimProgressBar, KeepsRangeStepAndPositionAsTheControlDoes) {
  const struct {
    const char *label;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    int min, max, step, position;
  } steps[] = {
      {"defaults come back packed", PBM_SETRANGE, 0, MAKELPARAM(0, 3), MAKELPARAM(0, 100), 0, 3, 10, 0},
      {"step size", PBM_SETSTEP, 1, 0, 10, 0, 3, 1, 0},
      {"step 1", PBM_STEPIT, 0, 0, 0, 0, 3, 1, 1},
      {"step 2", PBM_STEPIT, 0, 0, 1, 0, 3, 1, 2},
      {"step to the maximum", PBM_STEPIT, 0, 0, 2, 0, 3, 1, 3},
      {"past the maximum starts over", PBM_STEPIT, 0, 0, 3, 0, 3, 1, 0},
      {"position is kept within the range", PBM_SETPOS, 9, 0, 0, 0, 3, 1, 3},
      {"delta is kept within the range", PBM_DELTAPOS, static_cast<WPARAM>(-5), 0, 3, 0, 3, 1, 0},
      {"get position", PBM_GETPOS, 0, 0, 0, 0, 3, 1, 0},
      {"16-bit range: 70000 keeps its low word", PBM_SETRANGE, 0, MAKELPARAM(0, 70000 & 0xFFFF),
       MAKELPARAM(0, 3), 0, 4464, 1, 0},
      {"32-bit range", PBM_SETRANGE32, 0, 70000, MAKELPARAM(0, 4464), 0, 70000, 1, 0},
      {"position beyond 16 bits' reach", PBM_SETPOS, 600, 0, 0, 0, 70000, 1, 600},
      {"range shrinks under the position", PBM_SETRANGE, 0, MAKELPARAM(0, 0), MAKELPARAM(0, 70000 & 0xFFFF),
       0, 0, 1, 0},
      {"a zero range stays put", PBM_STEPIT, 0, 0, 0, 0, 0, 1, 0},
  };
  sim::Machine m = test::NewMachine();
  int progressCalls = 0;
  m.onProgress = [&](const sim::ProgressBar &) { ++progressCalls; };
  std::vector<LRESULT> results;
  std::vector<sim::ProgressBar> states;
  OpenDialog(m, 102, [&](HWND dialog) {
    HWND bar = GetDlgItem(dialog, 1000);
    for (const auto &s : steps) {
      results.push_back(SendMessageA(bar, s.message, s.wParam, s.lParam));
      states.push_back(m.dialogs[0].bar);
    }
  });
  for (size_t i = 0; i < std::size(steps); ++i) {
    const auto &s = steps[i];
    SCOPED_TRACE(std::to_string(i) + ": " + s.label);
    EXPECT_EQ(results[i], s.result);
    EXPECT_EQ(states[i].rangeMin, s.min);
    EXPECT_EQ(states[i].rangeMax, s.max);
    EXPECT_EQ(states[i].step, s.step);
    EXPECT_EQ(states[i].position, s.position);
  }
  const sim::ProgressBar &bar = m.dialogs[0].bar;
  EXPECT_EQ(bar.stepItCount, 5);
  EXPECT_EQ(bar.messages.size(), std::size(steps));
  EXPECT_EQ(bar.messages[0], "PBM_SETRANGE 0 0x00030000");
  EXPECT_EQ(progressCalls, static_cast<int>(std::size(steps)) - 1);  // all but the read
}

}  // namespace
