// The completion box, shown once the removal has run. When everything went
// it is the catalog's completion text alone. Otherwise it also says that a
// restart finishes the removal (a listed file waits for it), and names what
// stayed: a few items, and the number of the others, so that the box still
// fits the screen.
#include "../removal/removal.h"
#include "control.h"

namespace {
enum { kNamesShown = 3, kNumberSize = 12 };
// Room for every part whole: four catalog texts and the names shown.
enum { kCompletionTextSize = 4 * kCatalogTextSize + kNamesShown * kStayedNameSize + 32 };

void AppendLine(char *text, const char *separator, const char *line) {
  AppendTextWhole(text, kCompletionTextSize, separator);
  AppendTextWhole(text, kCompletionTextSize, line);
}

void AppendStayedItems(char *text) {
  AppendLine(text, "\n\n", catalog.MSGBOX02);
  DWORD named = 0;
  for (; named < stayedCount && named < kNamesShown; ++named) AppendLine(text, "\n", stayedNames[named]);
  if (named == stayedCount) return;
  char number[kNumberSize];
  wsprintfA(number, "%u", static_cast<unsigned>(stayedCount - named));
  AppendLine(text, "\n", number);
  AppendLine(text, " ", catalog.MSGBOX03);
}
}  // namespace

void ShowCompletion(void) {
  ForgetWhatWentSince();
  char text[kCompletionTextSize];
  CopyTextWhole(text, sizeof text, catalog.MSGBOX00);
  if (AListedFileWaitsForRestart()) AppendLine(text, "\n\n", catalog.MSGBOX01);
  if (stayedCount) AppendStayedItems(text);
  MessageBoxA(NULL, text, catalog.TitleMSGBOX, stayedCount ? MB_ICONEXCLAMATION : MB_OK);
}
