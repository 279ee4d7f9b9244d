/* Drives one run of the uninstaller inside Wine, as a user would: starts the
 * scenario's wizard windows, starts the uninstaller, reads every message box
 * it shows (caption, text, buttons, icon), presses the scripted button, and
 * once it has ended writes what the run left behind: result.ini (exit code,
 * boxes, deletions pending a restart, processes), printers.ini (each local
 * printer's port as the spooler reports it) and registry.reg (REGEDIT4 text
 * of the asked-for HKEY_LOCAL_MACHINE subtrees).
 *
 * Usage: qvdriver.exe CONTROL_FILE; the control file holds key=value lines:
 *   exe, cwd, out (folder for the results), hook (qvhook.dll), keeper
 *   (qvwindow.exe), jobs (qvjobs.dll, loaded into the uninstaller), answer
 *   (yes/no, in order), window (title|class in hexadecimal, so that any byte
 *   passes; topmost first), driver (printer driver names to register),
 *   export (key paths), shots (folder for BMP screenshots, optional), timeout
 *   (seconds), cut (optional: qvjobs.dll ends the uninstaller right after its
 *   N-th progress step; result.ini then says whether it did, Cut=yes|no),
 *   holder and hold (optional: qvhold.exe and its list of files to hold in use
 *   while the uninstaller runs), shortnames (optional: a list of paths, one a
 *   line, whose 8.3 forms result.ini gets before the run changes anything),
 *   exe_by_short_path (1: the uninstaller is started by its 8.3 path),
 *   wininit (optional: the Windows directory's WININIT.INI, copied to
 *   wininit.ini in the results as the run left it, before a new session
 *   could process it) and wininit_before (optional: a file moved there before
 *   the uninstaller starts; laid down earlier, Wine's boot step would have
 *   processed it as the session started) and
 *   drive_directory (optional, one a line: a drive's current directory,
 *   D:\dir, given to the uninstaller as the "=D:" variable a command prompt
 *   sets when the user changes directory on that drive). */
#include <windows.h>
/* tlhelp32.h and winspool.h build on windows.h. */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>
#include <winspool.h>

#define MAX_ITEMS 32
#define MESSAGE_BOX_TEXT_ID 0xFFFF
#define PROGRESS_BAR_ID 1000

typedef struct {
  char exe[MAX_PATH], cwd[MAX_PATH], out[MAX_PATH], hook[MAX_PATH], keeper[MAX_PATH], jobs[MAX_PATH],
      shots[MAX_PATH], holder[MAX_PATH], hold[MAX_PATH], shortNames[MAX_PATH], winInit[MAX_PATH],
      winInitBefore[MAX_PATH];
  int exeByShortPath;
  int answers[MAX_ITEMS], answerCount, nextAnswer;
  char windows[MAX_ITEMS][2][256];
  char windowsHex[MAX_ITEMS][2][520];
  int windowCount;
  char drivers[MAX_ITEMS][256];
  int driverCount;
  char exports[MAX_ITEMS][512];
  int exportCount;
  char driveDirectories[MAX_ITEMS][MAX_PATH];
  int driveDirectoryCount;
  int timeoutSeconds;
  char cutAfterSteps[16]; /* decimal, passed on to qvjobs.dll; empty: no cut */
} Control;

typedef struct {
  HWND window;
  char caption[1024];
  char text[4096];
  UINT style;
  int answer;
} Box;

static Control control;
static Box boxes[MAX_ITEMS];
static int boxCount;
static HWND seen[MAX_ITEMS * 2];
static int seenCount;
static DWORD uninstallerId;
static DWORD uninstallerVersion;
static UINT uninstallerCodePage;
static int progressSeen;

/* The processes the driver started: a failure ends them too, or Wine would
 * wait for them. */
static HANDLE startedProcesses[MAX_ITEMS + 1];
static int startedProcessCount;

static void Fail(const char *what) {
  int i;
  fprintf(stderr, "qvdriver: %s (error %lu)\n", what, (unsigned long)GetLastError());
  for (i = 0; i < startedProcessCount; ++i) TerminateProcess(startedProcesses[i], 2);
  exit(2);
}

/* How far the driver got, for a run that never ends. */
static void Step(const char *what) {
  printf("qvdriver: %s\n", what);
  fflush(stdout);
}

