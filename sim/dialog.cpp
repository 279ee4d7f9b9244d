// Dialogs and the progress bar. DialogBoxParamA builds a dialog from its
// template in the project's resource script (read at run time, so the script
// stays the one definition), creates its controls (the progress bar's class
// only once InitCommonControls registered it), sends WM_INITDIALOG and, as
// nobody is there to drive a message loop, returns at once. The progress bar
// keeps range, step and position as the common control does and records
// every message.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <utility>

#include "machine.h"

#ifndef QV_RESOURCE_SCRIPT
#error "QV_RESOURCE_SCRIPT must name res/QVUninst.rc"
#endif

namespace sim {

namespace {
const DWORD kErrorResourceNameNotFound = 1814;
const DWORD kErrorInvalidWindowHandle = 1400;
const DWORD kErrorControlIdNotFound = 1421;
const DWORD kErrorCannotFindWindowClass = 1407;
const DWORD kDsNoFailCreate = 0x0010;

// ---- resource script --------------------------------------------------------

struct Token {
  enum Kind { kWord, kNumber, kString, kPunct, kEnd } kind = kEnd;
  std::string text;
  long long number = 0;
};

class Tokenizer {
 public:
  explicit Tokenizer(const std::string &text) : text_(text) {}

  Token Next() {
    SkipBlanks();
    Token token;
    if (at_ >= text_.size()) return token;
    char c = text_[at_];
    if (c == '"') return ReadString();
    if (isdigit(static_cast<unsigned char>(c))) return ReadNumber();
    if (isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t start = at_;
      while (at_ < text_.size() && (isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_'))
        ++at_;
      token.kind = Token::kWord;
      token.text = text_.substr(start, at_ - start);
      return token;
    }
    token.kind = Token::kPunct;
    token.text = std::string(1, c);
    ++at_;
    return token;
  }

 private:
  // Blanks, comments and preprocessor lines (#include, #pragma) carry nothing here.
  void SkipBlanks() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (isspace(static_cast<unsigned char>(c))) {
        ++at_;
      } else if (text_.compare(at_, 2, "//") == 0 || (c == '#' && AtLineStart())) {
        at_ = text_.find('\n', at_);
        if (at_ == std::string::npos) at_ = text_.size();
      } else if (text_.compare(at_, 2, "/*") == 0) {
        at_ = text_.find("*/", at_ + 2);
        at_ = at_ == std::string::npos ? text_.size() : at_ + 2;
      } else {
        return;
      }
    }
  }

  bool AtLineStart() const {
    for (size_t i = at_; i > 0; --i) {
      char c = text_[i - 1];
      if (c == '\n') return true;
      if (c != ' ' && c != '\t') return false;
    }
    return true;
  }

  // A quoted text; "" inside stands for one quotation mark. Bytes are kept
  // as they are (the script's code page).
  Token ReadString() {
    Token token;
    token.kind = Token::kString;
    ++at_;
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c != '"') {
        token.text += c;
      } else if (at_ < text_.size() && text_[at_] == '"') {
        token.text += '"';
        ++at_;
      } else {
        return token;
      }
    }
    token.kind = Token::kEnd;  // unterminated
    return token;
  }

