// Removes the product's entry from the list of installed programs: the whole
// key when the platform lets it go, else its three display values, so that
// the entry at least disappears from the list. An entry that still shows is
// noted for the completion box.
#include "removal.h"

namespace {
enum { kKeyPathSize = 512 };
#define UNINSTALL_ROOT "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"

// Whether the value is still there after its deletion was asked for.
int Remains(LSTATUS status) { return status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND; }
}  // namespace

// The list shows an entry whose key holds both DisplayName and
// UninstallString; a key that is there but can't be opened is taken to show.
int DeleteUninstallEntry(const char *name) {
  if (!name || !name[0]) return 0;
  char keyPath[kKeyPathSize];
  if (!FormatTextWhole(keyPath, sizeof keyPath, UNINSTALL_ROOT "\\%s", name)) return 0;
  if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath) == ERROR_SUCCESS) return 1;
  HKEY key;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, &key);
  if (status != ERROR_SUCCESS) {
    if (Remains(status)) NoteStayed(name);
    return 0;
  }
  LSTATUS nameStatus = RegDeleteValueA(key, "DisplayName");
  LSTATUS commandStatus = RegDeleteValueA(key, "UninstallString");
  RegDeleteValueA(key, "DisplayIcon");
  RegCloseKey(key);
  if (Remains(nameStatus) && Remains(commandStatus)) NoteStayed(name);
  return nameStatus == ERROR_SUCCESS && commandStatus == ERROR_SUCCESS;
}