static void CopyField(char *field, size_t capacity, const char *value) {
  if (strlen(value) >= capacity) Fail("control value too long");
  strcpy(field, value);
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static void CopyHexField(char *field, size_t capacity, const char *hex) {
  size_t length = strlen(hex) / 2, i;
  if (strlen(hex) % 2 || length >= capacity) Fail("control value not hexadecimal, or too long");
  for (i = 0; i < length; ++i) {
    int high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) Fail("control value not hexadecimal");
    field[i] = (char)(high * 16 + low);
  }
  field[length] = 0;
}

/* The control file's keys that hold one text each. */
#define TEXT_FIELD(key, member) \
  { key, offsetof(Control, member), sizeof(((Control *)0)->member) }
static const struct {
  const char *key;
  size_t offset, size;
} kTextFields[] = {TEXT_FIELD("exe", exe),
                   TEXT_FIELD("cwd", cwd),
                   TEXT_FIELD("out", out),
                   TEXT_FIELD("hook", hook),
                   TEXT_FIELD("keeper", keeper),
                   TEXT_FIELD("jobs", jobs),
                   TEXT_FIELD("shots", shots),
                   TEXT_FIELD("cut", cutAfterSteps),
                   TEXT_FIELD("holder", holder),
                   TEXT_FIELD("hold", hold),
                   TEXT_FIELD("shortnames", shortNames),
                   TEXT_FIELD("wininit", winInit),
                   TEXT_FIELD("wininit_before", winInitBefore)};

static int ReadTextField(const char *key, const char *value) {
  size_t i;
  for (i = 0; i < sizeof kTextFields / sizeof kTextFields[0]; ++i) {
    if (strcmp(key, kTextFields[i].key)) continue;
    CopyField((char *)&control + kTextFields[i].offset, kTextFields[i].size, value);
    return 1;
  }
  return 0;
}

static void ReadControl(const char *path) {
  char line[2048];
  FILE *file = fopen(path, "rb");
  if (!file) Fail("cannot open the control file");
  control.timeoutSeconds = 120;
  while (fgets(line, sizeof line, file)) {
    char *value = strchr(line, '=');
    size_t length = strlen(line);
    while (length && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    if (!value) continue;
    *value++ = 0;
    if (ReadTextField(line, value)) continue;
    if (!strcmp(line, "exe_by_short_path"))
      control.exeByShortPath = atoi(value);
    else if (!strcmp(line, "timeout"))
      control.timeoutSeconds = atoi(value);
    else if (!strcmp(line, "answer") && control.answerCount < MAX_ITEMS)
      control.answers[control.answerCount++] = (value[0] == 'y' || value[0] == 'Y') ? IDYES : IDNO;
    else if (!strcmp(line, "driver") && control.driverCount < MAX_ITEMS)
      CopyField(control.drivers[control.driverCount++], 256, value);
    else if (!strcmp(line, "export") && control.exportCount < MAX_ITEMS)
      CopyField(control.exports[control.exportCount++], 512, value);
    else if (!strcmp(line, "drive_directory") && control.driveDirectoryCount < MAX_ITEMS)
      CopyField(control.driveDirectories[control.driveDirectoryCount++], MAX_PATH, value);
    else if (!strcmp(line, "window") && control.windowCount < MAX_ITEMS) {
      char *bar = strchr(value, '|');
      if (bar) *bar++ = 0;
      CopyField(control.windowsHex[control.windowCount][0], 520, value);
      CopyField(control.windowsHex[control.windowCount][1], 520, bar ? bar : "");
      CopyHexField(control.windows[control.windowCount][0], 256, value);
      CopyHexField(control.windows[control.windowCount][1], 256, bar ? bar : "");
      ++control.windowCount;
    }
  }
  fclose(file);
  if (!control.exe[0] || !control.out[0] || !control.jobs[0])
    Fail("the control file names no exe, out or jobs");
}

/* ---- set-up ---------------------------------------------------------------- */

static void RegisterPrinterDrivers(void) {
  int i;
  for (i = 0; i < control.driverCount; ++i) {
    DRIVER_INFO_3A info;
    ZeroMemory(&info, sizeof info);
    info.cVersion = 3;
    info.pName = control.drivers[i];
    info.pDriverPath = "wineps.drv";
    info.pDataFile = "wineps.drv";
    info.pConfigFile = "wineps.drv";
    if (!AddPrinterDriverA(NULL, 3, (LPBYTE)&info) &&
        GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED)
      fprintf(stderr, "qvdriver: AddPrinterDriverA(%s) failed with %lu\n", control.drivers[i],
              (unsigned long)GetLastError());
  }
}

/* Started suspended when thread is given: the caller resumes it. */
static HANDLE StartProcess(const char *commandLine, const char *directory, DWORD *processId, HANDLE *thread) {
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  char line[2048];
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  if (strlen(commandLine) >= sizeof line) Fail("command line too long");
  strcpy(line, commandLine);
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, thread ? CREATE_SUSPENDED : 0, NULL,
                      directory && directory[0] ? directory : NULL, &startup, &process))
    return NULL;
  if (thread)
    *thread = process.hThread;
  else
    CloseHandle(process.hThread);
  if (processId) *processId = process.dwProcessId;
  if (startedProcessCount < MAX_ITEMS + 1) startedProcesses[startedProcessCount++] = process.hProcess;
  return process.hProcess;
}

