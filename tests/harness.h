// What every test uses: a fresh machine, a run of the uninstaller (or of one
// operation) as a process on it, and readers for what the run left behind.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "machine.h"

namespace test {

// A machine of the given family with its Windows directory and the running
// executable in place; nothing of the product installed.
sim::Machine NewMachine(sim::Family family = sim::Family::NT, UINT codePage = 1252);

// Writes an INI file into the machine's Windows directory.
void PutWindowsFile(sim::Machine &m, const std::string &name, const std::string &text);

// Runs QVUninst's WinMain as a fresh process on the machine; gives the exit
// code. Fails the test when the run leaves anything unreleased (LeftUnreleased).
int RunUninstaller(sim::Machine &m);

// Runs `body` as a process on the machine, after the same fresh start. The
// harness uses the machine's onProcessEnd for its own accounting.
int RunInProcess(sim::Machine &m, const std::function<int()> &body);

// What the last run left unreleased ("" when nothing): every key, printer,
// library, process handle and LocalAlloc block it acquired, but the
// install-path chain's nodes, which live until the process ends.
std::string LeftUnreleased();

// Message boxes shown, as "caption|text|style" lines.
std::vector<std::string> Boxes(const sim::Machine &m);

// First argument of every call to `function`, in order.
std::vector<std::string> FirstArgs(const sim::Machine &m, const std::string &function);

}  // namespace test
