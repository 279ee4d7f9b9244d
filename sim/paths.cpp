// Path names as the file system resolves them: a component may name a file
// or directory by its long name or by its 8.3 alias (a volume's short names),
// GetShortPathNameA gives each component's alias, and the process's current
// directory is set and read here.
#include "machine.h"

namespace sim {

namespace {
// The long name of the child of `parent` (a resolved path) that `piece`
// names: itself when a child has that long name or none has it as alias.
std::string LongNameOf(const Machine &m, const std::string &parent, const std::string &piece) {
  const std::string prefix = Fold(m, parent) + "\\";
  if (!m.hasShortNames || m.files.count(prefix + Fold(m, piece))) return piece;
  const std::string alias = Fold(m, piece);
  for (auto it = m.files.lower_bound(prefix); it != m.files.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    const FileNode &node = it->second;
    if (node.shortName.empty() || Fold(m, node.shortName) != alias) continue;
    std::string name = node.path.substr(prefix.size());  // folding keeps every length
    if (SplitComponents(m, name).size() == 1) return name;
  }
  return piece;
}

const FileNode *NodeAt(const Machine &m, const std::string &resolved) {
  auto it = m.files.find(Fold(m, resolved));
  return it == m.files.end() ? nullptr : &it->second;
}

// "C:" of a normalised path and its components.
std::vector<std::string> ComponentsOf(const Machine &m, const std::string &normalized) {
  return normalized.size() > 3 ? SplitComponents(m, normalized.substr(3)) : std::vector<std::string>{};
}

// Copies text with its terminator when the buffer holds both; else gives the
// size needed, terminator included, and leaves the buffer alone.
DWORD CopyOut(const std::string &text, char *buffer, DWORD size) {
  if (!buffer || text.size() >= size) return static_cast<DWORD>(text.size() + 1);
  text.copy(buffer, text.size());
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The runs of separators of a drive path as given: the one before each
// piece, then the one after the last (maybe empty). Empty when a piece is "."
// or "..", or the path is no drive path: its runs do not line up with the
// pieces it resolves to.
std::vector<std::string> SeparatorRuns(const Machine &m, const std::string &path) {
  if (path.size() < 2 || path[1] != ':') return {};
  std::vector<std::string> runs(1);
  for (size_t i = 2; i < path.size(); ++i) {
    if (IsSeparator(path[i])) {
      runs.back() += path[i];
      continue;
    }
    size_t end = i;
    while (end < path.size() && !IsSeparator(path[end]))
      end += IsLeadByte(m, static_cast<unsigned char>(path[end])) && end + 1 < path.size() ? 2 : 1;
    const std::string piece = path.substr(i, end - i);
    if (piece.find_first_not_of(". ") == std::string::npos) return {};
    runs.emplace_back();
    i = end - 1;
  }
  return runs;
}

// The pieces of a short form joined as the path given joined its own: the
// platform copies every separator as it finds it (a trailing backslash, a
// doubled one, a forward slash), as Wine's GetShortPathNameW does, "check for
// path delimiters and reproduce them"; with "\\" where they do not line up.
std::string JoinAsGiven(const Machine &m, const std::string &path, const std::string &drive,
                        const std::vector<std::string> &pieces) {
  std::vector<std::string> runs = SeparatorRuns(m, path);
  bool lineUp = runs.size() == pieces.size() + 1 && !runs.front().empty();
  std::string joined = drive;
  for (size_t i = 0; i < pieces.size(); ++i) joined += (lineUp ? runs[i] : "\\") + pieces[i];
  if (lineUp) return joined + runs.back();
  return pieces.empty() ? joined + "\\" : joined;
}

// The short form of a path that exists: each component its alias, or its own
// long name as stored. "" and the error when some component is missing.
std::string ShortFormOf(const Machine &m, const std::string &path, DWORD *error) {
  const std::string normalized = NormalizePath(m, path);
  if (normalized.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return "";
  }
  const std::vector<std::string> pieces = ComponentsOf(m, normalized);
  std::string resolved = normalized.substr(0, 2);
  std::vector<std::string> shortPieces;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const size_t parentLength = resolved.size();
    resolved += "\\" + LongNameOf(m, resolved, pieces[i]);
    const FileNode *node = NodeAt(m, resolved);
    const bool last = i + 1 == pieces.size();
    if (!node || (!last && !node->isDirectory)) {
      *error = last && !node ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
      return "";
    }
    shortPieces.push_back(node->shortName.empty() ? node->path.substr(parentLength + 1) : node->shortName);
  }
  return JoinAsGiven(m, path, normalized.substr(0, 2), shortPieces);
}
}  // namespace

std::string ResolvePath(const Machine &m, const std::string &path) {
  std::string normalized = NormalizePath(m, path);
  if (!m.hasShortNames || normalized.size() <= 3) return normalized;
  std::string resolved = normalized.substr(0, 2);
  for (const std::string &piece : ComponentsOf(m, normalized))
    resolved += "\\" + LongNameOf(m, resolved, piece);
  return resolved;
}

bool SetShortName(Machine &m, const std::string &path, const std::string &alias) {
  auto it = m.files.find(FoldPath(m, path));
  if (it == m.files.end() || alias.empty() || alias == "." || alias == ".." ||
      alias.find_first_of("\\/") != std::string::npos || alias.find('\0') != std::string::npos)
    return false;
  it->second.shortName = alias;
  it->second.aliasMade = false;
  m.hasShortNames = true;
  return true;
}

std::string ShortPathOf(const Machine &m, const std::string &path) {
  DWORD error = 0;
  return ShortFormOf(m, path, &error);
}

}  // namespace sim

