// Uninstall control: the main flow, its message catalog, the progress dialog
// and the search for the product's open wizards.
#pragma once

#include "../win32.h"

enum { kCatalogTextSize = 256 };

// The catalog texts, loaded once at start-up (ERRORMES2 is read on demand).
struct MessageCatalog {
  char DIALOG00[kCatalogTextSize];
  char IDS_ADD_PORT_LIMIT[kCatalogTextSize];
  char ADDPORT[kCatalogTextSize];
  char IDS_CONF_PORT_LIMIT[kCatalogTextSize];
  char CONFIG[kCatalogTextSize];
  char ONLY_ADMIN[kCatalogTextSize];
  char TitleDIALOG[kCatalogTextSize];  // [TITLE] DIALOG: caption of the flow's boxes
  char DIALOG01[kCatalogTextSize];
  char MSGBOX00[kCatalogTextSize];
  char TitleMSGBOX[kCatalogTextSize];  // [TITLE] MSGBOX: caption of the completion box
  // What the completion box adds when the removal is not complete yet.
  char MSGBOX01[kCatalogTextSize];  // a restart finishes it
  char MSGBOX02[kCatalogTextSize];  // heads the list of what stayed
  char MSGBOX03[kCatalogTextSize];  // follows the number of those not named
};

extern HINSTANCE instanceHandle;
extern MessageCatalog catalog;
extern HWND progressBar;

#define CATALOG_FILE "QVUninst.ini"
enum { kProgressDialogId = 102, kProgressBarId = 1000 };
// The wizard search can match window titles or class names; the flow only
// ever asks for titles. The class-name mode is kept as part of the search's
// contract, not as dead code.
enum { kTitleMode = 0, kClassNameMode = 1 };

void LoadMessageCatalog(void);
HWND FindWindowByTitlePrefix(const char *searchText, int mode);
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void RunRemovalBehindProgressDialog(void);
int TokenHoldsAdministrators(void);
void KeepExecutableForRestart(void);
void ShowCompletion(void);
void ScheduleSelfDelete(void);
void SpawnDeleteCommand(void);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