  Token ReadNumber() {
    Token token;
    token.kind = Token::kNumber;
    size_t start = at_;
    while (at_ < text_.size() && isalnum(static_cast<unsigned char>(text_[at_]))) ++at_;
    std::string digits = text_.substr(start, at_ - start);
    if (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l')) digits.pop_back();
    char *end = nullptr;
    token.number = strtoll(digits.c_str(), &end, 0);
    if (!end || *end) token.kind = Token::kEnd;  // not a number after all
    token.text = digits;
    return token;
  }

  const std::string &text_;
  size_t at_ = 0;
};

struct NamedStyle {
  const char *name;
  DWORD value;
};

const NamedStyle kStyles[] = {
    {"WS_OVERLAPPED", 0x00000000},   {"WS_POPUP", 0x80000000},         {"WS_CHILD", 0x40000000},
    {"WS_MINIMIZE", 0x20000000},     {"WS_VISIBLE", 0x10000000},       {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000}, {"WS_CLIPCHILDREN", 0x02000000},  {"WS_MAXIMIZE", 0x01000000},
    {"WS_CAPTION", 0x00C00000},      {"WS_BORDER", 0x00800000},        {"WS_DLGFRAME", 0x00400000},
    {"WS_VSCROLL", 0x00200000},      {"WS_HSCROLL", 0x00100000},       {"WS_SYSMENU", 0x00080000},
    {"WS_THICKFRAME", 0x00040000},   {"WS_GROUP", 0x00020000},         {"WS_TABSTOP", 0x00010000},
    {"DS_ABSALIGN", 0x0001},         {"DS_SYSMODAL", 0x0002},          {"DS_3DLOOK", 0x0004},
    {"DS_FIXEDSYS", 0x0008},         {"DS_NOFAILCREATE", 0x0010},      {"DS_LOCALEDIT", 0x0020},
    {"DS_SETFONT", 0x0040},          {"DS_MODALFRAME", 0x0080},        {"DS_NOIDLEMSG", 0x0100},
    {"DS_SETFOREGROUND", 0x0200},    {"DS_CONTROL", 0x0400},           {"DS_CENTER", 0x0800},
    {"DS_CENTERMOUSE", 0x1000},      {"DS_CONTEXTHELP", 0x2000},       {"PBS_SMOOTH", 0x0001},
    {"PBS_VERTICAL", 0x0004},        {"WS_EX_TOPMOST", 0x0008},        {"WS_EX_TOOLWINDOW", 0x0080},
    {"WS_EX_CLIENTEDGE", 0x0200},    {"WS_EX_STATICEDGE", 0x00020000},
};

const DWORD kDefaultDialogStyle = 0x80000000 | 0x00800000 | 0x00080000;  // WS_POPUP | WS_BORDER | WS_SYSMENU
const DWORD kDefaultControlStyle = 0x40000000 | 0x10000000;              // WS_CHILD | WS_VISIBLE

bool IsWord(const Token &token, const char *word) {
  if (token.kind != Token::kWord || token.text.size() != strlen(word)) return false;
  for (size_t i = 0; i < token.text.size(); ++i)
    if (toupper(static_cast<unsigned char>(token.text[i])) != word[i]) return false;
  return true;
}

class TemplateParser {
 public:
  explicit TemplateParser(const std::string &script) : tokens_(script) { Advance(); }

  // Finds "<id> DIALOG" (or DIALOGEX) and parses it into record.
  bool Parse(int templateId, DialogRecord *record, std::string *error) {
    while (token_.kind != Token::kEnd) {
      if (token_.kind == Token::kNumber && token_.number == templateId) {
        Advance();
        if (IsWord(token_, "DIALOG") || IsWord(token_, "DIALOGEX")) {
          Advance();
          return ParseDialog(record, error);
        }
        continue;
      }
      Advance();
    }
    *error = "no template " + std::to_string(templateId);
    return false;
  }

 private:
  void Advance() { token_ = tokens_.Next(); }

  bool Punct(char c) {
    if (token_.kind != Token::kPunct || token_.text[0] != c) return false;
    Advance();
    return true;
  }

  bool Number(int *value) {
    bool negative = Punct('-');
    if (token_.kind != Token::kNumber) return false;
    *value = static_cast<int>(negative ? -token_.number : token_.number);
    Advance();
    return true;
  }

  bool String(std::string *value) {
    if (token_.kind != Token::kString) return false;
    *value = token_.text;
    Advance();
    return true;
  }

  // "A | B | NOT C | 0x10": flags added to (or, after NOT, taken from) style.
  bool Style(DWORD *style) {
    do {
      bool remove = false;
      if (IsWord(token_, "NOT")) {
        remove = true;
        Advance();
      }
      DWORD value = 0;
      if (token_.kind == Token::kNumber) {
        value = static_cast<DWORD>(token_.number);
      } else {
        bool known = false;
        for (const NamedStyle &named : kStyles) {
          if (token_.kind == Token::kWord && token_.text == named.name) {
            value = named.value;
            known = true;
          }
        }
        if (!known) return false;
      }
      Advance();
      *style = remove ? (*style & ~value) : (*style | value);
    } while (Punct('|'));
    return true;
  }

