#include "harness.h"

#include <string.h>

#include "control/control.h"
#include "removal/removal.h"
#include "spooler/spooler.h"

namespace test {

namespace {
std::function<int()> pendingBody;

// A new process starts with zeroed globals; tests run many in one host process.
void ResetProcessGlobals() {
  instanceHandle = nullptr;
  memset(&catalog, 0, sizeof catalog);
  progressBar = nullptr;
  head = nullptr;
  tail = nullptr;
  stepCount = 0;
  portCount = 0;
  portTable = nullptr;
}

int RunPendingBody() { return pendingBody(); }
}  // namespace

sim::Machine NewMachine(sim::Family family, UINT codePage) {
  sim::Machine m;
  m.family = family;
  m.codePage = codePage;
  sim::AddDirectory(m, m.windowsDirectory);
  sim::AddFile(m, m.executablePath, "MZ");
  return m;
}

void PutWindowsFile(sim::Machine &m, const std::string &name, const std::string &text) {
  sim::AddFile(m, m.windowsDirectory + "\\" + name, text);
}

int RunInProcess(sim::Machine &m, const std::function<int()> &body) {
  ResetProcessGlobals();
  pendingBody = body;
  int code = sim::RunProcess(m, RunPendingBody);
  pendingBody = nullptr;
  return code;
}

int RunUninstaller(sim::Machine &m) {
  return RunInProcess(m, [] {
    return WinMain(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle), nullptr, const_cast<char *>(""),
                   SW_SHOWNORMAL);
  });
}

std::vector<std::string> Boxes(const sim::Machine &m) {
  std::vector<std::string> lines;
  for (const sim::MessageBoxRecord &box : m.messageBoxes)
    lines.push_back((box.captionIsNull ? std::string("(null)") : box.caption) + "|" + box.text + "|" +
                    std::to_string(box.style));
  return lines;
}

std::vector<std::string> FirstArgs(const sim::Machine &m, const std::string &function) {
  std::vector<std::string> args;
  for (const sim::Call &call : sim::CallsTo(m, function))
    args.push_back(call.args.empty() ? "" : call.args[0]);
  return args;
}

}  // namespace test
