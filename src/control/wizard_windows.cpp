// Finds one of the product's wizards on the screen by the beginning of its
// window title (or class name): the first top-level window in Z order, the
// topmost one included, whose text starts with the search text exactly.
#include "../common/text.h"
#include "control.h"

namespace {
// A title or class name of up to 255 characters; longer ones are compared by
// their first 255, which is more than any search text holds.
enum { kWindowTextSize = 256 };

// The window's title or class name, at most 255 characters; "" when it has none.
void FetchWindowText(HWND window, int mode, char *text, int capacity) {
  text[0] = 0;
  if (mode == kClassNameMode)
    GetClassNameA(window, text, capacity);
  else
    GetWindowTextA(window, text, capacity);
}

}  // namespace

// An empty search text finds nothing: an empty catalog text must not make
// every run refuse.
HWND FindWindowByTitlePrefix(const char *searchText, int mode) {
  TextSize length = TextLength(searchText);
  if (length == 0) return NULL;
  char text[kWindowTextSize];
  for (HWND window = GetTopWindow(GetDesktopWindow()); window; window = GetWindow(window, GW_HWNDNEXT)) {
    FetchWindowText(window, mode, text, sizeof text);
    if (ComparePrefix(text, searchText, length) == 0) return window;
  }
  return NULL;
}