using sim::Machine;

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  Machine &m = sim::Current();
  DWORD result = 0;
  if (sim::ShouldFail(m, "GetShortPathNameA")) {
  } else if (!lpszLongPath) {
    m.lastError = ERROR_INVALID_PARAMETER;
  } else {
    DWORD error = 0;
    std::string shortForm = sim::ShortFormOf(m, lpszLongPath, &error);
    if (shortForm.empty())
      m.lastError = error;
    else
      result = sim::CopyOut(shortForm, lpszShortPath, cchBuffer);
  }
  sim::Log(m, "GetShortPathNameA", {sim::Text(lpszLongPath), std::to_string(cchBuffer)},
           std::to_string(result));
  return result;
}

namespace {
// A directory that exists, as the process keeps it: normalised, in the form
// given (aliases stay aliases). Windows keeps room for a trailing backslash
// within MAX_PATH - 1.
BOOL SetCurrentDirectoryOn(Machine &m, const char *path) {
  if (!path) return sim::Fail(m, ERROR_INVALID_PARAMETER);
  const std::string normalized = sim::NormalizePath(m, path);
  if (normalized.empty()) return sim::Fail(m, ERROR_PATH_NOT_FOUND);
  const bool root = normalized.size() == 3;
  if (normalized.size() + (root ? 0 : 1) > MAX_PATH - 1) return sim::Fail(m, ERROR_FILENAME_EXCED_RANGE);
  if (!root) {
    const sim::FileNode *node = sim::NodeAt(m, sim::ResolvePath(m, normalized));
    if (!node) {
      std::string parent =
          normalized.substr(0, normalized.size() - sim::ComponentsOf(m, normalized).back().size());
      return sim::Fail(m, sim::IsDirectory(m, parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    if (!node->isDirectory) return sim::Fail(m, ERROR_DIRECTORY);
  }
  m.currentDirectory = normalized;
  return TRUE;
}
}  // namespace

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
  Machine &m = sim::Current();
  BOOL result = sim::ShouldFail(m, "SetCurrentDirectoryA") ? FALSE : SetCurrentDirectoryOn(m, lpPathName);
  sim::Log(m, "SetCurrentDirectoryA", {sim::Text(lpPathName)}, std::to_string(result));
  return result;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  Machine &m = sim::Current();
  DWORD result = 0;
  if (!sim::ShouldFail(m, "GetCurrentDirectoryA")) {
    // A scenario's current directory that is no full path is the drive's root.
    std::string current = sim::NormalizePath(m, ".");
    result = sim::CopyOut(current, lpBuffer, nBufferLength);
  }
  sim::Log(m, "GetCurrentDirectoryA", {std::to_string(nBufferLength)}, std::to_string(result));
  return result;
}
