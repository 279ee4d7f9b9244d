// Removes the product's entry from the list of installed programs: the whole
// key when the platform lets it go, else its three display values, so that
// the entry at least disappears from the list.
#include "removal.h"

namespace {
enum { kKeyPathSize = 512 };
#define UNINSTALL_ROOT "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
}  // namespace

int DeleteUninstallEntry(const char *name) {
  if (!name || !name[0]) return 0;
  char keyPath[kKeyPathSize];
  if (!FormatTextWhole(keyPath, sizeof keyPath, UNINSTALL_ROOT "\\%s", name)) return 0;
  if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath) == ERROR_SUCCESS) return 1;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 0;
  int nameDeleted = RegDeleteValueA(key, "DisplayName") == ERROR_SUCCESS;
  int commandDeleted = RegDeleteValueA(key, "UninstallString") == ERROR_SUCCESS;
  RegDeleteValueA(key, "DisplayIcon");
  RegCloseKey(key);
  return nameDeleted && commandDeleted;
}
