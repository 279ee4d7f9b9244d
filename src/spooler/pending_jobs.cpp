// The pending-job check made before the user is asked: no job may wait on a
// printer that prints through one of the monitor's ports. Whether a port is
// the monitor's is the registry's answer (a key under its Ports key), so the
// name matches regardless of case.
#include "../common/text.h"
#include "spooler.h"

namespace {

// Asks for at most four jobs: only whether there is one matters. A job list
// that can't be allocated counts as none. The second call is keyed on the
// size the first reported, not on its error code: a spooler that reports the
// size with another code must not make jobs look absent.
int PrinterHasJobs(HANDLE printer) {
  DWORD needed = 0;
  DWORD returned = 0;
  EnumJobsA(printer, 0, 4, 1, NULL, 0, &needed, &returned);
  if (needed == 0) return 0;
  LPBYTE jobs = static_cast<LPBYTE>(LocalAlloc(LPTR, needed));
  if (!jobs) return 0;
  int hasJobs = EnumJobsA(printer, 0, 4, 1, jobs, needed, &needed, &returned) && returned >= 1;
  LocalFree(jobs);
  return hasJobs;
}

}  // namespace

int EnumLocalPrinters(PRINTER_INFO_2A **printers, DWORD *count) {
  *printers = NULL;
  *count = 0;
  DWORD needed = 0;
  DWORD returned = 0;
  // As for the jobs: a reported size is asked for, whatever the error code.
  EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &returned);
  if (needed == 0) return 1;  // no printers, or none that can be listed
  LPBYTE buffer = static_cast<LPBYTE>(LocalAlloc(LPTR, needed));
  if (!buffer) return 0;
  if (!EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, buffer, needed, &needed, &returned)) {
    LocalFree(buffer);
    return 1;
  }
  *printers = reinterpret_cast<PRINTER_INFO_2A *>(buffer);
  *count = returned;
  return 1;
}

// A port name that can't be one key name, or whose path doesn't fit, is not the monitor's.
int PortBelongsToMonitor(const char *monitorName, const char *portName) {
  char path[kPortKeyPathSize];
  HKEY key;
  if (!portName || !IsSingleKeyName(monitorName) || !IsSingleKeyName(portName) ||
      !FormatTextWhole(path, sizeof path, "%s\\%s\\Ports\\%s", MONITORS_ROOT, monitorName, portName) ||
      RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS)
    return 0;
  RegCloseKey(key);
  return 1;
}

// A printer list that can't be allocated refuses, as if jobs were pending.
int NoJobsPending(const char *monitorName) {
  PRINTER_INFO_2A *printers;
  DWORD count;
  if (!EnumLocalPrinters(&printers, &count)) return 0;
  int result = 1;
  for (DWORD i = 0; i < count && result; ++i) {
    HANDLE printer;
    if (!PortBelongsToMonitor(monitorName, printers[i].pPortName) ||
        !OpenPrinterA(printers[i].pPrinterName, &printer, NULL))
      continue;
    if (PrinterHasJobs(printer)) result = 0;
    ClosePrinter(printer);
  }
  if (printers) LocalFree(printers);
  return result;
}
