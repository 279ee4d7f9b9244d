// The local print spooler: the machine's printers (in enumeration order) with
// their queued jobs, and the print monitors with their ports, which live in
// the registry under the Monitors key as the real spooler keeps them. Port
// and monitor names match regardless of case, as the spooler matches them; a
// pooled printer uses every port of its comma list.
#include <string.h>

#include <algorithm>
#include <map>

#include "machine.h"

using sim::Machine;
using sim::Printer;

namespace {
const DWORD kErrorInvalidLevel = 124;  // ERROR_INVALID_LEVEL
const DWORD kErrorInvalidName = ERROR_INVALID_NAME;
const ACCESS_MASK kPrinterAccessAdminister = 0x00000004;
const char kMonitorsRoot[] = "System\\CurrentControlSet\\Control\\Print\\Monitors";

// Rights granted to each open printer handle; written on every open, so an
// entry left from an earlier run is never read for a live handle.
std::map<uintptr_t, ACCESS_MASK> grantedAccess;

std::string Number(uint64_t value) { return std::to_string(value); }

std::string Pointer(const void *pointer) {
  return pointer ? sim::Hex(reinterpret_cast<uintptr_t>(pointer)) : std::string("(null)");
}

// Only this machine's spooler is here: NULL or "" names it.
bool IsLocalServer(const char *name) { return !name || !*name; }

bool SameName(const Machine &m, const std::string &a, const std::string &b) {
  return sim::Fold(m, a) == sim::Fold(m, b);
}

Printer *FindPrinter(Machine &m, const std::string &name) {
  for (Printer &printer : m.printers)
    if (SameName(m, printer.name, name)) return &printer;
  return nullptr;
}

// The printer an open handle stands for, or NULL (unknown handle, or the
// printer is gone).
Printer *PrinterOf(Machine &m, HANDLE handle) {
  auto it = m.openPrinters.find(reinterpret_cast<uintptr_t>(handle));
  return it == m.openPrinters.end() ? nullptr : FindPrinter(m, it->second);
}

bool PrinterUsesPort(const Machine &m, const Printer &printer, const std::string &port) {
  size_t start = 0;
  while (start <= printer.port.size()) {
    size_t comma = printer.port.find(',', start);
    if (comma == std::string::npos) comma = printer.port.size();
    if (SameName(m, printer.port.substr(start, comma - start), port)) return true;
    start = comma + 1;
  }
  return false;
}

bool PortInUse(const Machine &m, const std::string &port) {
  for (const Printer &printer : m.printers)
    if (PrinterUsesPort(m, printer, port)) return true;
  return false;
}

sim::RegKey *ChildNamed(const Machine &m, sim::RegKey &parent, const std::string &name) {
  for (auto &child : parent.subkeys)
    if (SameName(m, child->name, name)) return child.get();
  return nullptr;
}

void RemoveChild(sim::RegKey &parent, const sim::RegKey *child) {
  for (auto it = parent.subkeys.begin(); it != parent.subkeys.end(); ++it) {
    if (it->get() == child) {
      parent.subkeys.erase(it);
      return;
    }
  }
}

sim::RegKey *PortsOf(const Machine &m, sim::RegKey &monitor) { return ChildNamed(m, monitor, "Ports"); }

// Lays records out from the start of a caller's buffer and their strings from
// its end, as the spooler does, so that the records point into the buffer.
// Without a buffer it only measures, so sizes and layout never disagree.
class RecordPacker {
 public:
  RecordPacker(LPBYTE buffer, DWORD size) : records_(buffer), strings_(buffer ? buffer + size : nullptr) {}

  template <typename Record>
  Record *NextRecord() {
    static Record measuring;
    needed_ += sizeof(Record);
    Record *record = records_ ? reinterpret_cast<Record *>(records_) : &measuring;
    memset(record, 0, sizeof(Record));
    if (records_) records_ += sizeof(Record);
    return record;
  }

  LPSTR String(const std::string &text) {
    needed_ += static_cast<DWORD>(text.size() + 1);
    if (!strings_) return nullptr;
    strings_ -= text.size() + 1;
    memcpy(strings_, text.c_str(), text.size() + 1);
    return reinterpret_cast<LPSTR>(strings_);
  }

