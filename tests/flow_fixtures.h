// Machines with the product installed, as its installer leaves them, for the
// tests of the whole flow.
#pragma once

#include <string>

#include "harness.h"

namespace test {

extern const char kInstallDir[];
extern const char kMonitor[];
extern const char kMonitorKey[];
extern const char kUninstallKey[];

// The product: manifest, monitor with two ports and InstallPath, _SETUP.DLL
// granting the privilege, its files and its uninstall entry. No catalog.
sim::Machine InstalledMachine(sim::Family family);

void PutCatalog(sim::Machine &m, const std::string &iniText);
void AddWindow(sim::Machine &m, const std::string &title);
void AddPrinter(sim::Machine &m, const std::string &name, const std::string &port, int jobs = 0);

// Everything a run may change, as text, to compare before and after.
std::string Snapshot(const sim::Machine &m);

}  // namespace test