  bool Rect(int *x, int *y, int *cx, int *cy) {
    return Number(x) && Punct(',') && Number(y) && Punct(',') && Number(cx) && Punct(',') && Number(cy);
  }

  bool ParseDialog(DialogRecord *record, std::string *error) {
    static const char *kMemoryFlags[] = {"DISCARDABLE", "MOVEABLE",   "PURE", "IMPURE",
                                         "PRELOAD",     "LOADONCALL", "FIXED"};
    for (bool skipped = true; skipped;) {
      skipped = false;
      for (const char *flag : kMemoryFlags)
        if (IsWord(token_, flag)) skipped = true;
      if (skipped) Advance();
    }
    if (!Rect(&record->x, &record->y, &record->cx, &record->cy)) return Fail(error, "dialog rectangle");
    DWORD style = kDefaultDialogStyle;
    bool hasCaption = false;
    bool hasFont = false;
    while (!IsWord(token_, "BEGIN") && !Punct('{')) {
      if (token_.kind == Token::kEnd) return Fail(error, "no BEGIN");
      if (IsWord(token_, "STYLE")) {
        Advance();
        style = 0;
        if (!Style(&style)) return Fail(error, "STYLE");
      } else if (IsWord(token_, "EXSTYLE")) {
        Advance();
        if (!Style(&record->exStyle)) return Fail(error, "EXSTYLE");
      } else if (IsWord(token_, "CAPTION")) {
        Advance();
        if (!String(&record->caption)) return Fail(error, "CAPTION");
        hasCaption = true;
      } else if (IsWord(token_, "FONT")) {
        Advance();
        if (!Number(&record->fontPointSize) || !Punct(',') || !String(&record->fontName))
          return Fail(error, "FONT");
        hasFont = true;
      } else if (IsWord(token_, "LANGUAGE")) {
        int primary, sub;
        Advance();
        if (!Number(&primary) || !Punct(',') || !Number(&sub)) return Fail(error, "LANGUAGE");
      } else {
        return Fail(error, "unknown statement " + token_.text);
      }
    }
    if (IsWord(token_, "BEGIN")) Advance();
    // As the resource compiler does: a FONT statement sets DS_SETFONT, a CAPTION WS_CAPTION.
    if (hasFont) style |= 0x0040;
    if (hasCaption) style |= 0x00C00000;
    record->style = style;
    while (!IsWord(token_, "END") && !Punct('}')) {
      if (!IsWord(token_, "CONTROL")) return Fail(error, "unknown control statement " + token_.text);
      Advance();
      DialogRecord::Control control;
      control.style = kDefaultControlStyle;
      if (!String(&control.text) || !Punct(',') || !Number(&control.id) || !Punct(',') ||
          !String(&control.className) || !Punct(',') || !Style(&control.style) || !Punct(',') ||
          !Rect(&control.x, &control.y, &control.cx, &control.cy))
        return Fail(error, "CONTROL");
      DWORD exStyle = 0;
      if (Punct(',') && !Style(&exStyle)) return Fail(error, "CONTROL extended style");
      record->controls.push_back(control);
    }
    return true;
  }

  static bool Fail(std::string *error, const std::string &what) {
    *error = "cannot parse " + what;
    return false;
  }

  Tokenizer tokens_;
  Token token_;
};

bool LoadTemplate(int templateId, DialogRecord *record, std::string *error) {
  std::ifstream file(QV_RESOURCE_SCRIPT, std::ios::binary);
  if (!file) {
    *error = "cannot read " QV_RESOURCE_SCRIPT;
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  std::string script = text.str();
  return TemplateParser(script).Parse(templateId, record, error);
}

bool TemplateIdOf(LPCSTR name, int *id) {
  if (IS_INTRESOURCE(name)) {
    *id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
    return true;
  }
  if (name && name[0] == '#') {  // "#102" names template 102
    char *end = nullptr;
    long value = strtol(name + 1, &end, 10);
    *id = static_cast<int>(value);
    return end && !*end && end != name + 1;
  }
  return false;
}

// ---- windows ----------------------------------------------------------------

uintptr_t DialogHandle(size_t index) { return kDialogBase + 2 * index; }
uintptr_t BarHandle(size_t index) { return kDialogBase + 2 * index + 1; }

// The live dialog a handle names (dialog or its bar), or null.
DialogRecord *FindDialogWindow(Machine &m, HWND window, bool *isBar) {
  uintptr_t handle = reinterpret_cast<uintptr_t>(window);
  if (handle < kDialogBase) return nullptr;
  size_t index = (handle - kDialogBase) / 2;
  if (index >= m.dialogs.size()) return nullptr;
  DialogRecord &dialog = m.dialogs[index];
  if (!dialog.created || dialog.destroyed) return nullptr;
  *isBar = (handle - kDialogBase) % 2 == 1;
  return &dialog;
}

std::string Hex8(uintptr_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value & 0xFFFFFFFFu));
  return text;
}