/* qvjobs.dll into the suspended uninstaller: an APC on its main thread runs
 * LoadLibraryA once the loader has resolved the executable's imports and
 * before its entry point, so the library sees every spooler call it makes.
 * kernel32 lies at the same address in both processes. */
static void LoadJobStandIn(HANDLE process, HANDLE thread) {
  SIZE_T size = strlen(control.jobs) + 1;
  HANDLE loaded = CreateEventA(NULL, TRUE, FALSE, "QVJobStandInLoaded");
  void *remote = VirtualAllocEx(process, NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!loaded || !remote || !WriteProcessMemory(process, remote, control.jobs, size, NULL))
    Fail("cannot pass the job stand-in's path to the uninstaller");
  if (!QueueUserAPC((PAPCFUNC)(void (*)(void))LoadLibraryA, thread, (ULONG_PTR)remote))
    Fail("cannot queue the job stand-in's load");
  if (ResumeThread(thread) == (DWORD)-1) Fail("cannot resume the uninstaller");
  if (WaitForSingleObject(loaded, 60000) != WAIT_OBJECT_0)
    Fail("the job stand-in did not redirect the uninstaller's spooler imports");
  CloseHandle(loaded);
}

/* qvjobs.dll reads the count from the environment the uninstaller inherits,
 * and sets the event just before it ends the process. */
static HANDLE cutEvent;

static void ArmCut(void) {
  if (!control.cutAfterSteps[0]) return;
  cutEvent = CreateEventA(NULL, TRUE, FALSE, "QVUninstallerCut");
  if (!cutEvent || !SetEnvironmentVariableA("QV_CUT_AFTER_STEPS", control.cutAfterSteps))
    Fail("cannot arm the cut");
}

static int WasCut(void) { return cutEvent && WaitForSingleObject(cutEvent, 0) == WAIT_OBJECT_0; }

/* Each drive's current directory as the uninstaller inherits it: "=D:",
 * which Wine's RtlGetFullPathName_U reads for "D:" and "D:dir". */
static void SetDriveDirectories(void) {
  int i;
  for (i = 0; i < control.driveDirectoryCount; ++i) {
    char name[4] = {'=', control.driveDirectories[i][0], ':', 0};
    if (!SetEnvironmentVariableA(name, control.driveDirectories[i]))
      Fail("cannot set a drive's current directory");
  }
}

/* The files in use: held by qvhold.exe from before the uninstaller starts
 * until it has ended. */
static HANDLE StartHolder(void) {
  char line[MAX_PATH * 2 + 8];
  HANDLE held, holder, waited[2];
  if (!control.hold[0]) return NULL;
  held = CreateEventA(NULL, TRUE, FALSE, "QVFilesHeld");
  snprintf(line, sizeof line, "\"%s\" \"%s\"", control.holder, control.hold);
  holder = StartProcess(line, NULL, NULL, NULL);
  if (!held || !holder) Fail("cannot start the holder of the files in use");
  waited[0] = held;
  waited[1] = holder;
  if (WaitForMultipleObjects(2, waited, FALSE, 60000) != WAIT_OBJECT_0)
    Fail("the holder could not hold the files in use");
  CloseHandle(held);
  return holder;
}