  DWORD Needed() const { return needed_; }

 private:
  LPBYTE records_;
  LPBYTE strings_;
  DWORD needed_ = 0;
};

void PackPrinterInfo2(RecordPacker &packer, const Printer &p) {
  PRINTER_INFO_2A *info = packer.NextRecord<PRINTER_INFO_2A>();
  info->pServerName = nullptr;  // a local printer
  info->pPrinterName = packer.String(p.name);
  info->pShareName = packer.String(p.shareName);
  info->pPortName = packer.String(p.port);
  info->pDriverName = packer.String(p.driver);
  info->pComment = packer.String(p.comment);
  info->pLocation = packer.String(p.location);
  info->pSepFile = packer.String("");
  info->pPrintProcessor = packer.String(p.printProcessor);
  info->pDatatype = packer.String(p.datatype);
  info->pParameters = packer.String("");
  info->Attributes = p.attributes;
  info->Priority = 1;
  info->cJobs = static_cast<DWORD>(p.jobs.size());
}

void PackJobInfo1(RecordPacker &packer, const Printer &p, size_t index) {
  const sim::PrintJob &job = p.jobs[index];
  JOB_INFO_1A *info = packer.NextRecord<JOB_INFO_1A>();
  info->JobId = static_cast<DWORD>(index + 1);
  info->pPrinterName = packer.String(p.name);
  info->pMachineName = packer.String("");
  info->pUserName = packer.String("");
  info->pDocument = packer.String(job.document);
  info->pDatatype = packer.String(p.datatype);
  info->pStatus = nullptr;  // the status is in Status
  info->Status = job.status;
  info->Priority = 1;
  info->Position = static_cast<DWORD>(index + 1);
}

// The size protocol of the enumerations: a buffer too small (or none) fails
// with ERROR_INSUFFICIENT_BUFFER and reports the size needed.
bool FitsBuffer(Machine &m, DWORD needed, LPBYTE buffer, DWORD size, LPDWORD pcbNeeded, LPDWORD pcReturned) {
  *pcbNeeded = needed;
  *pcReturned = 0;
  if (needed > 0 && (!buffer || size < needed)) return sim::Fail(m, ERROR_INSUFFICIENT_BUFFER);
  return true;
}

bool EnumPrinters(Machine &m, DWORD flags, const char *name, DWORD level, LPBYTE buffer, DWORD size,
                  LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (!pcbNeeded || !pcReturned) return sim::Fail(m, ERROR_INVALID_PARAMETER);
  if (level != 2) return sim::Fail(m, kErrorInvalidLevel);
  if (!IsLocalServer(name)) return sim::Fail(m, kErrorInvalidName);
  std::vector<const Printer *> listed;
  if (flags & PRINTER_ENUM_LOCAL)
    for (const Printer &printer : m.printers) listed.push_back(&printer);
  RecordPacker measure(nullptr, 0);
  for (const Printer *printer : listed) PackPrinterInfo2(measure, *printer);
  if (!FitsBuffer(m, measure.Needed(), buffer, size, pcbNeeded, pcReturned)) return false;
  RecordPacker packer(buffer, size);
  for (const Printer *printer : listed) PackPrinterInfo2(packer, *printer);
  *pcReturned = static_cast<DWORD>(listed.size());
  return true;
}

bool OpenPrinter(Machine &m, const char *name, HANDLE *handle, const PRINTER_DEFAULTSA *defaults) {
  if (!handle) return sim::Fail(m, ERROR_INVALID_PARAMETER);
  Printer *printer = name ? FindPrinter(m, name) : nullptr;
  if (!printer) return sim::Fail(m, ERROR_INVALID_PRINTER_NAME);
  if (printer->refuseOpen) return sim::Fail(m, ERROR_ACCESS_DENIED);
  uintptr_t value = sim::NewHandle(m);
  m.openPrinters[value] = printer->name;
  grantedAccess[value] = defaults && defaults->DesiredAccess ? defaults->DesiredAccess : PRINTER_ACCESS_USE;
  *handle = reinterpret_cast<HANDLE>(value);
  return true;
}

bool ClosePrinterHandle(Machine &m, HANDLE handle) {
  auto it = m.openPrinters.find(reinterpret_cast<uintptr_t>(handle));
  if (it == m.openPrinters.end()) return sim::Fail(m, ERROR_INVALID_HANDLE);
  grantedAccess.erase(it->first);
  m.openPrinters.erase(it);
  return true;
}

bool EnumJobs(Machine &m, HANDLE handle, DWORD firstJob, DWORD noJobs, DWORD level, LPBYTE buffer, DWORD size,
              LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (!pcbNeeded || !pcReturned) return sim::Fail(m, ERROR_INVALID_PARAMETER);
  const Printer *printer = PrinterOf(m, handle);
  if (!printer) return sim::Fail(m, ERROR_INVALID_HANDLE);
  if (level != 1) return sim::Fail(m, kErrorInvalidLevel);
  size_t first = std::min<size_t>(firstJob, printer->jobs.size());
  size_t end = first + std::min<size_t>(noJobs, printer->jobs.size() - first);
  RecordPacker measure(nullptr, 0);
  for (size_t i = first; i < end; ++i) PackJobInfo1(measure, *printer, i);
  if (!FitsBuffer(m, measure.Needed(), buffer, size, pcbNeeded, pcReturned)) return false;
  RecordPacker packer(buffer, size);
  for (size_t i = first; i < end; ++i) PackJobInfo1(packer, *printer, i);
  *pcReturned = static_cast<DWORD>(end - first);
  return true;
}

std::string Field(const char *text) { return text ? std::string(text) : std::string(); }

// Takes the record's settings, its port stored as given; renaming a printer
// is not modelled, so pPrinterName is not looked at.
bool SetPrinter(Machine &m, HANDLE handle, DWORD level, const PRINTER_INFO_2A *info, DWORD command) {
  Printer *printer = PrinterOf(m, handle);
  if (!printer) return sim::Fail(m, ERROR_INVALID_HANDLE);
  if (level != 2) return sim::Fail(m, kErrorInvalidLevel);
  if (!info || command != 0) return sim::Fail(m, ERROR_INVALID_PARAMETER);
  if (!(grantedAccess[reinterpret_cast<uintptr_t>(handle)] & kPrinterAccessAdminister))
    return sim::Fail(m, ERROR_ACCESS_DENIED);
  if (!info->pPortName || !*info->pPortName) return sim::Fail(m, ERROR_UNKNOWN_PORT);
  printer->port = info->pPortName;
  printer->shareName = Field(info->pShareName);
  printer->driver = Field(info->pDriverName);
  printer->comment = Field(info->pComment);
  printer->location = Field(info->pLocation);
  printer->printProcessor = Field(info->pPrintProcessor);
  printer->datatype = Field(info->pDatatype);
  printer->attributes = info->Attributes;
  return true;
}

bool DeletePort(Machine &m, const char *server, const char *port) {
  if (!IsLocalServer(server)) return sim::Fail(m, kErrorInvalidName);
  sim::RegKey *monitors = sim::FindKey(m, kMonitorsRoot);
  if (!port || !monitors) return sim::Fail(m, ERROR_UNKNOWN_PORT);
  for (auto &monitor : monitors->subkeys) {
    sim::RegKey *ports = PortsOf(m, *monitor);
    sim::RegKey *key = ports ? ChildNamed(m, *ports, port) : nullptr;
    if (!key) continue;
    if (PortInUse(m, port)) return sim::Fail(m, ERROR_BUSY);
    RemoveChild(*ports, key);
    return true;
  }
  return sim::Fail(m, ERROR_UNKNOWN_PORT);
}

bool MonitorInUse(const Machine &m, sim::RegKey &monitor) {
  sim::RegKey *ports = PortsOf(m, monitor);
  if (!ports) return false;
  for (const auto &port : ports->subkeys)
    if (PortInUse(m, port->name)) return true;
  return false;
}

// The environment is not looked at: the local spooler ignores it here.
bool DeleteMonitor(Machine &m, const char *server, const char *name) {
  if (!IsLocalServer(server)) return sim::Fail(m, kErrorInvalidName);
  sim::RegKey *monitors = sim::FindKey(m, kMonitorsRoot);
  sim::RegKey *monitor = monitors && name && *name ? ChildNamed(m, *monitors, name) : nullptr;
  if (!monitor) return sim::Fail(m, ERROR_UNKNOWN_PRINT_MONITOR);
  if (MonitorInUse(m, *monitor)) return sim::Fail(m, ERROR_PRINT_MONITOR_IN_USE);
  RemoveChild(*monitors, monitor);
  return true;
}

BOOL Logged(Machine &m, const char *function, std::vector<std::string> args, bool ok) {
  sim::Log(m, function, std::move(args), ok ? "1" : "0");
  return ok ? TRUE : FALSE;
}
}  // namespace

