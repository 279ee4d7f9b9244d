// The desktop and its top-level windows in Z order (Machine::windows, topmost
// first), with their titles and class names. Window i of the list has the
// handle kTopWindowBase + i; the desktop is kDesktopWindow.
#include <algorithm>

#include "machine.h"

using sim::Machine;

namespace {
const DWORD kErrorInvalidWindowHandle = 1400;  // ERROR_INVALID_WINDOW_HANDLE
const char kDesktopClass[] = "#32769";

uintptr_t Value(HWND window) { return reinterpret_cast<uintptr_t>(window); }

HWND Handle(uintptr_t value) { return reinterpret_cast<HWND>(value); }

bool IsDesktop(HWND window) { return Value(window) == sim::kDesktopWindow; }

// Index of a top-level window in the Z order, or -1.
long TopIndex(const Machine &m, HWND window) {
  uintptr_t value = Value(window);
  if (value < sim::kTopWindowBase || value >= sim::kTopWindowBase + m.windows.size()) return -1;
  return static_cast<long>(value - sim::kTopWindowBase);
}

HWND TopWindowAt(const Machine &m, long index) {
  if (index < 0 || index >= static_cast<long>(m.windows.size())) return nullptr;
  return Handle(sim::kTopWindowBase + static_cast<uintptr_t>(index));
}

HWND Relative(Machine &m, HWND window, UINT command) {
  long index = TopIndex(m, window);
  if (index < 0 && !IsDesktop(window)) {
    m.lastError = kErrorInvalidWindowHandle;
    return nullptr;
  }
  if (IsDesktop(window)) return command == GW_CHILD ? TopWindowAt(m, 0) : nullptr;
  switch (command) {
    case GW_HWNDFIRST:
      return TopWindowAt(m, 0);
    case GW_HWNDLAST:
      return TopWindowAt(m, static_cast<long>(m.windows.size()) - 1);
    case GW_HWNDNEXT:
      return TopWindowAt(m, index + 1);
    case GW_HWNDPREV:
      return TopWindowAt(m, index - 1);
    default:  // no owners and no children among these windows
      return nullptr;
  }
}

// Copies at most capacity - 1 characters, always terminated; gives the count
// copied. A capacity below 1 writes nothing.
int CopyOut(const std::string &text, LPSTR buffer, int capacity) {
  if (!buffer || capacity < 1) return 0;
  size_t count = std::min(text.size(), static_cast<size_t>(capacity - 1));
  text.copy(buffer, count);
  buffer[count] = 0;
  return static_cast<int>(count);
}

// A window's text or class name; false for a handle that names no window.
bool WindowString(Machine &m, HWND window, bool className, std::string *text) {
  if (IsDesktop(window)) {
    *text = className ? kDesktopClass : "";
    return true;
  }
  long index = TopIndex(m, window);
  if (index < 0) {
    m.lastError = kErrorInvalidWindowHandle;
    return false;
  }
  const sim::TopWindow &top = m.windows[static_cast<size_t>(index)];
  *text = className ? top.className : top.title;
  return true;
}

int FetchString(Machine &m, const char *function, HWND window, LPSTR buffer, int capacity, bool className) {
  int copied = 0;
  std::string text;
  if (!sim::ShouldFail(m, function) && WindowString(m, window, className, &text)) {
    copied = CopyOut(text, buffer, capacity);
    // The class name call reports a buffer it could not use at all.
    if (className && capacity < 1) m.lastError = ERROR_INSUFFICIENT_BUFFER;
  }
  sim::Log(m, function, {sim::Hex(Value(window)), std::to_string(capacity)}, std::to_string(copied));
  return copied;
}
}  // namespace

HWND WINAPI GetDesktopWindow(void) {
  Machine &m = sim::Current();
  sim::Log(m, "GetDesktopWindow", {}, sim::Hex(sim::kDesktopWindow));
  return Handle(sim::kDesktopWindow);
}

// NULL stands for the desktop; a top-level window has no children here.
HWND WINAPI GetTopWindow(HWND hWnd) {
  Machine &m = sim::Current();
  HWND top = nullptr;
  if (!sim::ShouldFail(m, "GetTopWindow"))
    top = Relative(m, hWnd ? hWnd : Handle(sim::kDesktopWindow), GW_CHILD);
  sim::Log(m, "GetTopWindow", {sim::Hex(Value(hWnd))}, sim::Hex(Value(top)));
  return top;
}

HWND WINAPI GetWindow(HWND hWnd, UINT uCmd) {
  Machine &m = sim::Current();
  HWND found = nullptr;
  if (!sim::ShouldFail(m, "GetWindow")) found = Relative(m, hWnd, uCmd);
  sim::Log(m, "GetWindow", {sim::Hex(Value(hWnd)), std::to_string(uCmd)}, sim::Hex(Value(found)));
  return found;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  return FetchString(sim::Current(), "GetWindowTextA", hWnd, lpString, nMaxCount, false);
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
  return FetchString(sim::Current(), "GetClassNameA", hWnd, lpClassName, nMaxCount, true);
}