/* Wine makes its own 8.3 aliases: they are read before the run removes
 * anything, "LONG|SHORT" a line, for each listed path that has one. */
static void ReadShortNames(void) {
  char path[MAX_PATH * 2], line[MAX_PATH + 8], shortForm[MAX_PATH];
  FILE *list, *out;
  if (!control.shortNames[0]) return;
  snprintf(path, sizeof path, "%s\\shortnames.txt", control.out);
  list = fopen(control.shortNames, "rb");
  out = fopen(path, "wb");
  if (!list || !out) Fail("cannot read the paths or write their 8.3 forms");
  while (fgets(line, sizeof line, list)) {
    size_t length = strlen(line);
    DWORD got;
    while (length && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    got = GetShortPathNameA(line, shortForm, sizeof shortForm);
    if (got && got < sizeof shortForm && lstrcmpiA(line, shortForm)) fprintf(out, "%s|%s\n", line, shortForm);
  }
  fclose(list);
  fclose(out);
}

/* Wine's boot step processes WININIT.INI whenever a session starts in the
 * prefix: the machine's is put in place inside this session, and what the run
 * left is copied before the session ends. */
static void PlaceWinInit(void) {
  if (control.winInitBefore[0] &&
      !MoveFileExA(control.winInitBefore, control.winInit, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
    Fail("cannot put WININIT.INI in place");
}

static void CaptureWinInit(void) {
  char path[MAX_PATH * 2];
  if (!control.winInit[0]) return;
  snprintf(path, sizeof path, "%s\\wininit.ini", control.out);
  if (GetFileAttributesA(control.winInit) == INVALID_FILE_ATTRIBUTES) return;
  if (!CopyFileA(control.winInit, path, FALSE)) Fail("cannot copy the WININIT.INI the run left");
}

/* The last window asked for is started first, so the first ends up on top. */
static int StartWindowKeepers(HANDLE *keepers) {
  int i, started = 0;
  for (i = control.windowCount - 1; i >= 0; --i) {
    char line[1024];
    const char *title = control.windows[i][0];
    const char *className = control.windows[i][1];
    int waited;
    /* "-" stands for an empty text, which would be no argument at all. */
    snprintf(line, sizeof line, "\"%s\" %s %s", control.keeper,
             control.windowsHex[i][0][0] ? control.windowsHex[i][0] : "-",
             control.windowsHex[i][1][0] ? control.windowsHex[i][1] : "-");
    keepers[started] = StartProcess(line, NULL, NULL, NULL);
    if (!keepers[started]) Fail("cannot start the window keeper");
    ++started;
    for (waited = 0; !FindWindowA(className[0] ? className : NULL, title); waited += 50) {
      if (waited > 20000) Fail("the kept window did not appear");
      Sleep(50);
    }
  }
  return started;
}

static HHOOK InstallHook(void) {
  HMODULE library = LoadLibraryA(control.hook);
  FARPROC proc;
  HHOOK hook;
  if (!library) Fail("cannot load the hook library");
  proc = GetProcAddress(library, "QVCallWndRetProc");
  if (!proc) Fail("the hook library lacks its procedure");
  hook = SetWindowsHookExA(WH_CALLWNDPROCRET, (HOOKPROC)(void (*)(void))proc, library, 0);
  if (!hook) Fail("SetWindowsHookExA failed");
  return hook;
}

/* ---- screenshots ----------------------------------------------------------- */

static void SaveScreenshot(HWND window, const char *name) {
  RECT rect;
  HDC screen, memory;
  HBITMAP bitmap;
  BITMAPINFO info;
  void *bits;
  char path[MAX_PATH * 2];
  FILE *file;
  int width, height;
  DWORD imageSize;
  BITMAPFILEHEADER header;
  if (!control.shots[0] || !GetWindowRect(window, &rect)) return;
  width = rect.right - rect.left;
  height = rect.bottom - rect.top;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  screen = GetDC(NULL);
  memory = CreateCompatibleDC(screen);
  bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  if (!bitmap) Fail("CreateDIBSection failed");
  SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  imageSize = (DWORD)(((width * 3 + 3) & ~3) * height);
  ZeroMemory(&header, sizeof header);
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + imageSize;
  snprintf(path, sizeof path, "%s\\%s.bmp", control.shots, name);
  file = fopen(path, "wb");
  if (file) {
    fwrite(&header, sizeof header, 1, file);
    fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file);
    fwrite(bits, imageSize, 1, file);
    fclose(file);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
}

/* ---- the uninstaller's windows ---------------------------------------------- */

static int WasSeen(HWND window) {
  int i;
  for (i = 0; i < seenCount; ++i)
    if (seen[i] == window) return 1;
  return 0;
}

static void MarkSeen(HWND window) {
  if (seenCount < MAX_ITEMS * 2) seen[seenCount++] = window;
}

static int IsVisibleButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  return button && IsWindowVisible(button);
}

/* A message to the uninstaller's window waits for its thread: bounded, so a
 * thread that stops answering can't keep the driver from its own time limit,
 * and asked again until it answers, as under the emulator on a busy machine
 * the thread can look hung for a while (SMTO_ABORTIFHUNG then gave up at
 * once, and a box's text came back empty). */
static LRESULT AskWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR answer = 0;
  int attempt;
  for (attempt = 0; attempt < 6; ++attempt)
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 10000, &answer)) return (LRESULT)answer;
  return 0;
}

