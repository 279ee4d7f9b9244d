// The print monitor's own values under the spooler's Monitors key, and the
// registry reading that the port table shares: key names safe to put in a
// path, and text values that never leave a field cut or half-written.
#include "../common/paths.h"
#include "spooler.h"

int IsSingleKeyName(const char *name) { return name[0] && !*NextPathSeparator(name); }

// A value is read into a scratch buffer first: a read that fails may have
// written into the buffer, and a field must keep what it held. Stored data
// need not end with a terminator; data that fills the capacity without one
// does not fit whole.
int ReadTextValue(HKEY key, const char *valueName, char *field, DWORD capacity) {
  char scratch[MAX_PATH];
  if (capacity == 0 || capacity > sizeof scratch) return 0;
  DWORD size = capacity;
  DWORD type;
  if (RegQueryValueExA(key, valueName, NULL, &type, reinterpret_cast<LPBYTE>(scratch), &size) !=
      ERROR_SUCCESS)
    return 0;
  DWORD length = 0;
  while (length < size && scratch[length]) ++length;
  if (length >= capacity) return 0;
  scratch[length] = 0;
  return CopyTextWhole(field, capacity, scratch);
}

namespace {
// Opens the monitor's key for reading; 0 when the name can't form its path whole or there is no key.
int OpenMonitorKey(const char *monitorName, HKEY *key) {
  char path[kMonitorKeyPathSize];
  return IsSingleKeyName(monitorName) &&
         FormatTextWhole(path, sizeof path, "%s\\%s", MONITORS_ROOT, monitorName) &&
         RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key) == ERROR_SUCCESS;
}
}  // namespace

int MonitorIsRegistered(const char *monitorName) {
  HKEY key;
  if (!OpenMonitorKey(monitorName, &key)) return 0;
  RegCloseKey(key);
  return 1;
}

int ReadMonitorInfo(MonitorInfo *info, const char *monitorName) {
  HKEY key;
  if (!OpenMonitorKey(monitorName, &key)) return 0;
  char installPath[sizeof info->InstallPath];
  int found = ReadTextValue(key, "InstallPath", installPath, sizeof installPath);
  if (found) {
    CopyTextWhole(info->InstallPath, sizeof info->InstallPath, installPath);
    // The other values are optional: one that is missing or too long leaves its field as it was.
    ReadTextValue(key, "popupmon", info->popupmon, sizeof info->popupmon);
    ReadTextValue(key, "helpfile", info->helpfile, sizeof info->helpfile);
    ReadTextValue(key, "Version", info->Version, sizeof info->Version);
  }
  RegCloseKey(key);
  return found;
}
