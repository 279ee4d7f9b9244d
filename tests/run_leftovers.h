// What a run of the uninstaller may still hold as its process ends: only the
// install-path chain's nodes, which the removal's last stage walks and
// nothing frees. Every key, printer, library, process or file handle and every
// other LocalAlloc block, token and SID must have been released. Shared by the
// unit tests' harness and the fuzz target.
#pragma once

#include <set>
#include <string>

#include "machine.h"
#include "removal/removal.h"

namespace test {

// How many of the ending process's live blocks are chain nodes. Walked from
// head through live blocks only, each once, so that a broken chain can
// neither lead into freed memory nor loop. Call it from onProcessEnd.
inline int LiveChainNodes(const sim::Machine &m) {
  std::set<const void *> live(m.allocations.begin(), m.allocations.end());
  int nodes = 0;
  for (const PathNode *node = head; node && live.erase(node); node = node->next) ++nodes;
  return nodes;
}

// What the run left unreleased, e.g. "LocalAlloc blocks never freed: 1;
// registry keys open: 2"; "" when nothing but the chain's nodes.
inline std::string Unreleased(const sim::Leftovers &left, int chainNodes) {
  std::string text;
  auto add = [&text](const char *what, int count) {
    if (count != 0) text += (text.empty() ? "" : "; ") + std::string(what) + ": " + std::to_string(count);
  };
  add("LocalAlloc blocks never freed", left.memoryBlocks - chainNodes);
  add("registry keys open", left.registryKeys);
  add("printers open", left.printers);
  add("libraries loaded", left.libraries);
  add("process handles open", left.handles);
  add("tokens open", left.tokens);
  add("SIDs never freed", left.sids);
  add("file handles open", left.files);
  return text;
}

}  // namespace test