/* MB_* style as the box shows it: buttons, icon, default button, topmost. */
static UINT StyleOf(HWND box) {
  static const struct {
    int ids[3];
    UINT style;
  } kButtonSets[] = {{{IDYES, IDNO, IDCANCEL}, MB_YESNOCANCEL},
                     {{IDYES, IDNO, 0}, MB_YESNO},
                     {{IDABORT, IDRETRY, IDIGNORE}, MB_ABORTRETRYIGNORE},
                     {{IDRETRY, IDCANCEL, 0}, MB_RETRYCANCEL},
                     {{IDOK, IDCANCEL, 0}, MB_OKCANCEL},
                     {{IDOK, 0, 0}, MB_OK}};
  UINT style = 0;
  size_t i;
  int shown[3] = {0, 0, 0};
  ULONG_PTR icon = (ULONG_PTR)GetPropA(box, "QVBoxIcon");
  LRESULT defaultId = AskWindow(box, DM_GETDEFID, 0, 0);
  for (i = 0; i < sizeof kButtonSets / sizeof kButtonSets[0]; ++i) {
    int j, all = 1;
    for (j = 0; j < 3 && kButtonSets[i].ids[j]; ++j) all &= IsVisibleButton(box, kButtonSets[i].ids[j]);
    if (!all) continue;
    style = kButtonSets[i].style;
    for (j = 0; j < 3; ++j) shown[j] = kButtonSets[i].ids[j];
    break;
  }
  if (HIWORD(defaultId) == DC_HASDEFID) {
    for (i = 1; i < 3; ++i)
      if (shown[i] && shown[i] == LOWORD(defaultId)) style |= (UINT)(i * MB_DEFBUTTON2);
  }
  if (icon)
    style |= (UINT)(icon & 0xFFFF);
  else
    style |= 0xF0000000u; /* the hook did not tag it: never equal to a real style */
  if (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) style |= MB_TOPMOST;
  return style;
}

static void AnswerBox(HWND box) {
  Box *record;
  int answer;
  if (boxCount >= MAX_ITEMS) Fail("too many message boxes");
  Sleep(150); /* let it finish painting */
  record = &boxes[boxCount++];
  record->window = box;
  GetWindowTextA(box, record->caption, sizeof record->caption);
  AskWindow(GetDlgItem(box, MESSAGE_BOX_TEXT_ID), WM_GETTEXT, sizeof record->text, (LPARAM)record->text);
  record->style = StyleOf(box);
  if (!uninstallerVersion) uninstallerVersion = (DWORD)(ULONG_PTR)GetPropA(box, "QVVersion");
  if (!uninstallerCodePage) uninstallerCodePage = (UINT)(ULONG_PTR)GetPropA(box, "QVCodePage");
  if ((record->style & MB_TYPEMASK) == MB_YESNO) {
    answer = control.nextAnswer < control.answerCount ? control.answers[control.nextAnswer++] : IDNO;
  } else {
    answer = IDOK;
  }
  record->answer = answer;
  if (boxCount == 1 || (record->style & MB_TYPEMASK) == MB_YESNO) {
    char name[32];
    snprintf(name, sizeof name, "box%d", boxCount);
    SaveScreenshot(box, name);
  }
  printf("box %d: [%s] %s -> %d\n", boxCount, record->caption, record->text, answer);
  fflush(stdout);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
}

