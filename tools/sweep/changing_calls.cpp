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
  const char *success;  // the logged result when it succeeded
};

const ChangingCall kChangingCalls[] = {
    {"DeleteFileA", "1"},    {"RemoveDirectoryA", "1"},   {"RegDeleteKeyA", "0"},  {"RegDeleteValueA", "0"},
    {"SetPrinterA", "1"},    {"DeletePortA", "1"},        {"DeleteMonitorA", "1"}, {"MoveFileExA", "1"},
    {"CreateProcessA", "1"}, {"SetFileAttributesA", "1"},
};

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

bool IsChangingCall(const sim::Call &call) {
  for (const ChangingCall &changing : kChangingCalls)
    if (call.name == changing.function) return true;
  return false;
}

bool ChangedMachine(const sim::Call &call) {
  for (const ChangingCall &changing : kChangingCalls)
    if (call.name == changing.function) return call.result == changing.success;
  return false;
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
