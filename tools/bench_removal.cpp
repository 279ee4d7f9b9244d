// Times the removal plan and the removal sequence on the stand-in for
// manifests of growing [FILES] lists, to show how the cost grows.
// Usage: bench_removal N...   (prints one line per N)
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "control/control.h"
#include "machine.h"
#include "removal/removal.h"

namespace {
using Clock = std::chrono::steady_clock;

double planMs = 0;
double sequenceMs = 0;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The main flow's part after the Yes: the plan, then the dialog that runs the sequence.
int PlanAndRemove(void) {
  head = nullptr;
  tail = nullptr;
  stepCount = 0;
  progressBar = nullptr;
  Clock::time_point start = Clock::now();
  BuildRemovalPlan();
  planMs = MsSince(start);
  start = Clock::now();
  InitCommonControls();
  DialogBoxParamA(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle), MAKEINTRESOURCEA(kProgressDialogId),
                  nullptr, ProgressDlgProc, 0);
  sequenceMs = MsSince(start);
  return 0;
}

sim::Machine MachineWithFiles(int count) {
  sim::Machine m;
  sim::AddDirectory(m, m.windowsDirectory);
  std::string manifest = "[UNINSTALL]\nPATH=C:\\Bench\\Product\n[FILES]\n";
  for (int i = 0; i < count; ++i) {
    char key[16];
    snprintf(key, sizeof key, "FILE%02d", i);
    std::string path = "C:\\Bench\\Product\\file" + std::to_string(i) + ".dat";
    manifest += std::string(key) + "=" + path + "\n";
    sim::AddFile(m, path, "x");
  }
  sim::AddFile(m, m.windowsDirectory + "\\QVFList.ini", manifest);
  return m;
}
}  // namespace

int main(int argc, char **argv) {
  printf("%8s %12s %12s %10s %8s %12s\n", "entries", "plan ms", "sequence ms", "steps", "left",
         "profile reads");
  for (int i = 1; i < argc; ++i) {
    int count = atoi(argv[i]);
    sim::Machine m = MachineWithFiles(count);
    sim::RunProcess(m, PlanAndRemove);
    const sim::ProgressBar &bar = m.dialogs.at(0).bar;
    size_t reads = sim::CallsTo(m, "GetPrivateProfileStringA").size();
    size_t left = 0;
    for (const auto &entry : m.files)
      if (!entry.second.isDirectory) ++left;
    printf("%8d %12.1f %12.1f %10d %8zu %12zu\n", count, planMs, sequenceMs, bar.stepItCount, left, reads);
  }
  return 0;
}
