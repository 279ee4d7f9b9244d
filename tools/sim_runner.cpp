// qvuninst-sim: runs the uninstaller on a machine folder with the stand-in
// platform. Message boxes are shown in the terminal and answered there (or
// from --answers / the folder's [Answers] when not interactive), the progress
// dialog is drawn as a bar, and the resulting machine is written back, with
// result.ini telling the exit code, the boxes, what awaits a restart and the
// paths' 8.3 forms; with
// --restart, the machine as it is once the system has started again. With
// --cut-after-steps N the process is ended right after its N-th progress step,
// as power lost or the user's "End task" would, so that a second run can be
// tried on what it left. The WININIT.INI the run left in the Windows
// directory is written next to result.ini as wininit.ini, as it was before a
// restart processed it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "control/control.h"
#include "machine.h"

namespace {
struct Options {
  std::string machine;
  std::string out;
  std::string answers;
  bool haveAnswers = false;
  bool run = true;        // --no-run: write the folder back as loaded (a normalised copy)
  bool restart = false;   // --restart: carry out what the run left for the restart
  int cutAfterSteps = 0;  // --cut-after-steps N: end the process after its N-th step (0: never)
};

// The exit code of a process ended from outside, as the user's "End task"
// ends it: the Wine runner's stand-in library ends it with the same.
const int kCutExitCode = 1;

void Usage() {
  fprintf(stderr,
          "usage: qvuninst-sim MACHINE_DIR [--out DIR] [--answers yes,no,...] [--no-run] [--restart]\n"
          "                    [--cut-after-steps N]\n"
          "  Runs QVUninst on the machine folder and writes the result back (to DIR with --out).\n"
          "  Without --answers it asks in the terminal, or takes the folder's [Answers] when\n"
          "  standard input is not a terminal. --no-run writes the folder back as loaded.\n"
          "  --restart: after the run, the delete commands it started run (95/98) and the\n"
          "  system starts again, carrying out the deletions pending at restart in order (NT):\n"
          "  the machine is written as it is then; result.ini's [Restart] tells each outcome.\n"
          "  --cut-after-steps N: the process ends right after the N-th PBM_STEPIT sent to the\n"
          "  progress bar returns (N >= 1), keeping what was done; result.ini says Cut=yes.\n");
}

// A positive decimal count, nothing else: a cut "after 0 steps" or after a
// misread number would test another run than the one asked for.
bool ParseStepCount(const char *text, int *count) {
  char *end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text || *end || value < 1 || value > 1000000) return false;
  *count = static_cast<int>(value);
  return true;
}

bool ParseOptions(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--out" && i + 1 < argc) {
      options->out = argv[++i];
    } else if (arg == "--answers" && i + 1 < argc) {
      options->answers = argv[++i];
      options->haveAnswers = true;
    } else if (arg == "--no-run") {
      options->run = false;
    } else if (arg == "--restart") {
      options->restart = true;
    } else if (arg == "--cut-after-steps" && i + 1 < argc) {
      if (!ParseStepCount(argv[++i], &options->cutAfterSteps)) return false;
    } else if (!arg.empty() && arg[0] != '-' && options->machine.empty()) {
      options->machine = arg;
    } else {
      return false;
    }
  }
  if (options->out.empty()) options->out = options->machine;
  return !options->machine.empty();
}

std::string ButtonsOf(UINT style) { return (style & 0xF) == MB_YESNO ? "Yes/No" : "OK"; }