static void LookAtProgressDialog(HWND dialog) {
  if (progressSeen) return;
  progressSeen = 1;
  Sleep(400);
  SaveScreenshot(dialog, "progress");
  printf("progress dialog shown\n");
  fflush(stdout);
}

static BOOL CALLBACK VisitWindow(HWND window, LPARAM unused) {
  DWORD processId = 0;
  char className[16];
  (void)unused;
  GetWindowThreadProcessId(window, &processId);
  if (processId != uninstallerId || !IsWindowVisible(window) || WasSeen(window)) return TRUE;
  if (!GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0) return TRUE;
  if (GetDlgItem(window, MESSAGE_BOX_TEXT_ID)) {
    MarkSeen(window);
    AnswerBox(window);
  } else if (GetDlgItem(window, PROGRESS_BAR_ID)) {
    MarkSeen(window);
    LookAtProgressDialog(window);
  }
  return TRUE;
}

/* ---- what the run left behind ---------------------------------------------- */

static void WriteEscaped(FILE *file, const char *text) {
  for (; *text; ++text) {
    if (*text == '\n')
      fputs("\\n", file);
    else if (*text != '\r')
      fputc(*text, file);
  }
}

static void WritePendingDeletes(FILE *file) {
  HKEY key;
  char *data;
  DWORD size = 0, type = 0, count = 0;
  const char *entry;
  fputs("\n[PendingDeletes]\n", file);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, NULL, &size) == ERROR_SUCCESS &&
      type == REG_MULTI_SZ) {
    data = calloc(1, size + 2);
    if (data && RegQueryValueExA(key, "PendingFileRenameOperations", NULL, NULL, (BYTE *)data, &size) ==
                    ERROR_SUCCESS) {
      /* Pairs of source and target; an empty target means delete. */
      for (entry = data; *entry;) {
        const char *target = entry + strlen(entry) + 1;
        const char *source = strncmp(entry, "\\??\\", 4) == 0 ? entry + 4 : entry;
        if (*target == 0) fprintf(file, "%lu=%s\n", (unsigned long)++count, source);
        if (target >= data + size) break;
        entry = target + strlen(target) + 1;
        if (entry >= data + size) break;
      }
    }
    free(data);
  }
  RegCloseKey(key);
}

static void WriteProcesses(FILE *file) {
  char path[MAX_PATH * 2], line[2048];
  FILE *log;
  unsigned long count = 0;
  fputs("\n[Processes]\n", file);
  snprintf(path, sizeof path, "%s\\processes.txt", control.out);
  log = fopen(path, "rb");
  if (!log) return;
  while (fgets(line, sizeof line, log)) {
    size_t length = strlen(line);
    while (length && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    fprintf(file, "%lu=%s\n", ++count, line);
  }
  fclose(log);
}

static void WriteShortNames(FILE *file) {
  char path[MAX_PATH * 2], line[MAX_PATH * 2 + 8];
  FILE *list;
  unsigned long count = 0;
  if (!control.shortNames[0]) return;
  fputs("\n[ShortNames]\n", file);
  snprintf(path, sizeof path, "%s\\shortnames.txt", control.out);
  list = fopen(path, "rb");
  if (!list) return;
  while (fgets(line, sizeof line, list)) fprintf(file, "%lu=%s", ++count, line);
  fclose(list);
}

static void WriteResult(DWORD exitCode) {
  char path[MAX_PATH * 2];
  FILE *file;
  int i;
  snprintf(path, sizeof path, "%s\\result.ini", control.out);
  file = fopen(path, "wb");
  if (!file) Fail("cannot write result.ini");
  fprintf(file, "[Result]\nExitCode=%lu\nVersion=0x%08lX\nCodePage=%u\nProgressDialog=%d\n",
          (unsigned long)exitCode, (unsigned long)uninstallerVersion, uninstallerCodePage, progressSeen);
  if (control.cutAfterSteps[0]) fprintf(file, "Cut=%s\n", WasCut() ? "yes" : "no");
  for (i = 0; i < boxCount; ++i) {
    fprintf(file, "\n[Box%d]\nCaption=%s\nText=", i + 1, boxes[i].caption);
    WriteEscaped(file, boxes[i].text);
    fprintf(file, "\nStyle=%u\nAnswer=%d\n", boxes[i].style, boxes[i].answer);
  }
  WritePendingDeletes(file);
  WriteProcesses(file);
  WriteShortNames(file);
  fclose(file);
}

static void WritePrinters(void) {
  char path[MAX_PATH * 2];
  FILE *file;
  DWORD needed = 0, count = 0, i;
  BYTE *buffer = NULL;
  snprintf(path, sizeof path, "%s\\printers.ini", control.out);
  file = fopen(path, "wb");
  if (!file) Fail("cannot write printers.ini");
  EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &count);
  if (needed) {
    buffer = malloc(needed);
    if (!buffer || !EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, buffer, needed, &needed, &count)) count = 0;
  }
  for (i = 0; i < count; ++i) {
    const PRINTER_INFO_2A *printer = &((const PRINTER_INFO_2A *)buffer)[i];
    fprintf(file, "[Printer%lu]\nName=%s\nPort=%s\nDriver=%s\n\n", (unsigned long)i + 1,
            printer->pPrinterName, printer->pPortName ? printer->pPortName : "",
            printer->pDriverName ? printer->pDriverName : "");
  }
  free(buffer);
  fclose(file);
}