BOOL WINAPI EnumPrintersA(DWORD Flags, LPSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
  Machine &m = sim::Current();
  bool ok = !sim::ShouldFail(m, "EnumPrintersA") &&
            EnumPrinters(m, Flags, Name, Level, pPrinterEnum, cbBuf, pcbNeeded, pcReturned);
  return Logged(m, "EnumPrintersA",
                {Number(Flags), sim::Text(Name), Number(Level), Pointer(pPrinterEnum), Number(cbBuf)}, ok);
}

BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, HANDLE *phPrinter, LPPRINTER_DEFAULTSA pDefault) {
  Machine &m = sim::Current();
  bool ok = !sim::ShouldFail(m, "OpenPrinterA") && OpenPrinter(m, pPrinterName, phPrinter, pDefault);
  std::string access = pDefault ? sim::Hex(pDefault->DesiredAccess) : std::string("(null)");
  return Logged(m, "OpenPrinterA", {sim::Text(pPrinterName), access}, ok);
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  Machine &m = sim::Current();
  bool ok = !sim::ShouldFail(m, "ClosePrinter") && ClosePrinterHandle(m, hPrinter);
  return Logged(m, "ClosePrinter", {Pointer(hPrinter)}, ok);
}

BOOL WINAPI EnumJobsA(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned) {
  Machine &m = sim::Current();
  bool ok = !sim::ShouldFail(m, "EnumJobsA") &&
            EnumJobs(m, hPrinter, FirstJob, NoJobs, Level, pJob, cbBuf, pcbNeeded, pcReturned);
  return Logged(
      m, "EnumJobsA",
      {Pointer(hPrinter), Number(FirstJob), Number(NoJobs), Number(Level), Pointer(pJob), Number(cbBuf)}, ok);
}