const char *BarMessageName(UINT message) {
  switch (message) {
    case PBM_SETRANGE:
      return "PBM_SETRANGE";
    case PBM_SETPOS:
      return "PBM_SETPOS";
    case PBM_DELTAPOS:
      return "PBM_DELTAPOS";
    case PBM_SETSTEP:
      return "PBM_SETSTEP";
    case PBM_STEPIT:
      return "PBM_STEPIT";
    case PBM_SETRANGE32:
      return "PBM_SETRANGE32";
    case PBM_GETRANGE:
      return "PBM_GETRANGE";
    case PBM_GETPOS:
      return "PBM_GETPOS";
    default:
      return nullptr;
  }
}

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

LRESULT PackRange(const ProgressBar &bar) {
  return static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(bar.rangeMin, bar.rangeMax)));
}

// The common control's rules: the position stays within the range, except
// that PBM_STEPIT past the maximum starts over at the minimum (and past the
// minimum, for a negative step, at the maximum).
LRESULT BarMessage(Machine &m, ProgressBar &bar, UINT message, WPARAM wParam, LPARAM lParam) {
  const char *name = BarMessageName(message);
  bar.messages.push_back((name ? std::string(name) : "message " + Hex8(message)) + " " +
                         std::to_string(wParam) + " " + Hex8(static_cast<uintptr_t>(lParam)));
  LRESULT result = 0;
  bool changed = true;
  switch (message) {
    case PBM_SETRANGE:
      result = PackRange(bar);
      bar.rangeMin = LOWORD(lParam);
      bar.rangeMax = HIWORD(lParam);
      bar.position = Clamp(bar.position, bar.rangeMin, bar.rangeMax);
      break;
    case PBM_SETRANGE32:
      result = PackRange(bar);
      bar.rangeMin = static_cast<int>(wParam);
      bar.rangeMax = static_cast<int>(lParam);
      bar.position = Clamp(bar.position, bar.rangeMin, bar.rangeMax);
      break;
    case PBM_SETPOS:
      result = bar.position;
      bar.position = Clamp(static_cast<int>(wParam), bar.rangeMin, bar.rangeMax);
      break;
    case PBM_DELTAPOS:
      result = bar.position;
      bar.position = Clamp(bar.position + static_cast<int>(wParam), bar.rangeMin, bar.rangeMax);
      break;
    case PBM_SETSTEP:
      result = bar.step;
      bar.step = static_cast<int>(wParam);
      break;
    case PBM_STEPIT: {
      result = bar.position;
      ++bar.stepItCount;
      long long next = static_cast<long long>(bar.position) + bar.step;
      if (next > bar.rangeMax)
        next = bar.rangeMin;
      else if (next < bar.rangeMin)
        next = bar.rangeMax;
      bar.position = static_cast<int>(next);
      break;
    }
    case PBM_GETPOS:
      result = bar.position;
      changed = false;
      break;
    case PBM_GETRANGE: {
      struct Range {
        int iLow;
        int iHigh;
      };
      if (lParam) {
        Range *range = reinterpret_cast<Range *>(lParam);
        range->iLow = bar.rangeMin;
        range->iHigh = bar.rangeMax;
      }
      result = wParam ? bar.rangeMin : bar.rangeMax;
      changed = false;
      break;
    }
    default:
      changed = false;
      break;
  }
  if (changed && m.onProgress) m.onProgress(bar);
  return result;
}

