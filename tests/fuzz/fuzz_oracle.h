// What must hold after any uninstall on the stand-in, worked out from the
// machine before the run: the oracle of the fuzz target.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "machine.h"

namespace fuzz {

// The parts of a machine a run can change, as plain values.
struct State {
  std::map<std::string, std::string> files;  // folded path -> "D" or "F" + data
  std::map<std::string, std::string> keys;   // folded key path -> its values, serialised
  std::vector<std::string> printers;         // name, port and job count
};

struct Expectations {
  State before;
  std::set<std::string> fileArgs;   // what DeleteFileA may be given
  std::set<std::string> dirArgs;    // what RemoveDirectoryA may be given
  std::set<std::string> keptArgs;   // what MoveFileExA may name a folder by: those, separators tidied
  std::set<std::string> removable;  // folded paths the run may remove
  std::string entryKey;             // folded Uninstall subkey the run may change, or ""
  std::string entryKeyArg;          // what RegDeleteKeyA may be given
  std::string monitorKey;           // folded monitor key the run may remove, or ""
  std::string monitor;              // what DeleteMonitorA may be given
  std::string monitorPath;          // its key path
  std::set<std::string> ports;      // what DeletePortA may be given: the monitor's ports
  std::string replacementPort;
  std::string setupLibrary;  // what LoadLibraryA may be given
  std::set<std::string> listedFiles;  // whole [FILES] entries: the files that may be scheduled if in use
  std::string ownPath;                // the executable as it may be scheduled; "" when it may not be
  std::string ownImage;               // the executable as the process reads its path (its attribute may go)
  std::set<std::string> listedFolded;  // the whole, full [FILES] entries, folded: what WININIT.INI may name
  std::string wininit;                // folded path of WININIT.INI
  int retryEntries = 0;  // [STMPATHS] entries: each costs at most 10 s
  DWORD steps = 0;       // [FILES] entries plus chain nodes
};

Expectations Expect(const sim::Machine &m);
State Capture(const sim::Machine &m);

// "" when every invariant holds, else what broke. chainNodes: how many of the
// blocks live as the process ended were install-path chain nodes, the one
// memory the run may keep.
std::string Check(const Expectations &expected, const sim::Machine &after, int exitCode, DWORD stepCount,
                  int chainNodes);

}  // namespace fuzz
