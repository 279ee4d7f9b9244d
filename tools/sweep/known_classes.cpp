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
    {"INI files | *: files kept: an install folder", "limit",
     "the install path is known from the manifest alone, and the INI stage deletes the manifest before the "
     "last stage removes the install chain (the stages' order is fixed): a run cut between the two leaves a "
     "second run no chain, and the chain's folders stay, emptied of every file the product listed. Nothing "
     "of the product is refused: a second run completes and deletes the uninstaller"},
    {"install chain | *: files kept: an install folder", "limit",
     "as above, cut within the last stage: the manifest is already gone, so a second run cannot remove the "
     "chain's remaining folders, which stay, empty"},
    {"completion and self-deletion | ended: files kept: an install folder", "limit",
     "as above, cut after the executable was scheduled and before its folders were: the manifest is gone, "
     "so the second run knows no install folder to schedule; the executable goes at the restart and its "
     "emptied folder stays"},
    {"\\[STMPATHS] | *: files removed: a \\[PATHS] folder*", "limit",
     "more removed, never less: a second run's [PATHS] walk-up passes over the folders the first run took "
     "and goes on to ancestors that the first run emptied only after its walk-up had passed (a [STMPATHS] "
     "entry below them); RemoveDirectoryA takes a folder only when it is empty, so nothing of the user's "
     "goes"},
    {"completion and self-deletion | power-lost: no second run (the executable is gone); files kept: an "
     "install folder",
     "limit",
     "NT: the power failed between scheduling the executable's deletion and scheduling the folders holding "
     "it; the restart deletes the executable, so nothing is left to run, and the folders stay, empty. "
     "Entries run in the order made and a folder only goes when empty, so the folders can only be "
     "scheduled after the executable"},
    {"* | power-lost: files removed: a \\[PATHS] folder", "limit",
     "more removed, never less: 95/98 deletes a listed file another program holds open at the restart through "
     "WININIT.INI, which deletes files only, so the full run's [PATHS] folder that held it stays; a power "
     "failure before the files stage releases the file, and the second run deletes it and removes its folder. "
     "RemoveDirectoryA takes a folder only when it is empty, so nothing of the user's goes"},
    {"* | power-lost: files removed: WININIT.BAK, a \\[PATHS] folder", "limit",
     "as above, on a machine whose WININIT.INI only the full run wrote: the second run had nothing to enter, so "
     "the boot step made no WININIT.BAK of it"},
    {"\\[STMPATHS] | *: files removed: a folder the uninstaller never names", "limit",
     "as class 4, one level further: the full run's [PATHS] walk-up stopped below this folder, at an ancestor "
     "the [STMPATHS] stage emptied only later, so the full run never named it; the second run's walk-up finds "
     "that ancestor empty, removes it and goes on to this folder, which is empty too"},
};
}  // namespace

const std::vector<KnownClass> &KnownClasses() { return kKnownClasses; }

const KnownClass *FindKnownClass(const std::string &classLine) {
  for (const KnownClass &known : kKnownClasses)
    if (fnmatch(known.pattern, classLine.c_str(), 0) == 0) return &known;
  return nullptr;
}

}  // namespace sweep
