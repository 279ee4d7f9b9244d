// The port table: the monitor's ports, one record per subkey of its Ports key
// in enumeration order, with the settings stored under each. Only a port whose
// key could be read whole is kept, so every record carries the exact name the
// port is deleted by.
#include "../common/text.h"
#include "spooler.h"

int portCount;
PortRecord **portTable;

namespace {

// Counts the subkeys up to the first index that can't be enumerated, whatever the error.
int CountSubkeys(HKEY key) {
  char name[MAX_PATH];
  int count = 0;
  while (RegEnumKeyA(key, static_cast<DWORD>(count), name, sizeof name) == ERROR_SUCCESS) ++count;
  return count;
}

// The array and every record before any is filled; a record that can't be
// allocated is a port left out.
int AllocatePortTable(int count) {
  portTable = static_cast<PortRecord **>(LocalAlloc(LPTR, static_cast<SIZE_T>(count) * sizeof(PortRecord *)));
  if (!portTable) return 0;
  for (int i = 0; i < count; ++i)
    portTable[i] = static_cast<PortRecord *>(LocalAlloc(LPTR, sizeof(PortRecord)));
  return 1;
}

// The stored settings are the monitor's own; a value missing or of another
// type leaves its field as it was.
void ReadPortSettings(HKEY port, PortRecord *record) {
  ReadDwordValue(port, "CmdSendTmout", &record->CmdSendTmout);
  ReadDwordValue(port, "DatSendTmout", &record->DatSendTmout);
  ReadDwordValue(port, "CmdAckTmout", &record->CmdAckTmout);
  ReadDwordValue(port, "DatAckTmout", &record->DatAckTmout);
  ReadDwordValue(port, "SNNumber", &record->SNNumber);
  ReadDwordValue(port, "AutoOrManual", &record->AutoOrManual);
  ReadDwordValue(port, "SerialNo", &record->SerialNo);
  ReadTextValue(port, "HostName", record->HostName, sizeof record->HostName);
  ReadTextValue(port, "PortName", record->PortName, kPortNameReadSize);
}

// Fills record from the port at index; 0 when its name or its key can't be read whole.
int ReadPortRecord(HKEY ports, const char *portsPath, DWORD index, PortRecord *record) {
  char name[sizeof record->KeyName];
  char path[kPortKeyPathSize];
  HKEY port;
  if (RegEnumKeyA(ports, index, name, sizeof name) != ERROR_SUCCESS || !IsSingleKeyName(name) ||
      !FormatTextWhole(path, sizeof path, "%s\\%s", portsPath, name) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &port) != ERROR_SUCCESS)
    return 0;
  CopyTextWhole(record->KeyName, sizeof record->KeyName, name);
  ReadPortSettings(port, record);
  RegCloseKey(port);
  return 1;
}

// Keeps the records that could be filled, in index order, at the front of the array.
void FillPortTable(HKEY ports, const char *portsPath, int count) {
  for (int i = 0; i < count; ++i) {
    PortRecord *record = portTable[i];
    portTable[i] = NULL;
    if (record && ReadPortRecord(ports, portsPath, static_cast<DWORD>(i), record))
      portTable[portCount++] = record;
    else if (record)
      LocalFree(record);
  }
}

}  // namespace

void LoadPortTable(const char *monitorName) {
  char portsPath[kPortsKeyPathSize];
  HKEY ports;
  if (!IsSingleKeyName(monitorName) ||
      !FormatTextWhole(portsPath, sizeof portsPath, "%s\\%s\\Ports", MONITORS_ROOT, monitorName) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, portsPath, 0, KEY_READ, &ports) != ERROR_SUCCESS)
    return;
  int count = CountSubkeys(ports);
  if (count > 0 && AllocatePortTable(count)) FillPortTable(ports, portsPath, count);
  RegCloseKey(ports);
}

int ReadDwordValue(HKEY key, const char *valueName, DWORD *destination) {
  DWORD value;
  DWORD type;
  DWORD size = sizeof value;
  if (RegQueryValueExA(key, valueName, NULL, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return 0;
  *destination = value;
  return 1;
}

void FreePortTable(void) {
  for (int i = 0; i < portCount; ++i) LocalFree(portTable[i]);
  if (portTable) LocalFree(portTable);
  portTable = NULL;
  portCount = 0;
}
