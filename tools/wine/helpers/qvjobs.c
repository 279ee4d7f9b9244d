/* Stands in, inside the uninstaller's process, for what cannot be laid down
 * or done from outside it. Wine 8's EnumJobsA never reports a job, and a job
 * exists only in the process that made it, so a scenario's waiting jobs
 * cannot be queued from outside; and a run cut short at a chosen progress
 * step must end at exactly that step, which no outside observer can time.
 * The driver loads this library into the uninstaller before its first
 * instruction runs; the library then redirects some of the executable's
 * imports and leaves everything else to Wine:
 *   OpenPrinterA  goes to Wine; the printer's name is remembered by handle
 *                 and appended to the log named by QV_OPENED_LOG;
 *   ClosePrinter  goes to Wine; the handle is forgotten;
 *   EnumJobsA     answers, for the scenario's printers, from the job list
 *                 named by QV_JOBS, as the spooler would; other printers and
 *                 other levels go to Wine;
 *   SendMessageA  only when QV_CUT_AFTER_STEPS holds a count N: goes to Wine,
 *                 and once the N-th PBM_STEPIT has returned the process ends
 *                 at once, as the user's "End task" ends it (TerminateProcess
 *                 with exit code 1), after setting the driver's event
 *                 QVUninstallerCut so that the driver can tell the cut.
 * The job list has one line per printer, "printer=NAME", followed by one
 * line per job, "job=DOCUMENT|STATUS" (STATUS a JOB_STATUS_* number). */
#include <windows.h>
/* commctrl.h and winspool.h build on windows.h. */
#include <commctrl.h>
#include <winspool.h>

#define MAX_PRINTERS 32
#define MAX_JOBS 16
#define MAX_HANDLES 64
#define TEXT_SIZE 256

typedef struct {
  char name[TEXT_SIZE];
  int jobCount;
  char documents[MAX_JOBS][TEXT_SIZE];
  DWORD statuses[MAX_JOBS];
} ScriptedPrinter;

typedef struct {
  HANDLE handle;
  const ScriptedPrinter *printer; /* NULL: not one of the scenario's */
} OpenHandle;