BOOL WINAPI SetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
  Machine &m = sim::Current();
  const PRINTER_INFO_2A *info = Level == 2 ? reinterpret_cast<const PRINTER_INFO_2A *>(pPrinter) : nullptr;
  std::string port = info ? sim::Text(info->pPortName) : Pointer(pPrinter);
  bool ok = !sim::ShouldFail(m, "SetPrinterA") && SetPrinter(m, hPrinter, Level, info, Command);
  return Logged(m, "SetPrinterA", {Pointer(hPrinter), Number(Level), port, Number(Command)}, ok);
}

BOOL WINAPI DeletePortA(LPSTR pName, HWND hWnd, LPSTR pPortName) {
  Machine &m = sim::Current();
  bool ok = !sim::ShouldFail(m, "DeletePortA") && DeletePort(m, pName, pPortName);
  return Logged(m, "DeletePortA", {sim::Text(pName), Pointer(hWnd), sim::Text(pPortName)}, ok);
}

BOOL WINAPI DeleteMonitorA(LPSTR pName, LPSTR pEnvironment, LPSTR pMonitorName) {
  Machine &m = sim::Current();
  bool ok = !sim::ShouldFail(m, "DeleteMonitorA") && DeleteMonitor(m, pName, pMonitorName);
  return Logged(m, "DeleteMonitorA", {sim::Text(pName), sim::Text(pEnvironment), sim::Text(pMonitorName)},
                ok);
}
