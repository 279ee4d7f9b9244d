// Runs of the uninstaller for the sweep: the full run that sets the baseline,
// a run cut short after its k-th change, and the user's second run, each as a
// new process would start, on a machine built afresh for every point.
#include "../../tests/process_globals.h"
#include "sweep.h"

namespace sweep {

namespace {
int UninstallerProcess() {
  return WinMain(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle), nullptr, const_cast<char *>(""),
                 SW_SHOWNORMAL);
}

// What a new process finds: the product's variables zeroed, nothing of an
// earlier process's boxes, dialogs or calls, the directory it was started
// in, and a user who answers Yes.
void StartAfresh(sim::Machine &m, const std::string &startDirectory) {
  test::ResetProcessGlobals();
  m.calls.clear();
  m.messageBoxes.clear();
  m.dialogs.clear();
  m.lastError = 0;
  m.currentDirectory = startDirectory;
  m.answers = {IDYES};
  m.answerBox = nullptr;
  m.onProgress = nullptr;
}

// The process ends at the cut: from then on the platform refuses every
// changing call, so whatever it still does leaves the machine as the cut
// left it (checked after the run). Ending it inside the call with
// sim::EndProcess would jump over the call's own temporaries, never freed.
void RefuseChangesFromNowOn(sim::Machine &m) {
  std::vector<sim::FailRule> refusals;
  for (const std::string &function : ChangingFunctions())
    refusals.push_back(sim::FailRule{function, 0, -1, ERROR_ACCESS_DENIED});
  m.failRules.insert(m.failRules.begin(), refusals.begin(), refusals.end());
}

void DropRefusals(sim::Machine &m) {
  m.failRules.erase(m.failRules.begin(), m.failRules.begin() + static_cast<long>(ChangingFunctions().size()));
}

// Which parts of the state changed after the cut: "" when none did.
std::string ChangedParts(const EndState &before, const EndState &after) {
  std::string parts;
  auto add = [&parts](bool changed, const char *what) {
    if (changed) parts += (parts.empty() ? "" : ", ") + std::string(what);
  };
  add(before.files != after.files, "files");
  add(before.registry != after.registry, "registry");
  add(before.printerPorts != after.printerPorts, "printers");
  add(before.pending != after.pending, "pending at the restart");
  add(before.running != after.running, "processes");
  return parts;
}

void ReadBoxes(const sim::Machine &m, RunOutcome *outcome) {
  for (const sim::MessageBoxRecord &box : m.messageBoxes)
    if ((box.style & 0xF) == MB_YESNO) outcome->asked = true;
  if (!m.messageBoxes.empty()) outcome->firstBox = m.messageBoxes.front().text;
}

// Runs the uninstaller; with cutAfter > 0 its process ends right after its
// cutAfter-th change.
RunOutcome Run(sim::Machine &m, const std::string &startDirectory, int cutAfter) {
  StartAfresh(m, startDirectory);
  RunOutcome outcome;
  StageTracker stages;
  EndState atCut;
  bool cut = false;
  m.onCall = [&](const sim::Call &call) {
    stages.See(call);
    if (!cut && IsChangingCall(call)) outcome.acted.emplace_back(stages.Stage(), call);
    if (cut || !ChangedMachine(call) || ++outcome.changes != cutAfter) return;
    cut = true;
    outcome.stage = stages.Stage();
    outcome.cutCall = call.ToString();
    atCut = DescribeEndState(m);
    RefuseChangesFromNowOn(m);
  };
  outcome.exitCode = sim::RunProcess(m, UninstallerProcess);
  m.onCall = nullptr;
  if (cut) {
    DropRefusals(m);
    outcome.afterCut = ChangedParts(atCut, DescribeEndState(m));
  }
  ReadBoxes(m, &outcome);
  return outcome;
}

bool ExecutableIsThere(const sim::Machine &m) {
  return sim::Exists(m, m.executablePath) && !sim::IsDirectory(m, m.executablePath);
}

// The box a refusal showed, by the catalog key whose text it is when the
// machine's catalog gave it.
std::string RefusalText(const ProductRoles &roles, const std::string &text) {
  auto key = roles.catalogTexts.find(text);
  if (key != roles.catalogTexts.end() && !text.empty()) return "the catalog's " + key->second;
  return "\"" + text + "\"";
}

// After a refusal, what differs is whatever the first run had not done yet:
// named by area alone, so that one refusal makes one class per stage.
std::vector<std::string> AreasOf(const std::vector<std::string> &parts) {
  std::string areas;
  for (const std::string &part : parts) areas += (areas.empty() ? "" : ", ") + part.substr(0, part.find(':'));
  return {"what the first run left stays (" + areas + ")"};
}

void Classify(const ProductRoles &roles, const Differences &differences, PointResult *point) {
  std::vector<std::string> parts;
  if (!point->first.afterCut.empty())
    parts.push_back("changed after the cut by a call not listed as changing: " + point->first.afterCut);
  if (point->first.cutCall.empty()) parts.push_back("the cut point was not reached");
  bool refused = point->ranAgain && !point->second.asked;
  if (!differences.parts.empty() && !point->ranAgain)
    parts.push_back("no second run (the executable is gone)");
  if (!differences.parts.empty() && refused)
    parts.push_back("refused on the second run: " + RefusalText(roles, point->second.firstBox));
  if (parts.empty() && differences.parts.empty()) {
    point->converges = true;
    return;
  }
  std::vector<std::string> what = refused ? AreasOf(differences.parts) : differences.parts;
  parts.insert(parts.end(), what.begin(), what.end());
  std::string line = point->first.stage + " | " + VariantName(point->variant) + ":";
  for (size_t i = 0; i < parts.size(); ++i) line += (i ? "; " : " ") + parts[i];
  point->classLine = line;
  point->details = differences.details;
}

PointResult SweepPoint(const MachineSource &source, const ProductRoles &roles, const EndState &baseline,
                       int cut, Variant variant) {
  PointResult point;
  point.variant = variant;
  point.cut = cut;
  sim::Machine m;
  std::string error;
  source.build(m, &error);  // it was built once already, for the baseline
  const std::string startDirectory = m.currentDirectory;
  point.first = Run(m, startDirectory, cut);
  if (variant == Variant::kPowerLost) sim::Restart(m);
  point.ranAgain = ExecutableIsThere(m);
  if (point.ranAgain) point.second = Run(m, startDirectory, 0);
  sim::Restart(m);
  Classify(roles, Compare(m, roles, DescribeEndState(m), baseline), &point);
  return point;
}
}  // namespace

const char *VariantName(Variant variant) { return variant == Variant::kPowerLost ? "power-lost" : "ended"; }

MachineSweep SweepMachine(const MachineSource &source, const PointFilter &filter) {
  MachineSweep sweep;
  sim::Machine m;
  if (!source.build(m, &sweep.error)) return sweep;
  ProductRoles roles = ReadProductRoles(m);
  const EndState before = DescribeEndState(m);
  sweep.baseline = Run(m, m.currentDirectory, 0);
  if (sweep.baseline.changes == 0) sweep.unlisted = ChangedParts(before, DescribeEndState(m));
  AddActedPaths(m, sweep.baseline.acted, &roles);
  sim::Restart(m);
  const EndState baseline = DescribeEndState(m);
  for (int cut = 1; cut <= sweep.baseline.changes; ++cut) {
    if (filter.cut && cut != filter.cut) continue;
    for (Variant variant : {Variant::kPowerLost, Variant::kEnded})
      if (!filter.onlyVariant || variant == filter.variant)
        sweep.points.push_back(SweepPoint(source, roles, baseline, cut, variant));
  }
  return sweep;
}

}  // namespace sweep
