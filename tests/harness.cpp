#include "harness.h"

#include <gtest/gtest.h>

#include "control/control.h"
#include "process_globals.h"
#include "run_leftovers.h"

namespace test {

namespace {
std::function<int()> pendingBody;
int chainNodesAtEnd;  // of the last run, counted as its process ended

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
  m.onProcessEnd = [&m] { chainNodesAtEnd = LiveChainNodes(m); };
  int code = sim::RunProcess(m, RunPendingBody);
  m.onProcessEnd = nullptr;
  pendingBody = nullptr;
  return code;
}

std::string LeftUnreleased() { return Unreleased(sim::LastRunLeftovers(), chainNodesAtEnd); }

int RunUninstaller(sim::Machine &m) {
  int code = RunInProcess(m, [] {
    return WinMain(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle), nullptr, const_cast<char *>(""),
                   SW_SHOWNORMAL);
  });
  EXPECT_EQ(LeftUnreleased(), "") << "what the run left behind";
  return code;
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
