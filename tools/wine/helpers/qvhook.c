/* Hook library the driver installs for every thread of the session. Inside
 * the uninstaller it tags each dialog, once initialised, with what only that
 * process can tell: which system icon a message box shows (an icon handle
 * means nothing in another process), the version GetVersion gives there and
 * the ANSI code page its texts are in. */
#include <windows.h>

#define MESSAGE_BOX_ICON_ID 0x440

static UINT IconStyleOf(HICON shown) {
  static const struct {
    LPCSTR icon;
    UINT style;
  } kIcons[] = {{IDI_HAND, MB_ICONHAND},
                {IDI_QUESTION, MB_ICONQUESTION},
                {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                {IDI_ASTERISK, MB_ICONASTERISK}};
  size_t i;
  if (!shown) return 0;
  for (i = 0; i < sizeof kIcons / sizeof kIcons[0]; ++i)
    if (LoadIconA(NULL, kIcons[i].icon) == shown) return kIcons[i].style;
  return MB_USERICON;
}

static void TagDialog(HWND dialog) {
  char className[16];
  HWND icon;
  if (!GetClassNameA(dialog, className, sizeof className) || lstrcmpA(className, "#32770") != 0) return;
  icon = GetDlgItem(dialog, MESSAGE_BOX_ICON_ID);
  if (icon) {
    HICON shown = (HICON)SendMessageA(icon, STM_GETICON, 0, 0);
    /* Offset by 0x10000 so that "no icon" is told apart from "no tag". */
    SetPropA(dialog, "QVBoxIcon", (HANDLE)(ULONG_PTR)(0x10000 | IconStyleOf(shown)));
  }
  SetPropA(dialog, "QVVersion", (HANDLE)(ULONG_PTR)GetVersion());
  SetPropA(dialog, "QVCodePage", (HANDLE)(ULONG_PTR)GetACP());
}

__declspec(dllexport) LRESULT CALLBACK QVCallWndRetProc(int code, WPARAM wParam, LPARAM lParam) {
  const CWPRETSTRUCT *call = (const CWPRETSTRUCT *)lParam;
  if (code == HC_ACTION && call && call->message == WM_INITDIALOG) TagDialog(call->hwnd);
  return CallNextHookEx(NULL, code, wParam, lParam);
}
