// Print spooler integration: the monitor's registry values and port table,
// the pending-job check, and the removal of the ports and the monitor.
#pragma once

#include "../win32.h"

#define MONITORS_ROOT "System\\CurrentControlSet\\Control\\Print\\Monitors"

struct MonitorInfo {
  char InstallPath[260];
  char helpfile[260];
  char popupmon[260];
  char Version[12];
};

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
