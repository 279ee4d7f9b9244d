// Print spooler integration: the monitor's registry values and port table,
// the pending-job check, and the removal of the ports and the monitor.
#pragma once

#include "../win32.h"

#define MONITORS_ROOT "System\\CurrentControlSet\\Control\\Print\\Monitors"

// The fixed buffers the monitor's key paths are composed in. A path that
// does not fit whole is never opened: a cut one names another key.
enum { kMonitorKeyPathSize = 256, kPortsKeyPathSize = 256, kPortKeyPathSize = 260 };
// The longest monitor name whose every key path fits (the Ports key path is
// the tightest). A longer name is taken for no monitor at all: with its
// ports out of reach, its jobs could not be checked nor its ports deleted.
enum { kMonitorNameMax = kPortsKeyPathSize - sizeof(MONITORS_ROOT "\\" /* name */ "\\Ports") };
// What the port table keeps of a port's "PortName": 32 characters.
enum { kPortNameReadSize = 33 };

// The monitor's values as the monitor keeps them. Only InstallPath is used
// (to find _SETUP.DLL); the others are read into their fields all the same,
// each bounded by its field, and stay for the record's shape.
struct MonitorInfo {
  char InstallPath[260];
  char helpfile[260];
  char popupmon[260];
  char Version[12];
};

// One port and the settings stored under its key. Only KeyName is used (the
// port is deleted by it); the settings are the monitor's own and are read
// without being acted on.
struct PortRecord {
  // As wide as the enumeration's name buffer, so that every port name that
  // can be enumerated is kept whole: the port is deleted by this name.
  char KeyName[MAX_PATH];
  DWORD AutoOrManual;
  DWORD CmdAckTmout;
  DWORD CmdSendTmout;
  DWORD DatAckTmout;
  DWORD DatSendTmout;
  char HostName[64];
  char PortName[64];
  DWORD SerialNo;
  DWORD SNNumber;
};

// The port table: portCount records, each allocated on its own.
extern int portCount;
extern PortRecord **portTable;

int ReadMonitorInfo(MonitorInfo *info, const char *monitorName);
// 1 when the monitor has its key under the Monitors key.
int MonitorIsRegistered(const char *monitorName);
void LoadPortTable(const char *monitorName);
int ReadDwordValue(HKEY key, const char *valueName, DWORD *destination);
void FreePortTable(void);
int NoJobsPending(const char *monitorName);
int PortBelongsToMonitor(const char *monitorName, const char *portName);
void RemovePortsAndMonitor(const char *monitorName);

// Shared by the operations above.

// 1 when name can stand as one registry key name in a path: not empty and
// without a backslash (found DBCS-aware). Anything else would name another key.
int IsSingleKeyName(const char *name);

// Reads a registry value as text into field (capacity bytes, at most
// MAX_PATH), whatever its stored type. Gives 1 with the field set, terminated,
// when the value is there and fits with its terminator; otherwise 0 with the
// field as it was.
int ReadTextValue(HKEY key, const char *valueName, char *field, DWORD capacity);

// The local printers as PRINTER_INFO_2A records, by the spooler's two-call
// size protocol. Gives 0 only when the buffer can't be allocated; an
// enumeration that fails gives an empty list. *printers, when not NULL, is
// released by the caller with LocalFree.
int EnumLocalPrinters(PRINTER_INFO_2A **printers, DWORD *count);
