/* A minimal print monitor, registered as the product's monitor (its Driver
 * value) so that the spooler treats the monitor as real: it lists the ports
 * under the monitor's Ports key and deletes a port by deleting its key.
 *
 * Wine loads the library on each spooler call and hands InitializePrintMonitor2
 * a registry root that it closes right after, without the registry callbacks:
 * so the monitor finds its own key by its Driver value and uses the plain
 * registry API. Shutdown runs before DeletePortA returns and must leave the
 * last error alone. */
#include <windows.h>
#include <winsplp.h>

#define MONITORS_KEY L"System\\CurrentControlSet\\Control\\Print\\Monitors"

static WCHAR portsKey[512];
static WCHAR monitorName[256];
static HINSTANCE self;

static const WCHAR *BaseName(const WCHAR *path) {
  const WCHAR *base = path;
  for (; *path; ++path)
    if (*path == L'\\' || *path == L'/') base = path + 1;
  return base;
}

/* The monitor whose Driver value names this library. */
static BOOL FindOwnKey(void) {
  WCHAR modulePath[MAX_PATH];
  WCHAR name[256];
  HKEY monitors;
  DWORD index;
  BOOL found = FALSE;
  if (!GetModuleFileNameW(self, modulePath, MAX_PATH)) return FALSE;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MONITORS_KEY, 0, KEY_READ, &monitors) != ERROR_SUCCESS) return FALSE;
  for (index = 0; !found && RegEnumKeyW(monitors, index, name, 256) == ERROR_SUCCESS; ++index) {
    WCHAR driver[MAX_PATH];
    DWORD size = sizeof driver;
    HKEY monitor;
    if (RegOpenKeyExW(monitors, name, 0, KEY_READ, &monitor) != ERROR_SUCCESS) continue;
    if (RegQueryValueExW(monitor, L"Driver", NULL, NULL, (BYTE *)driver, &size) == ERROR_SUCCESS &&
        size < sizeof driver) {
      driver[size / sizeof(WCHAR)] = 0;
      found = lstrcmpiW(BaseName(driver), BaseName(modulePath)) == 0;
    }
    RegCloseKey(monitor);
    if (found) {
      lstrcpynW(monitorName, name, 256);
      wsprintfW(portsKey, L"%s\\%s\\Ports", MONITORS_KEY, name);
    }
  }
  RegCloseKey(monitors);
  return found;
}

static BOOL WINAPI QVEnumPorts(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE ports, DWORD size,
                               LPDWORD needed, LPDWORD returned) {
  WCHAR names[64][MAX_PATH];
  DWORD count = 0, index, entrySize, total;
  HKEY key;
  BYTE *strings;
  (void)monitor;
  (void)server;
  if (level != 1 && level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, portsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    while (count < 64 && RegEnumKeyW(key, count, names[count], MAX_PATH) == ERROR_SUCCESS) ++count;
    RegCloseKey(key);
  }
  entrySize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
  total = count * entrySize;
  for (index = 0; index < count; ++index) {
    total += (lstrlenW(names[index]) + 1) * sizeof(WCHAR);
    if (level == 2) total += (lstrlenW(monitorName) + 1) * sizeof(WCHAR);
  }
  *needed = total;
  *returned = 0;
  if (size < total || (!ports && total)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  strings = ports + count * entrySize;
  for (index = 0; index < count; ++index) {
    DWORD length = (lstrlenW(names[index]) + 1) * sizeof(WCHAR);
    LPWSTR portName = (LPWSTR)strings;
    CopyMemory(strings, names[index], length);
    strings += length;
    if (level == 1) {
      ((PORT_INFO_1W *)ports)[index].pName = portName;
    } else {
      PORT_INFO_2W *info = &((PORT_INFO_2W *)ports)[index];
      DWORD monitorLength = (lstrlenW(monitorName) + 1) * sizeof(WCHAR);
      info->pPortName = portName;
      info->pMonitorName = (LPWSTR)strings;
      CopyMemory(strings, monitorName, monitorLength);
      strings += monitorLength;
      info->pDescription = NULL;
      info->fPortType = PORT_TYPE_WRITE;
      info->Reserved = 0;
    }
  }
  *returned = count;
  return TRUE;
}

static BOOL WINAPI QVOpenPort(HANDLE monitor, LPWSTR name, PHANDLE port) {
  (void)monitor;
  (void)name;
  (void)port;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

static BOOL WINAPI QVDeletePort(HANDLE monitor, LPWSTR server, HWND window, LPWSTR portName) {
  HKEY key;
  LONG status;
  (void)monitor;
  (void)server;
  (void)window;
  status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, portsKey, 0, KEY_ALL_ACCESS, &key);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteKeyW(key, portName);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    SetLastError(ERROR_UNKNOWN_PORT);
    return FALSE;
  }
  return TRUE;
}

static VOID WINAPI QVShutdown(HANDLE monitor) { (void)monitor; }

static MONITOR2 monitor2;

__declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitorHandle) {
  DWORD lastError = GetLastError();
  (void)init;
  if (!FindOwnKey()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  ZeroMemory(&monitor2, sizeof monitor2);
  monitor2.cbSize = sizeof monitor2;
  monitor2.pfnEnumPorts = QVEnumPorts;
  monitor2.pfnOpenPort = QVOpenPort;
  monitor2.pfnDeletePort = QVDeletePort;
  monitor2.pfnShutdown = QVShutdown;
  *monitorHandle = (HANDLE)&monitor2;
  SetLastError(lastError);
  return &monitor2;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) self = instance;
  return TRUE;
}
