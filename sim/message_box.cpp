// Message boxes: each is recorded with owner, text, caption and style, and
// answered by the scripted user. Boxes with a single button are always
// answered with it; only boxes with a choice take a scripted answer.
#include "machine.h"

using sim::Machine;

namespace {
const UINT kTypeMask = 0x0000000F;

bool HasChoice(UINT type) { return (type & kTypeMask) != MB_OK; }

int DefaultAnswer(UINT type) {
  switch (type & kTypeMask) {
    case MB_OK:
      return IDOK;
    case MB_YESNO:
      return IDNO;  // never an unasked Yes
    default:
      return IDCANCEL;
  }
}
}  // namespace

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  Machine &m = sim::Current();
  int answer = 0;
  if (!sim::ShouldFail(m, "MessageBoxA")) {
    sim::MessageBoxRecord box;
    box.owner = hWnd;
    box.text = lpText ? lpText : "";
    box.captionIsNull = lpCaption == nullptr;
    box.caption = lpCaption ? lpCaption : "";
    box.style = uType;
    if (m.answerBox) {
      answer = m.answerBox(box);
    } else if (HasChoice(uType) && !m.answers.empty()) {
      answer = m.answers.front();
      m.answers.pop_front();
    } else {
      answer = DefaultAnswer(uType);
    }
    box.answer = answer;
    m.messageBoxes.push_back(box);
  }
  sim::Log(m, "MessageBoxA",
           {sim::Hex(reinterpret_cast<uintptr_t>(hWnd)), sim::Text(lpText), sim::Text(lpCaption),
            std::to_string(uType)},
           std::to_string(answer));
  return answer;
}