std::string Escaped(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

void ShowBox(const sim::MessageBoxRecord &box) {
  printf("\n+-- %s --\n", box.captionIsNull ? "Error" : box.caption.c_str());
  std::istringstream lines(box.text);
  for (std::string line; std::getline(lines, line);) printf("| %s\n", line.c_str());
  printf("+-- [%s]\n", ButtonsOf(box.style).c_str());
}

int AskInTerminal(const sim::MessageBoxRecord &box) {
  ShowBox(box);
  if ((box.style & 0xF) != MB_YESNO) return IDOK;
  for (;;) {
    printf("Yes or No? ");
    fflush(stdout);
    char line[64];
    if (!fgets(line, sizeof line, stdin)) return IDNO;
    if (line[0] == 'y' || line[0] == 'Y') return IDYES;
    if (line[0] == 'n' || line[0] == 'N') return IDNO;
  }
}

// Drawn once the range is known, and at every step.
void DrawProgress(const sim::ProgressBar &bar) {
  const std::string &last = bar.messages.back();
  if (last.compare(0, 12, "PBM_SETRANGE") != 0 && last.compare(0, 10, "PBM_STEPIT") != 0) return;
  int span = bar.rangeMax - bar.rangeMin;
  int filled = span > 0 ? (bar.position - bar.rangeMin) * 40 / span : 0;
  if (filled < 0) filled = 0;
  if (filled > 40) filled = 40;
  printf("\r[%s%s] %d/%d", std::string(static_cast<size_t>(filled), '#').c_str(),
         std::string(static_cast<size_t>(40 - filled), '.').c_str(), bar.position - bar.rangeMin, span);
  if (bar.position >= bar.rangeMax) printf("\n");
  fflush(stdout);
}

int UninstallerProcess() {
  return WinMain(reinterpret_cast<HINSTANCE>(sim::kInstanceHandle), nullptr, const_cast<char *>(""),
                 SW_SHOWNORMAL);
}

// cutLine: "Cut=yes" or "Cut=no" when a cut was asked for, else empty.
std::string ResultText(const sim::Machine &m, int exitCode, const std::string &cutLine) {
  std::string text =
      "[Result]\nExitCode=" + std::to_string(exitCode) + "\nElapsedMs=" + std::to_string(m.clockMs) + "\n";
  if (!cutLine.empty()) text += cutLine + "\n";
  for (size_t i = 0; i < m.messageBoxes.size(); ++i) {
    const sim::MessageBoxRecord &box = m.messageBoxes[i];
    text += "\n[Box" + std::to_string(i + 1) + "]\nCaption=" + (box.captionIsNull ? "(null)" : box.caption) +
            "\nText=" + Escaped(box.text) + "\nStyle=" + std::to_string(box.style) +
            "\nAnswer=" + std::to_string(box.answer) + "\n";
  }
  text += "\n[PendingDeletes]\n";
  for (size_t i = 0; i < m.pendingDeletes.size(); ++i)
    text += std::to_string(i + 1) + "=" + m.pendingDeletes[i] + "\n";
  text += "\n[Processes]\n";
  for (size_t i = 0; i < m.processes.size(); ++i)
    text += std::to_string(i + 1) + "=" + m.processes[i].commandLine + "\n";
  // Every printer the uninstaller opened, in order, whether the spooler let it.
  text += "\n[OpenedPrinters]\n";
  int opened = 0;
  for (const sim::Call &call : sim::CallsTo(m, "OpenPrinterA"))
    text += std::to_string(++opened) + "=" + (call.args.empty() ? "" : call.args[0]) + "\n";
  return text;
}

// The cut: onCall counts each PBM_STEPIT as it is sent, before the bar takes
// it; the bar's own report (onProgress) then tells that the N-th step has
// been taken, and the process ends there, before SendMessageA returns to it.
struct Cut {
  int afterSteps = 0;
  int sent = 0;
  bool done = false;
};

bool IsStep(const sim::ProgressBar &bar) { return bar.messages.back().compare(0, 10, "PBM_STEPIT") == 0; }

void ArmCut(sim::Machine &machine, Cut *cut) {
  const std::string stepMessage = sim::Hex(PBM_STEPIT);
  machine.onCall = [cut, stepMessage](const sim::Call &call) {
    if (call.name == "SendMessageA" && call.args.size() > 1 && call.args[1] == stepMessage) ++cut->sent;
  };
  std::function<void(const sim::ProgressBar &)> draw = machine.onProgress;
  machine.onProgress = [cut, draw](const sim::ProgressBar &bar) {
    if (draw) draw(bar);
    if (cut->done || cut->sent != cut->afterSteps || !IsStep(bar)) return;
    cut->done = true;
    printf("\nthe process is ended after step %d\n", cut->afterSteps);
    sim::EndProcess(kCutExitCode);
  };
}

// The bytes of the WININIT.INI in the Windows directory; false when there is none.
bool WinInitOf(const sim::Machine &m, std::string *bytes) {
  auto file = m.files.find(sim::FoldPath(m, m.windowsDirectory + "\\WININIT.INI"));
  if (file == m.files.end() || file->second.isDirectory) return false;
  *bytes = file->second.data;
  return true;
}

// wininit.ini next to result.ini, or none when the run left no WININIT.INI.
bool WriteWinInit(const std::string &folder, const std::string *bytes) {
  const std::string path = folder + "/wininit.ini";
  if (!bytes) return remove(path.c_str()) == 0 || access(path.c_str(), F_OK) != 0;
  FILE *file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool written = fwrite(bytes->data(), 1, bytes->size(), file) == bytes->size();
  return fclose(file) == 0 && written;
}

// Each path that has an 8.3 alias with its 8.3 form ("LONG|SHORT", as the
// Wine runner reports Wine's), so that a comparison can take the paths the
// run named back to long names: the aliases a 95/98 volume made are in no
// machine folder the run was given. Paths already listed are kept.
void ListAliases(const sim::Machine &m, std::map<std::string, std::string> *lines) {
  for (const auto &entry : m.files)
    if (!entry.second.shortName.empty() && !lines->count(entry.first))
      (*lines)[entry.first] = entry.second.path + "|" + sim::ShortPathOf(m, entry.second.path);
}

std::string AliasesText(const std::map<std::string, std::string> &lines) {
  std::string text = "\n[ShortNames]\n";
  int count = 0;
  for (const auto &line : lines) text += std::to_string(++count) + "=" + line.second + "\n";
  return text;
}

// One line per entry: what it named and what became of it.
std::string RestartText(const std::vector<sim::RestartEntry> &entries) {
  std::string text = "\n[Restart]\n";
  for (size_t i = 0; i < entries.size(); ++i)
    text += std::to_string(i + 1) + "=" + entries[i].path + "|" + entries[i].outcome + "\n";
  return text;
}
}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  sim::Machine machine;
  std::string error;
  if (!sim::LoadMachineFolder(machine, options.machine, &error)) {
    fprintf(stderr, "qvuninst-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.haveAnswers) {
    machine.answers.clear();
    std::istringstream list(options.answers);
    for (std::string answer; std::getline(list, answer, ',');)
      machine.answers.push_back(answer == "yes" || answer == "Yes" ? IDYES : IDNO);
  }
  if (options.haveAnswers || !isatty(0)) {
    machine.answerBox = [&machine](const sim::MessageBoxRecord &box) {
      ShowBox(box);
      int answer = IDOK;
      if ((box.style & 0xF) == MB_YESNO) {
        answer = machine.answers.empty() ? IDNO : machine.answers.front();
        if (!machine.answers.empty()) machine.answers.pop_front();
        printf("> %s\n", answer == IDYES ? "Yes" : "No");
      }
      return answer;
    };
  } else {
    machine.answerBox = AskInTerminal;
  }
  machine.onProgress = DrawProgress;
  Cut cut;
  cut.afterSteps = options.cutAfterSteps;
  if (cut.afterSteps) ArmCut(machine, &cut);
  std::map<std::string, std::string> aliases;  // as before the run, and those of names the run made
  ListAliases(machine, &aliases);
  int exitCode = options.run ? sim::RunProcess(machine, UninstallerProcess) : 0;
  machine.answerBox = nullptr;
  machine.onCall = nullptr;
  machine.onProgress = nullptr;
  ListAliases(machine, &aliases);
  std::string cutLine = cut.afterSteps ? std::string("Cut=") + (cut.done ? "yes" : "no") : "";
  std::string resultText = ResultText(machine, exitCode, cutLine) + AliasesText(aliases);
  std::string winInit;
  const bool leftWinInit = WinInitOf(machine, &winInit);
  if (options.restart) {
    std::vector<sim::RestartEntry> restart = sim::Restart(machine);
    printf("\nafter the restart:\n");
    for (const sim::RestartEntry &entry : restart)
      printf("  %s: %s\n", entry.path.c_str(), entry.outcome.c_str());
    resultText += RestartText(restart);
  }
  if (!sim::SaveMachineFolder(machine, options.out, &error) ||
      !WriteWinInit(options.out, leftWinInit ? &winInit : nullptr)) {
    fprintf(stderr, "qvuninst-sim: %s\n", error.empty() ? "cannot write wininit.ini" : error.c_str());
    return 2;
  }
  FILE *result = fopen((options.out + "/result.ini").c_str(), "wb");
  if (result) {
    fputs(resultText.c_str(), result);
    fclose(result);
  }
  printf("\nexit code %d; machine written to %s\n", exitCode, options.out.c_str());
  return exitCode;
}
