#include "flow_fixtures.h"

namespace test {

const char kInstallDir[] = "C:\\Program Files\\Lumora";
const char kMonitor[] = "Lumora Mail Monitor";
const char kMonitorKey[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\Lumora Mail Monitor";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora";

sim::Machine InstalledMachine(sim::Family family) {
  sim::Machine m = NewMachine(family);
  std::string dir = kInstallDir;
  PutWindowsFile(m, "QVFList.ini",
                 "[UNINSTALL]\nPATH=" + dir + "\n[FILES]\nFILE00=" + dir +
                     "\\Readme.txt\n[UnInstKey]\nUnInstKey=Lumora\n"
                     "[LPR]\nMonitor=" +
                     std::string(kMonitor) + "\n");
  sim::AddFile(m, dir + "\\Readme.txt", "read me");
  sim::AddFile(m, dir + "\\_SETUP.DLL", "MZ");
  m.libraries.push_back(sim::Library{dir + "\\_SETUP.DLL", true, 1});
  sim::SetString(m, kMonitorKey, "InstallPath", dir);
  sim::SetString(m, kMonitorKey, "Driver", "QVMon.dll");
  sim::CreateKey(m, std::string(kMonitorKey) + "\\Ports\\QVMAIL1:");
  sim::CreateKey(m, std::string(kMonitorKey) + "\\Ports\\QVMAIL2:");
  sim::SetString(m, kUninstallKey, "DisplayName", "Lumora E-mail Printing");
  sim::SetString(m, kUninstallKey, "UninstallString", m.executablePath);
  return m;
}

void PutCatalog(sim::Machine &m, const std::string &iniText) { PutWindowsFile(m, "QVUninst.ini", iniText); }

void AddWindow(sim::Machine &m, const std::string &title) {
  m.windows.push_back(sim::TopWindow{title, "#32770"});
}

void AddPrinter(sim::Machine &m, const std::string &name, const std::string &port, int jobs) {
  sim::Printer printer;
  printer.name = name;
  printer.port = port;
  for (int i = 0; i < jobs; ++i) printer.jobs.push_back(sim::PrintJob{"document", JOB_STATUS_PAUSED});
  m.printers.push_back(printer);
}

std::string Snapshot(const sim::Machine &m) {
  std::string text;
  for (const auto &entry : m.files) text += entry.second.path + (entry.second.isDirectory ? "\\" : "") + "\n";
  text += sim::ExportRegistry(m);
  for (const sim::Printer &p : m.printers) text += p.name + " on " + p.port + "\n";
  for (const std::string &path : m.pendingDeletes) text += "pending " + path + "\n";
  for (const sim::ProcessRecord &p : m.processes) text += "process " + p.commandLine + "\n";
  return text;
}

}  // namespace test