typedef BOOL(WINAPI *OpenPrinterProc)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
typedef BOOL(WINAPI *ClosePrinterProc)(HANDLE);
typedef BOOL(WINAPI *EnumJobsProc)(HANDLE, DWORD, DWORD, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
typedef LRESULT(WINAPI *SendMessageProc)(HWND, UINT, WPARAM, LPARAM);

static ScriptedPrinter printers[MAX_PRINTERS];
static int printerCount;
static OpenHandle handles[MAX_HANDLES];
static char openedLog[MAX_PATH];
static OpenPrinterProc realOpenPrinter;
static ClosePrinterProc realClosePrinter;
static EnumJobsProc realEnumJobs;
static SendMessageProc realSendMessage;
static LONG cutAfterSteps; /* 0: the run is not cut */
static LONG stepsTaken;

/* ---- the job list ---------------------------------------------------------- */

static void TrimLineEnd(char *line) {
  int length = lstrlenA(line);
  while (length && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
}

static int StartsWith(const char *text, const char *prefix) {
  while (*prefix)
    if (*text++ != *prefix++) return 0;
  return 1;
}

static void CopyBounded(char *out, const char *in) { lstrcpynA(out, in, TEXT_SIZE); }

static void TakeLine(char *line) {
  TrimLineEnd(line);
  if (StartsWith(line, "printer=") && printerCount < MAX_PRINTERS) {
    CopyBounded(printers[printerCount++].name, line + 8);
  } else if (StartsWith(line, "job=") && printerCount > 0) {
    ScriptedPrinter *printer = &printers[printerCount - 1];
    char *bar;
    if (printer->jobCount >= MAX_JOBS) return;
    bar = line + 4;
    while (*bar && *bar != '|') ++bar;
    printer->statuses[printer->jobCount] = 0;
    if (*bar) {
      const char *digit;
      *bar = 0;
      for (digit = bar + 1; *digit >= '0' && *digit <= '9'; ++digit)
        printer->statuses[printer->jobCount] =
            printer->statuses[printer->jobCount] * 10 + (DWORD)(*digit - '0');
    }
    CopyBounded(printer->documents[printer->jobCount], line + 4);
    ++printer->jobCount;
  }
}

static void ReadJobList(void) {
  char path[MAX_PATH], data[16384], *line, *cursor;
  DWORD length = GetEnvironmentVariableA("QV_JOBS", path, sizeof path), read = 0;
  HANDLE file;
  if (length == 0 || length >= sizeof path) return;
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  ReadFile(file, data, sizeof data - 1, &read, NULL);
  CloseHandle(file);
  data[read] = 0;
  for (line = cursor = data;; ++cursor) {
    if (*cursor == '\n' || *cursor == 0) {
      int end = *cursor == 0;
      *cursor = 0;
      TakeLine(line);
      if (end) break;
      line = cursor + 1;
    }
  }
}

static const ScriptedPrinter *ScriptedPrinterNamed(const char *name) {
  int i;
  for (i = 0; name && i < printerCount; ++i)
    if (lstrcmpiA(printers[i].name, name) == 0) return &printers[i];
  return NULL;
}

/* ---- the redirected imports -------------------------------------------------- */

static void LogOpened(const char *name) {
  HANDLE file;
  DWORD written;
  if (!openedLog[0]) return;
  file = CreateFileA(openedLog, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  WriteFile(file, name ? name : "", name ? (DWORD)lstrlenA(name) : 0, &written, NULL);
  WriteFile(file, "\r\n", 2, &written, NULL);
  CloseHandle(file);
}

static BOOL WINAPI QVOpenPrinterA(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
  BOOL opened = realOpenPrinter(name, printer, defaults);
  DWORD error = GetLastError();
  int i;
  LogOpened(name);
  if (opened) {
    for (i = 0; i < MAX_HANDLES; ++i) {
      if (handles[i].handle) continue;
      handles[i].handle = *printer;
      handles[i].printer = ScriptedPrinterNamed(name);
      break;
    }
  }
  SetLastError(error);
  return opened;
}

static BOOL WINAPI QVClosePrinter(HANDLE printer) {
  int i;
  for (i = 0; i < MAX_HANDLES; ++i)
    if (handles[i].handle == printer) handles[i].handle = NULL;
  return realClosePrinter(printer);
}

static const ScriptedPrinter *ScriptedPrinterOf(HANDLE printer) {
  int i;
  for (i = 0; printer && i < MAX_HANDLES; ++i)
    if (handles[i].handle == printer) return handles[i].printer;
  return NULL;
}

static DWORD TextBytes(const char *text) { return (DWORD)lstrlenA(text) + 1; }

/* Records first, their texts packed from the end of the buffer down, as the
 * spooler lays out its answers. */
static char *PackText(LPBYTE *end, const char *text) {
  DWORD size = TextBytes(text);
  *end -= size;
  lstrcpyA((char *)*end, text);
  return (char *)*end;
}

static BOOL WINAPI QVEnumJobsA(HANDLE printer, DWORD firstJob, DWORD jobCount, DWORD level, LPBYTE buffer,
                               DWORD size, LPDWORD needed, LPDWORD returned) {
  const ScriptedPrinter *scripted = ScriptedPrinterOf(printer);
  DWORD first, end, i, bytes = 0;
  LPBYTE textEnd;
  if (!scripted || level != 1)
    return realEnumJobs(printer, firstJob, jobCount, level, buffer, size, needed, returned);
  if (!needed || !returned) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  first = firstJob < (DWORD)scripted->jobCount ? firstJob : (DWORD)scripted->jobCount;
  end = first + (jobCount < (DWORD)scripted->jobCount - first ? jobCount : (DWORD)scripted->jobCount - first);
  for (i = first; i < end; ++i)
    bytes += sizeof(JOB_INFO_1A) + TextBytes(scripted->name) + TextBytes(scripted->documents[i]) +
             TextBytes("RAW");
  *needed = bytes;
  *returned = 0;
  if (bytes > size || (bytes && !buffer)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  textEnd = buffer + bytes;
  for (i = first; i < end; ++i) {
    JOB_INFO_1A *job = &((JOB_INFO_1A *)buffer)[i - first];
    ZeroMemory(job, sizeof *job);
    job->JobId = i + 1;
    job->pPrinterName = PackText(&textEnd, scripted->name);
    job->pDocument = PackText(&textEnd, scripted->documents[i]);
    job->pDatatype = PackText(&textEnd, "RAW");
    job->Status = scripted->statuses[i];
    job->Position = i + 1;
    job->TotalPages = 1;
  }
  *returned = end - first;
  return TRUE;
}

/* ---- the cut ---------------------------------------------------------------- */

#define CUT_EXIT_CODE 1 /* what the user's "End task" ends a process with */

/* QV_CUT_AFTER_STEPS as a positive decimal count; 0 for none or anything else. */
static LONG ReadCutAfterSteps(void) {
  char text[16];
  DWORD length = GetEnvironmentVariableA("QV_CUT_AFTER_STEPS", text, sizeof text), i;
  LONG count = 0;
  if (length == 0 || length >= sizeof text) return 0;
  for (i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9' || count > 100000) return 0;
    count = count * 10 + (text[i] - '0');
  }
  return count;
}

static void EndProcessAsCut(void) {
  HANDLE cut = OpenEventA(EVENT_MODIFY_STATE, FALSE, "QVUninstallerCut");
  if (cut) SetEvent(cut);
  TerminateProcess(GetCurrentProcess(), CUT_EXIT_CODE);
}

static LRESULT WINAPI QVSendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = realSendMessage(window, message, wParam, lParam);
  if (message == PBM_STEPIT && InterlockedIncrement(&stepsTaken) == cutAfterSteps) EndProcessAsCut();
  return result;
}

/* ---- redirecting the executable's imports ------------------------------------------ */

typedef struct {
  const char *module, *function;
  FARPROC replacement;
  FARPROC *real; /* set to the module's own export */
} Redirection;

static int Redirect(FARPROC *slot, FARPROC replacement) {
  DWORD old;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return 0;
  *slot = replacement;
  VirtualProtect(slot, sizeof *slot, old, &old);
  return 1;
}

/* The main module's import address table entries that hold one module's
 * export go to the replacement; gives how many were redirected. */
static int RedirectImport(const Redirection *redirection) {
  HMODULE module = GetModuleHandleA(redirection->module);
  LPBYTE base = (LPBYTE)GetModuleHandleA(NULL);
  const IMAGE_NT_HEADERS *headers;
  const IMAGE_DATA_DIRECTORY *directory;
  const IMAGE_IMPORT_DESCRIPTOR *import;
  int redirected = 0;
  if (!module || !base) return 0;
  *redirection->real = GetProcAddress(module, redirection->function);
  if (!*redirection->real) return 0;
  headers = (const IMAGE_NT_HEADERS *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
  directory = &headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!directory->VirtualAddress) return 0;
  for (import = (const IMAGE_IMPORT_DESCRIPTOR *)(base + directory->VirtualAddress); import->Name; ++import) {
    FARPROC *slot;
    if (lstrcmpiA((const char *)(base + import->Name), redirection->module) != 0) continue;
    for (slot = (FARPROC *)(base + import->FirstThunk); *slot; ++slot)
      if (*slot == *redirection->real) redirected += Redirect(slot, redirection->replacement);
  }
  return redirected;
}

#define AS_PROC(function) ((FARPROC)(void (*)(void))(function))

/* Each redirection asked for must have found its import; the cut's only
 * when a cut is asked for. */
static int RedirectImports(void) {
  const Redirection redirections[] = {
      {"winspool.drv", "OpenPrinterA", AS_PROC(QVOpenPrinterA), (FARPROC *)&realOpenPrinter},
      {"winspool.drv", "ClosePrinter", AS_PROC(QVClosePrinter), (FARPROC *)&realClosePrinter},
      {"winspool.drv", "EnumJobsA", AS_PROC(QVEnumJobsA), (FARPROC *)&realEnumJobs},
      {"user32.dll", "SendMessageA", AS_PROC(QVSendMessageA), (FARPROC *)&realSendMessage}};
  int count = cutAfterSteps ? 4 : 3, i;
  for (i = 0; i < count; ++i)
    if (!RedirectImport(&redirections[i])) return 0;
  return 1;
}

/* The driver waits for this before it lets the uninstaller go on, and
 * fails the run when an import could not be redirected. */
static void SignalLoaded(void) {
  HANDLE loaded = OpenEventA(EVENT_MODIFY_STATE, FALSE, "QVJobStandInLoaded");
  if (!loaded) return;
  SetEvent(loaded);
  CloseHandle(loaded);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  DWORD length;
  (void)instance;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  length = GetEnvironmentVariableA("QV_OPENED_LOG", openedLog, sizeof openedLog);
  if (length >= sizeof openedLog) openedLog[0] = 0;
  ReadJobList();
  cutAfterSteps = ReadCutAfterSteps();
  if (RedirectImports()) SignalLoaded();
  return TRUE;
}
