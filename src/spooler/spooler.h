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
  char KeyName[128];
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
