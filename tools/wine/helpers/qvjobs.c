/* Stands in for the spooler's job lists inside the uninstaller's process.
 * Wine 8's EnumJobsA never reports a job, and a job exists only in the
 * process that made it, so a scenario's waiting jobs cannot be queued from
 * outside. The driver loads this library into the uninstaller before its
 * first instruction runs; the library then redirects three of the
 * executable's imports and leaves everything else to Wine:
 *   OpenPrinterA  goes to Wine; the printer's name is remembered by handle
 *                 and appended to the log named by QV_OPENED_LOG;
 *   ClosePrinter  goes to Wine; the handle is forgotten;
 *   EnumJobsA     answers, for the scenario's printers, from the job list
 *                 named by QV_JOBS, as the spooler would; other printers and
 *                 other levels go to Wine.
 * The job list has one line per printer, "printer=NAME", followed by one
 * line per job, "job=DOCUMENT|STATUS" (STATUS a JOB_STATUS_* number). */
#include <windows.h>
/* winspool.h builds on windows.h. */
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

static ScriptedPrinter printers[MAX_PRINTERS];
static int printerCount;
static OpenHandle handles[MAX_HANDLES];
static char openedLog[MAX_PATH];
static OpenPrinterProc realOpenPrinter;
static ClosePrinterProc realClosePrinter;
static EnumJobsProc realEnumJobs;

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

/* ---- redirecting the executable's imports ------------------------------------------ */

static int Redirect(FARPROC *slot, FARPROC replacement) {
  DWORD old;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return 0;
  *slot = replacement;
  VirtualProtect(slot, sizeof *slot, old, &old);
  return 1;
}

/* The main module's import address table entries that hold winspool's
 * OpenPrinterA, ClosePrinter and EnumJobsA; gives how many were redirected. */
static int RedirectImports(void) {
  HMODULE spooler = GetModuleHandleA("winspool.drv");
  LPBYTE base = (LPBYTE)GetModuleHandleA(NULL);
  const IMAGE_NT_HEADERS *headers;
  const IMAGE_DATA_DIRECTORY *directory;
  const IMAGE_IMPORT_DESCRIPTOR *import;
  int redirected = 0;
  if (!spooler || !base) return 0;
  realOpenPrinter = (OpenPrinterProc)(void (*)(void))GetProcAddress(spooler, "OpenPrinterA");
  realClosePrinter = (ClosePrinterProc)(void (*)(void))GetProcAddress(spooler, "ClosePrinter");
  realEnumJobs = (EnumJobsProc)(void (*)(void))GetProcAddress(spooler, "EnumJobsA");
  if (!realOpenPrinter || !realClosePrinter || !realEnumJobs) return 0;
  headers = (const IMAGE_NT_HEADERS *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
  directory = &headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!directory->VirtualAddress) return 0;
  for (import = (const IMAGE_IMPORT_DESCRIPTOR *)(base + directory->VirtualAddress); import->Name; ++import) {
    FARPROC *slot;
    if (lstrcmpiA((const char *)(base + import->Name), "winspool.drv") != 0) continue;
    for (slot = (FARPROC *)(base + import->FirstThunk); *slot; ++slot) {
      if (*slot == (FARPROC)(void (*)(void))realOpenPrinter)
        redirected += Redirect(slot, (FARPROC)(void (*)(void))QVOpenPrinterA);
      else if (*slot == (FARPROC)(void (*)(void))realClosePrinter)
        redirected += Redirect(slot, (FARPROC)(void (*)(void))QVClosePrinter);
      else if (*slot == (FARPROC)(void (*)(void))realEnumJobs)
        redirected += Redirect(slot, (FARPROC)(void (*)(void))QVEnumJobsA);
    }
  }
  return redirected;
}

/* The driver waits for this before it lets the uninstaller go on, and
 * fails the run when all three imports could not be redirected. */
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
  if (RedirectImports() == 3) SignalLoaded();
  return TRUE;
}
