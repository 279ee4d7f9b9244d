// fuzz_uninstall: turns its input into a machine with the product installed
// (machine_maker.cpp, or the text form of a machine folder), runs the whole
// uninstall on the stand-in and checks what must hold whatever the input:
// nothing but what the manifest names changed, nothing acted on is a cut
// copy of a manifest value, the progress bar ends full, a refusal changes
// nothing, nothing is left for the restart but the executable, listed files
// in use and the folders holding them, WININIT.INI gains nothing but their
// lines, the completion box names only what is there, the run ends in bounded
// time, and it leaves nothing unreleased but the install-path chain.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "../process_globals.h"
#include "../run_leftovers.h"
#include "control/control.h"
#include "fuzz_oracle.h"
#include "machine.h"
#include "machine_maker.h"
#include "removal/removal.h"
#include "spooler/spooler.h"

namespace {

// Text inputs describe a machine the way a machine folder does, so that the
// seed corpus can be made from the scenarios: "QVM1" and then sections
// headed "--- machine.ini ---", "--- registry.reg ---", "--- files ---" (one
// path a line; a trailing backslash makes a directory), "--- QVFList.ini ---"
// and "--- QVUninst.ini ---".
const char kTextMagic[] = "QVM1\n";

std::string Section(const std::string &text, const std::string &name) {
  std::string header = "--- " + name + " ---\n";
  size_t begin = text.find(header);
  if (begin == std::string::npos) return "";
  begin += header.size();
  size_t end = text.find("\n--- ", begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin + 1);
}

void MakeFromText(sim::Machine &m, const std::string &text) {
  std::string ini = Section(text, "machine.ini");
  sim::ApplyMachineHeader(m, ini);
  std::string error;
  sim::ImportRegistry(m, Section(text, "registry.reg"), &error);
  std::string files = Section(text, "files");
  for (size_t at = 0; at < files.size();) {
    size_t end = files.find('\n', at);
    if (end == std::string::npos) end = files.size();
    std::string path = files.substr(at, end - at);
    at = end + 1;
    if (path.empty()) continue;
    if (path.back() == '\\')
      sim::AddDirectory(m, path);
    else
      sim::AddFile(m, path, "data");
  }
  sim::ApplyMachineBody(m, ini);
  for (const char *name : {"QVFList.ini", "QVUninst.ini"})
    if (text.find(std::string("--- ") + name) != std::string::npos)
      sim::AddFile(m, m.windowsDirectory + "\\" + name, Section(text, name));
  m.answers = {IDYES};
}

int RunUninstaller() {
  return WinMain(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle), nullptr, const_cast<char *>(""),
                 SW_SHOWNORMAL);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Machine machine;
  std::string text(reinterpret_cast<const char *>(data), size);
  if (text.compare(0, sizeof kTextMagic - 1, kTextMagic) == 0) {
    MakeFromText(machine, text);
  } else {
    FuzzedDataProvider provider(data, size);
    fuzz::MakeMachine(provider, machine);
  }
  fuzz::Expectations expected = fuzz::Expect(machine);
  test::ResetProcessGlobals();
  int chainNodes = 0;
  machine.onProcessEnd = [&machine, &chainNodes] { chainNodes = test::LiveChainNodes(machine); };
  int code = sim::RunProcess(machine, RunUninstaller);
  std::string failure = fuzz::Check(expected, machine, code, stepCount, chainNodes);
  if (!failure.empty()) {
    fprintf(stderr, "invariant broken: %s\n", failure.c_str());
    abort();
  }
  return 0;
}
