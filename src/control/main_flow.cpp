// The uninstaller's entry: refuses while a wizard is open, while the user
// lacks the privilege (NT family) or while jobs wait on the monitor's ports;
// asks; on Yes removes the product behind the progress dialog, reports
// completion and arranges the deletion of its own executable.
#include "../common/text.h"
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

int IsWindowsNt(void) { return GetVersion() < 0x80000000; }

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
int IsFullPath(const char *path) {
  int drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' &&
              path[2] == '\\';
  int unc = path[0] == '\\' && path[1] == '\\';
  return drive || unc;
}

int FormSetupLibraryPath(char *libraryPath, TextSize capacity) {
  char monitor[kMonitorNameSize];
  ReadMonitorName(monitor);
  MonitorInfo info;
  if (!ReadMonitorInfo(&info, monitor) || !IsFullPath(info.InstallPath)) return 0;
  return FormatTextWhole(libraryPath, capacity, "%s\\_SETUP.DLL", info.InstallPath);
}

int UserHasPrivilege(void) {
  char libraryPath[MAX_PATH];
  if (!FormSetupLibraryPath(libraryPath, sizeof libraryPath))
    return RefuseWith(kApplicationError, MB_ICONHAND);
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

int NoJobsOnMonitorPorts(void) {
  char monitor[kMonitorNameSize];
  ReadMonitorName(monitor);
  if (!monitor[0] || NoJobsPending(monitor)) return 1;
  // Read only now: the one catalog text that is not loaded at start-up.
  char text[kCatalogTextSize];
  GetPrivateProfileStringA("STATIC", "ERRORMES2", "", text, sizeof text, CATALOG_FILE);
  return RefuseWith(text, MB_ICONHAND);
}

int UserConfirms(void) {
  // Room for both lines whole: each catalog text holds up to 255 characters.
  char question[2 * kCatalogTextSize];
  FormatTextWhole(question, sizeof question, "%s\n%s", catalog.DIALOG00, catalog.DIALOG01);
  return MessageBoxA(NULL, question, catalog.TitleDIALOG, kQuestionStyle) == IDYES;
}

// 1 with the executable's full path, or 0 when the path did not fit whole:
// a cut path could name another file.
int ReadOwnPath(char *path, DWORD capacity) {
  DWORD length = GetModuleFileNameA(NULL, path, capacity);
  return length > 0 && length < capacity;
}
}  // namespace

void SpawnDeleteCommand(void) {
  char ownPath[MAX_PATH];
  if (!ReadOwnPath(ownPath, sizeof ownPath)) return;
  // Quoted, so that a path with spaces is deleted as one file.
  char commandLine[MAX_PATH];
  if (!FormatTextWhole(commandLine, sizeof commandLine, "command.com /c del \"%s\"", ownPath)) return;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}

namespace {
// The install folders that hold the executable could not be removed while it
// ran. Entries run at the restart in the order made, and a folder goes only
// if empty by then: so after the executable, deepest first. The others were
// already removed by the last stage if they could be.
void ScheduleEmptiedInstallFolders(const char *ownPath) {
  for (PathNode *node = tail; node; node = node->prev)
    if (DirectoryContains(node->path, ownPath)) MoveFileExA(node->path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}
}  // namespace

void ScheduleSelfDelete(void) {
  char ownPath[256];
  int whole = ReadOwnPath(ownPath, sizeof ownPath);
  if (!IsWindowsNt()) {
    SpawnDeleteCommand();
    return;
  }
  if (!whole) return;
  // Deleted when the system next starts; no result is reported.
  MoveFileExA(ownPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  ScheduleEmptiedInstallFolders(ownPath);
}

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
  InitCommonControls();
  DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(kProgressDialogId), NULL, ProgressDlgProc, 0);
  MessageBoxA(NULL, catalog.MSGBOX00, catalog.TitleMSGBOX, MB_OK);
  ScheduleSelfDelete();
  return 1;
}