static void WriteRegText(FILE *file, const char *text, DWORD length) {
  DWORD i;
  fputc('"', file);
  for (i = 0; i < length; ++i) {
    if (text[i] == '\\' || text[i] == '"') fputc('\\', file);
    fputc(text[i], file);
  }
  fputc('"', file);
}

static void WriteRegValue(FILE *file, const char *name, DWORD type, const BYTE *data, DWORD size) {
  DWORD i;
  if (name[0])
    WriteRegText(file, name, (DWORD)strlen(name));
  else
    fputc('@', file);
  fputc('=', file);
  if (type == REG_SZ && size > 0 && data[size - 1] == 0 && memchr(data, 0, size) == data + size - 1) {
    WriteRegText(file, (const char *)data, size - 1);
  } else if (type == REG_DWORD && size == 4) {
    fprintf(file, "dword:%08lx", (unsigned long)*(const DWORD *)data);
  } else {
    if (type == REG_BINARY)
      fputs("hex:", file);
    else
      fprintf(file, "hex(%lx):", (unsigned long)type);
    for (i = 0; i < size; ++i) fprintf(file, i ? ",%02x" : "%02x", data[i]);
  }
  fputc('\n', file);
}

/* Each key is opened by its own name under its parent's handle: Wine's ANSI
 * registry calls take no path of more than 260 characters. */
static void ExportKey(FILE *file, HKEY parent, const char *name, const char *path) {
  HKEY key;
  DWORD index;
  char child[16384];
  static BYTE data[65536];
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  fprintf(file, "[HKEY_LOCAL_MACHINE\\%s]\n", path);
  for (index = 0;; ++index) {
    DWORD nameSize = sizeof child, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(key, index, child, &nameSize, NULL, &type, data, &dataSize) != ERROR_SUCCESS) break;
    WriteRegValue(file, child, type, data, dataSize);
  }
  fputc('\n', file);
  for (index = 0;; ++index) {
    DWORD nameSize = sizeof child;
    char childPath[4096];
    if (RegEnumKeyExA(key, index, child, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    if (snprintf(childPath, sizeof childPath, "%s\\%s", path, child) >= (int)sizeof childPath) continue;
    ExportKey(file, key, child, childPath);
  }
  RegCloseKey(key);
}

/* The next backslash that is a separator, not a double-byte trail byte. */
static const char *NextSeparator(const char *text) {
  for (; *text; ++text) {
    if (IsDBCSLeadByte((BYTE)*text) && text[1])
      ++text;
    else if (*text == '\\')
      return text;
  }
  return NULL;
}

/* A subtree named by its full path, opened one key at a time. */
static void ExportPath(FILE *file, const char *path) {
  char name[4096];
  const char *start = path;
  HKEY parent = HKEY_LOCAL_MACHINE;
  for (;;) {
    const char *end = NextSeparator(start);
    size_t length = end ? (size_t)(end - start) : strlen(start);
    HKEY key;
    if (length >= sizeof name) break;
    memcpy(name, start, length);
    name[length] = 0;
    if (!end) {
      ExportKey(file, parent, name, path);
      break;
    }
    if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) break;
    if (parent != HKEY_LOCAL_MACHINE) RegCloseKey(parent);
    parent = key;
    start = end + 1;
  }
  if (parent != HKEY_LOCAL_MACHINE) RegCloseKey(parent);
}

