// The platform calls through which the uninstaller changes the machine, each
// with the result the stand-in logs when it succeeded, and the stages of the
// removal as the logged calls show them. A new changing call in the product
// belongs in kChangingCalls: the sweep cuts after each one, and ends a
// process cut short by refusing all of them.
#include "sweep.h"

namespace sweep {

namespace {
struct ChangingCall {
  const char *function;
  const char *success;  // the logged result when it succeeded; NULL: any but INVALID_HANDLE_VALUE
  const char *role;     // what its first argument names, when not the stage's path role; "" for a handle
};

// CreateFileA opens WININIT.INI, and may make it; WriteFile and SetEndOfFile
// change it by handle.
const ChangingCall kChangingCalls[] = {
    {"DeleteFileA", "1", nullptr},
    {"RemoveDirectoryA", "1", nullptr},
    {"RegDeleteKeyA", "0", nullptr},
    {"RegDeleteValueA", "0", nullptr},
    {"SetPrinterA", "1", nullptr},
    {"DeletePortA", "1", nullptr},
    {"DeleteMonitorA", "1", nullptr},
    {"MoveFileExA", "1", nullptr},
    {"CreateProcessA", "1", nullptr},
    {"SetFileAttributesA", "1", nullptr},
    {"CreateFileA", nullptr, "WININIT.INI"},
    {"WriteFile", "1", ""},
    {"SetEndOfFile", "1", ""},
};

const ChangingCall *Find(const sim::Call &call) {
  for (const ChangingCall &changing : kChangingCalls)
    if (call.name == changing.function) return &changing;
  return nullptr;
}

// The removal's stages in their order: the manifest section the uninstaller
// reads as it enters one (none for the last three), and what a path named
// there is to it.
const struct {
  const char *section;
  const char *name;
  const char *pathRole;
} kStages[] = {
    {"UnInstKey", "uninstall entry", nullptr},
    {"LPR", "ports and monitor", nullptr},
    {"FILES", "files", "a [FILES] file"},
    {"PATHS", "[PATHS]", "a [PATHS] folder"},
    {"STMPATHS", "[STMPATHS]", "a [STMPATHS] folder"},
    {nullptr, "INI files", "an INI file"},
    {nullptr, "install chain", "an install folder"},
    {nullptr, "completion and self-deletion", "an install folder"},
};
enum { kStmPaths = 4, kIniFiles, kInstallChain, kCompletion };
}  // namespace

bool IsChangingCall(const sim::Call &call) { return Find(call) != nullptr; }

bool ChangedMachine(const sim::Call &call) {
  const ChangingCall *changing = Find(call);
  if (!changing) return false;
  if (changing->success) return call.result == changing->success;
  return call.result != sim::Hex(reinterpret_cast<uintptr_t>(INVALID_HANDLE_VALUE));
}

const char *PathRoleOf(const sim::Call &call, const std::string &stage) {
  const ChangingCall *changing = Find(call);
  if (changing && changing->role) return changing->role[0] ? changing->role : nullptr;
  return PathRoleIn(stage);
}

std::vector<std::string> ChangingFunctions() {
  std::vector<std::string> names;
  for (const ChangingCall &changing : kChangingCalls) names.push_back(changing.function);
  return names;
}

const char *PathRoleIn(const std::string &stage) {
  for (const auto &known : kStages)
    if (stage == known.name) return known.pathRole;
  return nullptr;
}

// Reads before the removal (the plan, the checks) set a stage that the
// removal's own reads then replace.
void StageTracker::See(const sim::Call &call) {
  if (call.name == "GetPrivateProfileStringA" && !call.args.empty()) {
    for (const auto &stage : kStages)
      if (stage.section && call.args[0] == stage.section) stage_ = stage.name;
  } else if (call.name == "GetWindowsDirectoryA" && stage_ == kStages[kStmPaths].name) {
    stage_ = kStages[kIniFiles].name;  // the INI files, found in the Windows directory
  } else if (call.name == "RemoveDirectoryA" && stage_ == kStages[kIniFiles].name) {
    stage_ = kStages[kInstallChain].name;  // the only folders removed after the INI files
  } else if (call.name == "MessageBoxA") {
    stage_ = kStages[kCompletion].name;
  }
}

}  // namespace sweep
