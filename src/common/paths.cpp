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

int NamesFolderBelowRoot(const char *path) {
  return IsFullPath(path) && CountPathPieces(path) > (IsUncPath(path) ? 2u : 1u);
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

// Paths as the platform splits them when it opens one.
int IsPlatformSeparator(char c) { return c == '\\' || c == '/'; }

// The next piece at or after *cursor as the platform splits a path when it
// opens it: a forward slash separates too, and a run of separators is one.
int NextPlatformPiece(const char **cursor, const char **piece, TextSize *length) {
  const char *at = *cursor;
  while (IsPlatformSeparator(*at)) ++at;
  const char *end = at;
  while (*end && !IsPlatformSeparator(*end)) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*end)) && end[1]) ++end;
    ++end;
  }
  *piece = at;
  *length = static_cast<TextSize>(end - at);
  *cursor = end;
  return end > at;
}

TextSize CountPlatformPieces(const char *path) {
  const char *piece;
  TextSize length;
  TextSize count = 0;
  while (NextPlatformPiece(&path, &piece, &length)) ++count;
  return count;
}

// Two pieces of one length compared as PathsEqual compares paths.
int SamePiece(const char *piece, const char *other, TextSize length) {
  for (TextSize at = 0; at < length; ++at) {
    if (IsDBCSLeadByte(static_cast<BYTE>(other[at])) && at + 1 < length) {
      if (piece[at] != other[at] || piece[at + 1] != other[at + 1]) return 0;
      ++at;
    } else if (FoldLetter(piece[at]) != FoldLetter(other[at])) {
      return 0;
    }
  }
  return 1;
}

// 0 for a relative path, 1 for a rooted one, 2 for a UNC one.
int RootKind(const char *path) {
  return IsPlatformSeparator(path[0]) ? (IsPlatformSeparator(path[1]) ? 2 : 1) : 0;
}

// 1 when the platform opens both as one path: the same pieces, from the
// same kind of root.
int SamePlatformPath(const char *path, const char *other) {
  if (RootKind(path) != RootKind(other)) return 0;
  for (;;) {
    const char *piece, *otherPiece;
    TextSize length, otherLength;
    int more = NextPlatformPiece(&path, &piece, &length);
    int otherMore = NextPlatformPiece(&other, &otherPiece, &otherLength);
    if (!more || !otherMore) return more == otherMore;
    if (length != otherLength || !SamePiece(piece, otherPiece, length)) return 0;
  }
}
}  // namespace

int DirectoryContains(const char *directory, const char *path) {
  if (RootKind(directory) != RootKind(path)) return 0;
  for (;;) {
    const char *piece, *pathPiece;
    TextSize length, pathLength;
    if (!NextPlatformPiece(&directory, &piece, &length))
      return NextPlatformPiece(&path, &pathPiece, &pathLength);
    if (!NextPlatformPiece(&path, &pathPiece, &pathLength) || length != pathLength ||
        !SamePiece(piece, pathPiece, length))
      return 0;
  }
}

// Rewritten in place, never longer: each run of separators after the root
// becomes one backslash, or nothing at the end.
void TidySeparators(char *path) {
  char *out = path + (RootKind(path) == 2 ? 2 : 0);
  const char *in = out;
  while (*in) {
    if (IsPlatformSeparator(*in)) {
      while (IsPlatformSeparator(*in)) ++in;
      if (*in || out == path) *out++ = '\\';
      continue;
    }
    if (IsDBCSLeadByte(static_cast<BYTE>(*in)) && in[1]) *out++ = *in++;
    *out++ = *in++;
  }
  *out = 0;
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

// A short form with another number of components names another path: one
// the platform resolved differently (a dangling lead byte dropped, say).
int ReadShortPath(const char *path, char *shortPath) {
  DWORD length = GetShortPathNameA(path, shortPath, MAX_PATH);
  if (length > 0 && length < MAX_PATH && CountPlatformPieces(shortPath) == CountPlatformPieces(path))
    return 1;
  shortPath[0] = 0;
  return 0;
}

// The platform's 8.3 form keeps each separator as given (a forward slash, a
// doubled or trailing backslash), so both forms are compared as opened.
int NamesSameFile(const char *path, const char *other) {
  if (SamePlatformPath(path, other)) return 1;
  char shortPath[MAX_PATH];
  char otherShortPath[MAX_PATH];
  return ReadShortPath(path, shortPath) && ReadShortPath(other, otherShortPath) &&
         SamePlatformPath(shortPath, otherShortPath);
}