static void WriteRegistry(void) {
  char path[MAX_PATH * 2];
  FILE *file;
  int i;
  snprintf(path, sizeof path, "%s\\registry.reg", control.out);
  file = fopen(path, "wb");
  if (!file) Fail("cannot write registry.reg");
  fputs("REGEDIT4\n\n", file);
  for (i = 0; i < control.exportCount; ++i) ExportPath(file, control.exports[i]);
  fclose(file);
}

/* command.com is started without a wait by the uninstaller: let it finish. */
static void WaitForCommandInterpreters(void) {
  int waited;
  for (waited = 0; waited < 10000; waited += 100) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    int running = 0;
    if (snapshot == INVALID_HANDLE_VALUE) return;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
      if (lstrcmpiA(entry.szExeFile, "command.com") == 0) running = 1;
    CloseHandle(snapshot);
    if (!running) return;
    Sleep(100);
  }
}

int main(int argc, char **argv) {
  HANDLE keepers[MAX_ITEMS], uninstaller, uninstallerThread, holder;
  HHOOK hook;
  char commandLine[MAX_PATH + 2], exe[MAX_PATH];
  DWORD exitCode = 0, started;
  int keeperCount, i;
  if (argc != 2) {
    fprintf(stderr, "usage: qvdriver.exe CONTROL_FILE\n");
    return 2;
  }
  ReadControl(argv[1]);
  PlaceWinInit();
  RegisterPrinterDrivers();
  Step("printer drivers registered");
  ReadShortNames();
  holder = StartHolder();
  keeperCount = StartWindowKeepers(keepers);
  hook = InstallHook();
  Step("files in use held, window keepers and hook in place");
  strcpy(exe, control.exe);
  if (control.exeByShortPath) {
    DWORD length = GetShortPathNameA(control.exe, exe, sizeof exe);
    if (!length || length >= sizeof exe) Fail("the uninstaller's path has no 8.3 form");
  }
  snprintf(commandLine, sizeof commandLine, "\"%s\"", exe);
  if (control.exeByShortPath) printf("qvdriver: starting %s\n", commandLine);
  ArmCut();
  SetDriveDirectories();
  uninstaller = StartProcess(commandLine, control.cwd, &uninstallerId, &uninstallerThread);
  if (!uninstaller) Fail("cannot start the uninstaller");
  LoadJobStandIn(uninstaller, uninstallerThread);
  CloseHandle(uninstallerThread);
  Step("uninstaller started, job stand-in loaded");
  started = GetTickCount();
  for (;;) {
    MSG message;
    DWORD wait = MsgWaitForMultipleObjects(1, &uninstaller, FALSE, 30, QS_ALLINPUT);
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    if (wait == WAIT_OBJECT_0) break;
    EnumWindows(VisitWindow, 0);
    if (GetTickCount() - started > (DWORD)control.timeoutSeconds * 1000) {
      fprintf(stderr, "qvdriver: the uninstaller did not end in %d s\n", control.timeoutSeconds);
      TerminateProcess(uninstaller, 259);
      WaitForSingleObject(uninstaller, 5000);
      break;
    }
  }
  GetExitCodeProcess(uninstaller, &exitCode);
  CloseHandle(uninstaller);
  UnhookWindowsHookEx(hook);
  for (i = 0; i < keeperCount; ++i) {
    TerminateProcess(keepers[i], 0);
    CloseHandle(keepers[i]);
  }
  if (holder) {
    TerminateProcess(holder, 0);
    WaitForSingleObject(holder, 5000);
    CloseHandle(holder);
  }
  Step("uninstaller ended");
  WaitForCommandInterpreters();
  CaptureWinInit();
  WriteResult(exitCode);
  WritePrinters();
  WriteRegistry();
  printf("uninstaller ended with %lu\n", (unsigned long)exitCode);
  return 0;
}