// What the dialog manager gives back for a message sent to a dialog: the
// procedure's result for WM_INITDIALOG, else the message result it never
// set (0).
LRESULT DialogMessage(Machine &m, size_t index, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC procedure = m.dialogs[index].procedure;
  HWND dialog = reinterpret_cast<HWND>(DialogHandle(index));
  INT_PTR handled = procedure ? procedure(dialog, message, wParam, lParam) : 0;
  return message == WM_INITDIALOG ? handled : 0;
}

// Whether a control of that class can be created: the system's own classes
// always, the progress bar only once the common controls are registered.
bool ClassRegistered(const Machine &m, const std::string &className) {
  static const char *const kSystemClasses[] = {"BUTTON",  "EDIT",      "STATIC",
                                               "LISTBOX", "SCROLLBAR", "COMBOBOX"};
  const std::string folded = Fold(m, className);
  for (const char *system : kSystemClasses)
    if (folded == system) return true;
  return folded == "MSCTLS_PROGRESS32" && m.commonControlsRegistered;
}

// The dialog manager creates each control as it creates the dialog, before
// WM_INITDIALOG: one whose class is not registered fails the whole dialog,
// unless the template says DS_NOFAILCREATE, which leaves that control out.
bool CreateControls(Machine &m, DialogRecord *record) {
  std::vector<DialogRecord::Control> created;
  for (const DialogRecord::Control &control : record->controls) {
    if (ClassRegistered(m, control.className))
      created.push_back(control);
    else if (!(record->style & kDsNoFailCreate))
      return false;
  }
  record->controls = created;
  return true;
}

std::string TemplateText(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return std::to_string(reinterpret_cast<uintptr_t>(name));
  return Text(name);
}
}  // namespace

}  // namespace sim

using sim::Machine;

