/* Keeps a top-level window with a given title (and class) open until it is
 * ended: a product wizard that is on the screen.
 * Usage: qvwindow.exe TITLE [CLASS] */
#include <stdlib.h>
#include <windows.h>

static LRESULT CALLBACK KeeperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  const char *title = __argc > 1 ? __argv[1] : "";
  const char *className = __argc > 2 && __argv[2][0] ? __argv[2] : "QVWindowKeeper";
  WNDCLASSA windowClass;
  HWND window;
  MSG message;
  (void)previous;
  (void)commandLine;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.lpfnWndProc = KeeperProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = className;
  if (!RegisterClassA(&windowClass)) return 2;
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
