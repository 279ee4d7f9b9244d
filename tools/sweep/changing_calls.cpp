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

// What the uninstaller reads from its manifest as it enters a stage.
const struct {
  const char *section;
  const char *stage;
} kStageSections[] = {
    {"UnInstKey", "uninstall entry"}, {"LPR", "ports and monitor"}, {"FILES", "files"}, {"PATHS", "[PATHS]"},
    {"STMPATHS", "[STMPATHS]"},
};

const char kIniFiles[] = "INI files";
const char kInstallChain[] = "install chain";
const char kCompletion[] = "completion and self-deletion";
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

// The stages run in a fixed order; reads before the removal (the plan, the
// checks) set a stage that the removal's own reads then replace.
void StageTracker::See(const sim::Call &call) {
  if (call.name == "GetPrivateProfileStringA" && !call.args.empty()) {
    for (const auto &entry : kStageSections)
      if (call.args[0] == entry.section) stage_ = entry.stage;
  } else if (call.name == "GetWindowsDirectoryA" && stage_ == kStageSections[4].stage) {
    stage_ = kIniFiles;  // the INI files, found in the Windows directory, follow [STMPATHS]
  } else if (call.name == "RemoveDirectoryA" && stage_ == kIniFiles) {
    stage_ = kInstallChain;  // the only folders removed after the INI files
  } else if (call.name == "MessageBoxA") {
    stage_ = kCompletion;
  }
}

}  // namespace sweep
