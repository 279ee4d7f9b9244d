// Path scanning and comparison shared by both builds.
#include "paths.h"

const char *NextPathSeparator(const char *text) {
  while (*text && *text != '\\') {
    if (IsDBCSLeadByte(static_cast<BYTE>(*text)) && text[1]) ++text;
    ++text;
  }
  return text;
}

char *LastPathSeparator(char *text) {
  char *last = 0;
  for (char *at = const_cast<char *>(NextPathSeparator(text)); *at;
       at = const_cast<char *>(NextPathSeparator(at + 1)))
    last = at;
  return last;
}

int NextPathPiece(const char **cursor, const char **piece, TextSize *length) {
  const char *at = *cursor;
  while (*at == '\\') ++at;
  if (!*at) {
    *cursor = at;
    return 0;
  }
  const char *end = NextPathSeparator(at);
  *piece = at;
  *length = static_cast<TextSize>(end - at);
  *cursor = end;
  return 1;
}

int IsUncPath(const char *path) { return path[0] == '\\' && path[1] == '\\'; }

int IsFullPath(const char *path) {
  int letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  return (letter && path[1] == ':' && path[2] == '\\') || IsUncPath(path);
}

namespace {
char FoldLetter(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// How far path begins with prefix, compared character by character: a lead
// byte and its trail byte as one character, exactly; single-byte letters
// regardless of case. -1 when it does not.
int MatchPrefix(const char *prefix, const char *path) {
  TextSize at = 0;
  while (prefix[at]) {
    if (IsDBCSLeadByte(static_cast<BYTE>(path[at])) && path[at + 1]) {
      if (prefix[at] != path[at] || prefix[at + 1] != path[at + 1]) return -1;
      at += 2;
    } else {
      if (FoldLetter(prefix[at]) != FoldLetter(path[at])) return -1;
      ++at;
    }
  }
  return static_cast<int>(at);
}
}  // namespace

int DirectoryContains(const char *directory, const char *path) {
  int at = MatchPrefix(directory, path);
  return at >= 0 && path[at] == '\\';
}

int PathsEqual(const char *path, const char *other) {
  int at = MatchPrefix(path, other);
  return at >= 0 && other[at] == 0;
}

int BeginsWith(const char *text, const char *prefix) { return MatchPrefix(prefix, text) >= 0; }

int ClearReadOnly(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

int DosReadsAsWritten(const char *text) {
  if (GetACP() == GetOEMCP()) return 1;
  for (const char *c = text; *c; ++c)
    if (static_cast<BYTE>(*c) >= 0x80) return 0;
  return 1;
}

TextSize CountPathPieces(const char *path) {
  const char *piece;
  TextSize length;
  TextSize count = 0;
  while (NextPathPiece(&path, &piece, &length)) ++count;
  return count;
}

namespace {
// Components as the platform counts them when it opens a path: a forward
// slash separates them too.
TextSize CountPlatformPieces(const char *path) {
  TextSize count = 0;
  int inPiece = 0;
  for (const char *c = path; *c; ++c) {
    if (*c == '\\' || *c == '/') {
      inPiece = 0;
      continue;
    }
    if (!inPiece) ++count;
    inPiece = 1;
    if (IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1]) ++c;
  }
  return count;
}
}  // namespace

// A short form with another number of components names another path: one
// the platform resolved differently (a dangling lead byte dropped, say).
int ReadShortPath(const char *path, char *shortPath) {
  DWORD length = GetShortPathNameA(path, shortPath, MAX_PATH);
  if (length > 0 && length < MAX_PATH && CountPlatformPieces(shortPath) == CountPlatformPieces(path))
    return 1;
  shortPath[0] = 0;
  return 0;
}

int NamesSameFile(const char *path, const char *other) {
  if (PathsEqual(path, other)) return 1;
  char shortPath[MAX_PATH];
  char otherShortPath[MAX_PATH];
  return ReadShortPath(path, shortPath) && ReadShortPath(other, otherShortPath) &&
         PathsEqual(shortPath, otherShortPath);
}
