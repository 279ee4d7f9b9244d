// Classes of interrupted uninstalls known not to converge, each with why:
// a limit nothing can do better than ("limit"), or a fault of the
// uninstaller waiting to be mended ("fault"). A class not listed here fails
// the sweep. An uninstaller that refuses to remove what is left of its
// product is never a limit.
#include <fnmatch.h>

#include "sweep.h"

namespace sweep {

namespace {
// Patterns are fnmatch(3) ones: "*" for any text, "\\[" for a bracket.
const std::vector<KnownClass> kKnownClasses = {
    {"* | *: refused on the second run: \"Application error.\"*", "fault",
     "on the NT family every run looks for _SETUP.DLL through the print monitor's InstallPath; once the "
     "first run has deleted the monitor (or the manifest naming it), every later run refuses and the rest "
     "of the product stays for good"},
    {"INI files | *: files kept: an install folder", "fault",
     "the install path is known from the manifest alone, which the INI stage deletes before the install "
     "chain is removed (and, on NT, before the folders holding the executable are scheduled for the "
     "restart): a second run has no chain, and the chain's folders stay, empty; deleting the manifest "
     "last would close it"},
    {"install chain | *: files kept: an install folder", "fault",
     "as above, cut within the chain: the manifest is already gone, so a second run cannot remove the "
     "chain's remaining folders, which stay, empty"},
    {"\\[PATHS] | *: files kept: a \\[PATHS] folder", "fault",
     "the walk up from a [PATHS] entry stops at the first folder it cannot remove, one already gone "
     "included: cut after the entry and its parent went, a second run stops at once and the emptied "
     "folders above stay"},
    {"completion and self-deletion | power-lost: no second run (the executable is gone); files kept: an "
     "install folder",
     "limit",
     "NT: the power failed between scheduling the executable's deletion and scheduling the folders holding "
     "it; the restart deletes the executable, so nothing is left to run, and the folders stay, empty. "
     "Entries run in the order made and a folder only goes when empty, so the folders can only be "
     "scheduled after the executable"},
};
}  // namespace

const std::vector<KnownClass> &KnownClasses() { return kKnownClasses; }

const KnownClass *FindKnownClass(const std::string &classLine) {
  for (const KnownClass &known : kKnownClasses)
    if (fnmatch(known.pattern, classLine.c_str(), 0) == 0) return &known;
  return nullptr;
}

}  // namespace sweep
