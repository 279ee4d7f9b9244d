// Takes the monitor out of the spooler: every printer on one of its ports is
// moved to the parallel port, each port is deleted right after its printers,
// and the monitor last. The spooler refuses to delete a port or a monitor that
// a printer still uses, so the order matters. Results are not acted on: a step
// that fails doesn't stop the ones after it, and nothing is retried.
#include "../common/family.h"
#include "../common/text.h"
#include "spooler.h"

namespace {

// Opens with full access, as changing a printer's settings needs it; a
// printer that can't be opened keeps its port.
void MovePrinterToPort(const PRINTER_INFO_2A *enumerated, char *replacementPort) {
  PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
  HANDLE printer;
  if (!OpenPrinterA(enumerated->pPrinterName, &printer, &defaults)) return;
  PRINTER_INFO_2A changed = *enumerated;
  changed.pPortName = replacementPort;
  SetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(&changed), 0);
  ClosePrinter(printer);
}

// The port names are compared exactly, byte for byte.
void DetachAndDeletePort(char *port, PRINTER_INFO_2A *printers, DWORD count, char *replacementPort) {
  for (DWORD i = 0; i < count; ++i)
    if (printers[i].pPortName && TextEqual(printers[i].pPortName, port))
      MovePrinterToPort(&printers[i], replacementPort);
  DeletePortA(NULL, NULL, port);
}

}  // namespace

// Without a snapshot of the printers the ports and the monitor are still
// deleted; the spooler itself refuses those still in use.
void RemovePortsAndMonitor(const char *monitorName) {
  PRINTER_INFO_2A *printers;
  DWORD count;
  EnumLocalPrinters(&printers, &count);
  // The NT family names the parallel port with its colon.
  char replacementPort[8];
  CopyTextWhole(replacementPort, sizeof replacementPort, IsWindowsNt() ? "LPT1:" : "LPT1");
  for (int i = 0; i < portCount; ++i)
    DetachAndDeletePort(portTable[i]->KeyName, printers, count, replacementPort);
  // "Windows 4.0" on both families: the local spooler does not look at it.
  char environment[] = "Windows 4.0";
  // A name with a backslash is no monitor's (a monitor is one key under the
  // Monitors key); some spoolers would delete the registry keys it names.
  // The spooler's prototype takes a writable text but only reads it.
  if (IsSingleKeyName(monitorName)) DeleteMonitorA(NULL, environment, const_cast<char *>(monitorName));
  if (printers) LocalFree(printers);
}
