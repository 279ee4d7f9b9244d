// The progress dialog: one bar, no buttons, no caption. It runs the removal
// from within its own initialisation, through a command it sends itself, and
// ends itself as soon as the removal returns, so it never waits for input.
#include "../removal/removal.h"
#include "control.h"

HWND progressBar;

namespace {
int removalHasRun;

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
    removalHasRun = 1;
    EndDialog(dialog, 1);
    return 1;
  }
  return 0;
}

// A dialog that can't be created (on 95/98 when the USER heap is exhausted,
// say) runs nothing: the removal then runs without it, so that the
// completion that follows is true.
void RunRemovalBehindProgressDialog(void) {
  removalHasRun = 0;
  InitCommonControls();
  DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(kProgressDialogId), NULL, ProgressDlgProc, 0);
  if (!removalHasRun) RunRemovalSequence();
}
