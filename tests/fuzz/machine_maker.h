// The fuzz target's machine builder: turns bytes into a machine with the
// product installed (manifest, catalog, monitor and ports, uninstall entry,
// printers, windows), with values around every capacity the product has.
// Shared by the fuzz target and by the generator of random machine folders
// that the stand-in and Wine are compared on.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include "machine.h"

namespace fuzz {

struct MakerOptions {
  // Only what a real system can hold and both runners lay down: no failure
  // injection, locks or refused opens (a machine folder under Wine has none),
  // registry keys whose absolute path has at most 255 characters (the
  // documented limit), names, titles and INI files that are valid text in the
  // machine's code page, and no characters at a profile value's ends whose
  // trimming the platform leaves undocumented.
  bool portable = false;
};

void MakeMachine(FuzzedDataProvider &provider, sim::Machine &m, const MakerOptions &options = {});

// Machine `index` of a seed: a portable machine from seeded pseudo-random
// bytes. The same seed and index give the same machine in every tool.
void MakeSeededMachine(unsigned long seed, int index, sim::Machine &m);

}  // namespace fuzz