// The function does nothing itself: importing it loads the common controls
// library, which registers the classes as it initialises. The stand-in sees
// no imports, so the call stands for the import and registers them.
void WINAPI InitCommonControls(void) {
  Machine &m = sim::Current();
  sim::ShouldFail(m, "InitCommonControls");  // nothing to fail: the classes come with the library
  m.commonControlsRegistered = true;
  sim::Log(m, "InitCommonControls", {}, "");
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  Machine &m = sim::Current();
  // Logged first: everything the dialog procedure does happens inside this call.
  size_t logged = m.calls.size();
  sim::Log(m, "DialogBoxParamA",
           {sim::Hex(reinterpret_cast<uintptr_t>(hInstance)), sim::TemplateText(lpTemplateName),
            sim::Hex(reinterpret_cast<uintptr_t>(hWndParent)), lpDialogFunc ? "proc" : "(null)",
            std::to_string(dwInitParam)},
           "");
  auto finish = [&](INT_PTR result, const std::string &note) {
    m.calls[logged].result = std::to_string(result) + (note.empty() ? "" : " " + note);
    return result;
  };
  if (sim::ShouldFail(m, "DialogBoxParamA")) return finish(-1, "");
  sim::DialogRecord record;
  std::string error;
  int templateId = 0;
  bool ownModule = !hInstance || reinterpret_cast<uintptr_t>(hInstance) == sim::kInstanceHandle;
  if (!ownModule || !lpDialogFunc || !sim::TemplateIdOf(lpTemplateName, &templateId) ||
      !sim::LoadTemplate(templateId, &record, &error)) {
    m.lastError = sim::kErrorResourceNameNotFound;
    return finish(-1, error.empty() ? "no such template" : error);
  }
  if (!sim::CreateControls(m, &record)) {
    m.lastError = sim::kErrorCannotFindWindowClass;
    return finish(-1, "a control's class is not registered");
  }
  record.templateId = templateId;
  record.created = true;
  record.owner = hWndParent;
  record.initParam = dwInitParam;
  record.procedure = lpDialogFunc;
  size_t index = m.dialogs.size();
  // Moved, so that nothing of it is left to a frame a process ended in its
  // dialog procedure (a run cut short) never returns to.
  m.dialogs.push_back(std::move(record));

  sim::DialogMessage(m, index, WM_INITDIALOG, 0, dwInitParam);

  sim::DialogRecord &dialog = m.dialogs[index];
  dialog.procedure = nullptr;
  dialog.destroyed = true;
  if (dialog.ended) {
    dialog.visible = false;
    return finish(dialog.result, "");
  }
  // The dialog manager would show it now and run its message loop; nobody
  // is there to answer, so the run cannot go on.
  if (dialog.style & WS_VISIBLE) dialog.visible = true;
  fprintf(stderr, "sim: dialog %d was not ended during WM_INITDIALOG; no user drives its message loop\n",
          templateId);
  return finish(-1, "not ended during WM_INITDIALOG; no message loop");
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  Machine &m = sim::Current();
  BOOL result = FALSE;
  bool isBar = false;
  if (!sim::ShouldFail(m, "EndDialog")) {
    sim::DialogRecord *dialog = sim::FindDialogWindow(m, hDlg, &isBar);
    if (dialog && !isBar) {
      dialog->ended = true;
      dialog->result = nResult;
      dialog->visible = false;  // hidden at once, destroyed when its loop would end
      result = TRUE;
    } else {
      m.lastError = sim::kErrorInvalidWindowHandle;
    }
  }
  sim::Log(m, "EndDialog", {sim::Hex(reinterpret_cast<uintptr_t>(hDlg)), std::to_string(nResult)},
           std::to_string(result));
  return result;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  Machine &m = sim::Current();
  HWND item = nullptr;
  bool isBar = false;
  if (!sim::ShouldFail(m, "GetDlgItem")) {
    sim::DialogRecord *dialog = sim::FindDialogWindow(m, hDlg, &isBar);
    if (!dialog || isBar) {
      m.lastError = sim::kErrorInvalidWindowHandle;
    } else {
      size_t index = static_cast<size_t>(dialog - m.dialogs.data());
      for (const sim::DialogRecord::Control &control : dialog->controls)
        if (control.id == nIDDlgItem && sim::Fold(m, control.className) == "MSCTLS_PROGRESS32")
          item = reinterpret_cast<HWND>(sim::BarHandle(index));
      if (!item) m.lastError = sim::kErrorControlIdNotFound;
    }
  }
  sim::Log(m, "GetDlgItem", {sim::Hex(reinterpret_cast<uintptr_t>(hDlg)), std::to_string(nIDDlgItem)},
           sim::Hex(reinterpret_cast<uintptr_t>(item)));
  return item;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  Machine &m = sim::Current();
  BOOL wasVisible = FALSE;
  bool isBar = false;
  if (!sim::ShouldFail(m, "ShowWindow")) {
    sim::DialogRecord *dialog = sim::FindDialogWindow(m, hWnd, &isBar);
    if (dialog && !isBar) {
      wasVisible = dialog->visible ? TRUE : FALSE;
      dialog->visible = nCmdShow != SW_HIDE;
    } else if (dialog) {
      wasVisible = TRUE;  // the bar is a visible child; its own visibility is not kept
    }
  }
  sim::Log(m, "ShowWindow", {sim::Hex(reinterpret_cast<uintptr_t>(hWnd)), std::to_string(nCmdShow)},
           std::to_string(wasVisible));
  return wasVisible;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Machine &m = sim::Current();
  size_t logged = m.calls.size();
  sim::Log(m, "SendMessageA",
           {sim::Hex(reinterpret_cast<uintptr_t>(hWnd)), sim::Hex(Msg), std::to_string(wParam),
            std::to_string(lParam)},
           "");
  LRESULT result = 0;
  bool isBar = false;
  if (!sim::ShouldFail(m, "SendMessageA")) {
    sim::DialogRecord *dialog = sim::FindDialogWindow(m, hWnd, &isBar);
    if (!dialog) {
      m.lastError = sim::kErrorInvalidWindowHandle;
    } else if (isBar) {
      result = sim::BarMessage(m, dialog->bar, Msg, wParam, lParam);
    } else {
      result = sim::DialogMessage(m, static_cast<size_t>(dialog - m.dialogs.data()), Msg, wParam, lParam);
    }
  }
  m.calls[logged].result = std::to_string(result);
  return result;
}
