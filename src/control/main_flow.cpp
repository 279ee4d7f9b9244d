// The uninstaller's entry: refuses while a wizard is open, while the user
// lacks the privilege (NT family) or while jobs wait on the monitor's ports;
// asks; on Yes removes the product behind the progress dialog, reports
// completion and arranges the deletion of its own executable.
#include "../common/family.h"
#include "../common/paths.h"
#include "../removal/removal.h"
#include "../spooler/spooler.h"
#include "control.h"

HINSTANCE instanceHandle;

namespace {
// _SETUP.DLL's export: two 32-bit arguments, the callee pops them; it may
// write the 4-byte variable, which the caller neither sets nor reads.
typedef DWORD(WINAPI *CheckUserPrivilegeProc)(DWORD reserved, LPVOID scratch);

const char kApplicationError[] = "Application error.";
const UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION;

int RefuseWith(const char *text, UINT style) {
  MessageBoxA(NULL, text, catalog.TitleDIALOG, style);
  return 0;
}

int WizardIsOpen(void) {
  if (FindWindowByTitlePrefix(catalog.ADDPORT, kTitleMode))
    return !RefuseWith(catalog.IDS_ADD_PORT_LIMIT, MB_OK);
  if (FindWindowByTitlePrefix(catalog.CONFIG, kTitleMode))
    return !RefuseWith(catalog.IDS_CONF_PORT_LIMIT, MB_OK);
  return 0;
}

// A library is only ever loaded by a full path read whole: a relative or
// empty one would be looked for along the library search path.
int FormSetupLibraryPath(const char *monitor, char *libraryPath, TextSize capacity) {
  MonitorInfo info;
  if (!ReadMonitorInfo(&info, monitor) || !IsFullPath(info.InstallPath)) return 0;
  return FormatTextWhole(libraryPath, capacity, "%s\\_SETUP.DLL", info.InstallPath);
}

// The product's own _SETUP.DLL, in the monitor's install directory, says
// whether the user may uninstall.
int SetupLibraryGrantsPrivilege(const char *libraryPath) {
  HMODULE library = LoadLibraryA(libraryPath);
  if (!library) return RefuseWith(kApplicationError, MB_ICONHAND);
  FARPROC export_ = GetProcAddress(library, "CheckUserPrivilege");
  if (!export_) {
    FreeLibrary(library);
    return RefuseWith(kApplicationError, MB_ICONHAND);
  }
  CheckUserPrivilegeProc check =
      reinterpret_cast<CheckUserPrivilegeProc>(reinterpret_cast<void (*)(void)>(export_));
  DWORD scratch;
  DWORD granted = check(0, &scratch);
  FreeLibrary(library);
  if (!granted) return RefuseWith(catalog.ONLY_ADMIN, MB_ICONHAND);
  return 1;
}

int TokenGrantsPrivilege(void) {
  return TokenHoldsAdministrators() || RefuseWith(catalog.ONLY_ADMIN, MB_ICONHAND);
}

// Whether the file is missing from a folder that is there: what the files
// stage leaves of _SETUP.DLL, while a monitor some printer still uses stays.
int IsGoneFromItsFolder(const char *path) {
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
}

// With no monitor registered (none named, or a run cut short after the
// monitor stage), or its _SETUP.DLL gone, there is no library to ask: the
// platform is asked instead, so that a product half removed can always be
// finished.
int UserHasPrivilege(void) {
  char monitor[kMonitorNameSize];
  char libraryPath[MAX_PATH];
  ReadMonitorName(monitor);
  if (!MonitorIsRegistered(monitor)) return TokenGrantsPrivilege();
  if (!FormSetupLibraryPath(monitor, libraryPath, sizeof libraryPath))
    return RefuseWith(kApplicationError, MB_ICONHAND);
  if (IsGoneFromItsFolder(libraryPath)) return TokenGrantsPrivilege();
  return SetupLibraryGrantsPrivilege(libraryPath);
}

int NoJobsOnMonitorPorts(void) {
  char monitor[kMonitorNameSize];
  ReadMonitorName(monitor);
  if (!monitor[0] || NoJobsPending(monitor)) return 1;
  // Read only now: the one catalog text that is not loaded at start-up.
  char text[kCatalogTextSize];
  GetPrivateProfileStringA("STATIC", "ERRORMES2", "", text, sizeof text, CATALOG_FILE);
  return RefuseWith(text, MB_ICONHAND);
}

// A process's current directory can't be removed on the NT family: before
// the removal the uninstaller leaves it for the Windows directory, which is
// never the product's.
void LeaveCurrentDirectory(void) {
  char windowsDirectory[MAX_PATH];
  UINT length = GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
  if (length > 0 && length < sizeof windowsDirectory && IsFullPath(windowsDirectory))
    SetCurrentDirectoryA(windowsDirectory);
}

int UserConfirms(void) {
  // Room for both lines whole: each catalog text holds up to 255 characters.
  char question[2 * kCatalogTextSize];
  FormatTextWhole(question, sizeof question, "%s\n%s", catalog.DIALOG00, catalog.DIALOG01);
  return MessageBoxA(NULL, question, catalog.TitleDIALOG, kQuestionStyle) == IDYES;
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  (void)previous;
  (void)commandLine;
  (void)showCommand;
  instanceHandle = instance;
  LoadMessageCatalog();
  head = NULL;
  tail = NULL;
  if (WizardIsOpen()) return 0;
  if (IsWindowsNt() && !UserHasPrivilege()) return 0;
  if (!NoJobsOnMonitorPorts()) return 0;
  if (!UserConfirms()) return 1;
  BuildRemovalPlan();
  LeaveCurrentDirectory();
  KeepExecutableForRestart();
  RunRemovalBehindProgressDialog();
  ShowCompletion();
  ScheduleSelfDelete();
  return 1;
}
