// The progress dialog: one bar, no buttons, no caption. It runs the removal
// from within its own initialisation, through a command it sends itself, and
// ends itself as soon as the removal returns, so it never waits for input.
#include "../removal/removal.h"
#include "control.h"

HWND progressBar;

namespace {
void PrepareProgressBar(HWND dialog) {
  progressBar = GetDlgItem(dialog, kProgressBarId);
  SendMessageA(progressBar, PBM_SETPOS, 0, 0);
  SendMessageA(progressBar, PBM_SETSTEP, 1, 0);
  ShowWindow(dialog, SW_SHOWNORMAL);
  // The classic range message carries 16 bits: the bar's maximum is the
  // step count's low word.
  SendMessageA(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, LOWORD(stepCount)));
}
}  // namespace

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  if (message == WM_INITDIALOG) {
    PrepareProgressBar(dialog);
    SendMessageA(dialog, WM_COMMAND, kProgressBarId, 0);
    return 0;  // no keyboard focus to set
  }
  if (message == WM_COMMAND && LOWORD(wParam) == kProgressBarId) {
    RunRemovalSequence();
    EndDialog(dialog, 1);
    return 1;
  }
  return 0;
}
