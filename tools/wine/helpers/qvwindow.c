/* Keeps a top-level window with a given title (and class) open until it is
 * ended: a product wizard that is on the screen. A class that exists already
 * (the dialog class "#32770" among them) is used as it is.
 * Usage: qvwindow.exe TITLE_HEX [CLASS_HEX|-]   (the texts' bytes in hexadecimal) */
#include <stdlib.h>
#include <windows.h>

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* Decodes in place; "-" and anything not hexadecimal give the empty text. */
static char *FromHex(char *hex) {
  int i;
  for (i = 0; hex[2 * i] && hex[2 * i + 1]; ++i) {
    int high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) break;
    hex[i] = (char)(high * 16 + low);
  }
  hex[i] = 0;
  return hex;
}

static LRESULT CALLBACK KeeperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  const char *title = __argc > 1 ? FromHex(__argv[1]) : "";
  const char *given = __argc > 2 ? FromHex(__argv[2]) : "";
  const char *className = given[0] ? given : "QVWindowKeeper";
  WNDCLASSA windowClass;
  HWND window;
  MSG message;
  (void)previous;
  (void)commandLine;
  if (!GetClassInfoA(NULL, className, &windowClass)) {
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = KeeperProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass)) return 2;
  }
  window =
      CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 40, 40, 360, 140, NULL, NULL, instance, NULL);
  if (!window) return 3;
  ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
