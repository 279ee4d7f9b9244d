// The product's process-wide variables as a new process finds them: zeroed.
// The host runs many uninstaller processes in one host process (tests, the
// fuzz target, the interruption sweep), so each run starts from here. A new
// global in the product belongs here too.
#pragma once

#include <string.h>

#include "control/control.h"
#include "removal/removal.h"
#include "spooler/spooler.h"

namespace test {

inline void ResetProcessGlobals() {
  instanceHandle = nullptr;
  memset(&catalog, 0, sizeof catalog);
  progressBar = nullptr;
  head = nullptr;
  tail = nullptr;
  stepCount = 0;
  portCount = 0;
  portTable = nullptr;
  keptFiles = nullptr;
  keptFolders = nullptr;
  chainReachesInstallFolder = 0;
  memset(stayedNames, 0, sizeof stayedNames);
  stayedCount = 0;
}

}  // namespace test
