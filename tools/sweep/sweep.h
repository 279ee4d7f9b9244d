// The interruption sweep: an uninstall cut short after each call that changes
// the machine, then finished by running the uninstaller again, compared with
// the uninstall that was never interrupted. Shared by the sweep's files.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "machine.h"

namespace sweep {

// ---- calls that change the machine, and the stage each falls in (changing_calls.cpp)

// True when the logged call is to a changing function, whatever its result.
bool IsChangingCall(const sim::Call &call);
// True when the logged call changed the machine: a changing function that
// succeeded.
bool ChangedMachine(const sim::Call &call);
// Every changing function, so that a process cut short can change nothing more.
std::vector<std::string> ChangingFunctions();

// What a path named by a changing call in `stage` is to the uninstaller
// ("a [FILES] file"...); NULL for a stage that names no paths.
const char *PathRoleIn(const std::string &stage);
// What the call's first argument is to the product: its stage's path role, or
// the call's own (WININIT.INI); NULL when it names no path.
const char *PathRoleOf(const sim::Call &call, const std::string &stage);

// Follows the removal's stages through the logged calls, by what the
// uninstaller reads as it enters each one.
class StageTracker {
 public:
  void See(const sim::Call &call);
  const char *Stage() const { return stage_; }

 private:
  const char *stage_ = "before the removal";
};

// ---- what a difference is, by its role (end_state.cpp)
struct ProductRoles {
  std::string executable;                    // folded full path
  std::map<std::string, std::string> acted;  // folded path -> role, from what the full run acted on
  std::string entryKey, monitorKey;          // folded registry paths; "" when not named
  std::set<std::string> productPorts;
  std::map<std::string, std::string> catalogTexts;  // text -> its catalog key
};
// What the manifest and the registry name, read before the first run.
ProductRoles ReadProductRoles(const sim::Machine &m);
// The paths the full run's changing calls named, each by the stage it was
// named in.
void AddActedPaths(const sim::Machine &m, const std::vector<std::pair<std::string, sim::Call>> &acted,
                   ProductRoles *roles);

// ---- the machine's state once the uninstall is over (end_state.cpp)
struct EndState {
  std::map<std::string, std::string> files;     // folded path -> path as kept ("\\" ending a directory)
  std::map<std::string, std::string> registry;  // "key" or "key\n\"value\"=data" lines, folded -> as exported
  std::map<std::string, std::string> printerPorts;
  std::vector<std::string> pending, running;
};
EndState DescribeEndState(const sim::Machine &m);

// What differs from the uninstall never interrupted: `parts` in general
// terms (a class's wording), `details` with the names themselves.
struct Differences {
  std::vector<std::string> parts;
  std::vector<std::string> details;
};
Differences Compare(const sim::Machine &m, const ProductRoles &roles, const EndState &state,
                    const EndState &baseline);

// ---- runs of the uninstaller (runs.cpp)
enum class Variant { kPowerLost, kEnded };
const char *VariantName(Variant variant);  // as given to --variant

struct RunOutcome {
  int exitCode = 0;
  bool asked = false;    // the Yes/No question was shown
  std::string firstBox;  // the text of the first box shown
  int changes = 0;       // changing calls that succeeded (up to the cut)
  std::string stage;     // the stage of the cut
  std::string cutCall;   // the call the process ended after
  std::string afterCut;  // what changed after the cut anyway ("" when nothing)
  std::vector<std::pair<std::string, sim::Call>> acted;  // every changing call with its stage
};

// A machine that can be built afresh, as it was before the first run.
struct MachineSource {
  std::string label;   // a folder, or "seed S machine I"
  std::string replay;  // the arguments that select it alone
  std::function<bool(sim::Machine &, std::string *)> build;
};

struct PointResult {
  Variant variant = Variant::kPowerLost;
  int cut = 0;
  RunOutcome first;
  bool ranAgain = false;
  RunOutcome second;
  bool converges = false;
  std::string classLine;  // "stage | variant: what differs"
  std::vector<std::string> details;
};

struct MachineSweep {
  std::string error;  // the machine could not be built
  RunOutcome baseline;
  std::string unlisted;  // what the full run changed though no changing call succeeded ("" if nothing)
  std::vector<PointResult> points;
};

struct PointFilter {
  int cut = 0;  // 0: every cut point
  bool onlyVariant = false;
  Variant variant = Variant::kPowerLost;
};
MachineSweep SweepMachine(const MachineSource &source, const PointFilter &filter);

// ---- classes known not to converge (known_classes.cpp)
struct KnownClass {
  const char *pattern;  // fnmatch(3) pattern over the class line
  const char *kind;     // "limit" (explained: nothing can do better) or "fault" (to be mended)
  const char *reason;
};
const KnownClass *FindKnownClass(const std::string &classLine);
const std::vector<KnownClass> &KnownClasses();

}  // namespace sweep
