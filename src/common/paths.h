// Paths as the platform reads them: split, scanned and compared DBCS-aware
// in the system's ANSI code page, never by a byte search for the backslash,
// and, where a path may be written in either form, compared in its 8.3 form
// too.
#pragma once

#include "text.h"

// DBCS-aware path scanning in the system's ANSI code page: a trail byte of
// 0x5C is part of its character, never a separator.
// The first backslash at or after `text`, or the terminator when there is none.
const char *NextPathSeparator(const char *text);
// The last backslash of text, or NULL.
char *LastPathSeparator(char *text);

// Splitting at a separator: sets *piece and *length to the next non-empty run
// between backslashes at or after *cursor, moves *cursor past it, gives 1; 0
// when no piece is left. Separators are found DBCS-aware.
int NextPathPiece(const char **cursor, const char **piece, TextSize *length);

// 1 for a full path: a drive path (C:\...) or a UNC path (\\server\share...).
// Anything else is resolved against the current directory or searched for
// along a path, and so names something the manifest or the registry never did.
int IsFullPath(const char *path);
int IsUncPath(const char *path);

// 1 when path names a folder below a root: a full path with at least one
// piece after its drive (C:\dir) or its share (\\server\share\dir). A bare
// drive (C:) names that drive's current directory, C:dir a folder below it,
// \dir a folder of the current drive, \\server\share a root: the removal
// never names any of them.
int NamesFolderBelowRoot(const char *path);
// Writes path's separators as the platform reads them: a forward slash and a
// run of separators as one backslash, none at the end. Only for a folder
// below a root: a drive's root loses its backslash too.
void TidySeparators(char *path);

// 1 when path lies inside directory: path's pieces begin with all of
// directory's, from the same kind of root, and go on. Pieces are split as the
// platform opens a path (a forward slash separates too, a run of separators
// is one) and compared character by character in the system's ANSI code
// page: a lead byte and its trail byte are one character, compared exactly;
// only single-byte letters match regardless of case.
int DirectoryContains(const char *directory, const char *path);
// 1 when the two are one text, its characters compared as DirectoryContains
// compares them, separators as written.
int PathsEqual(const char *path, const char *other);

// 1 when text begins with prefix, compared as PathsEqual compares.
int BeginsWith(const char *text, const char *prefix);

// 1 when the file at path was read-only and no longer is; its other
// attributes are kept.
int ClearReadOnly(const char *path);

// 1 when a DOS program, which reads bytes through the OEM code page, reads
// text as written: plain ASCII does, and anything does where the ANSI and OEM
// code pages are one.
int DosReadsAsWritten(const char *text);

// The number of non-empty pieces between backslashes: a path's depth.
TextSize CountPathPieces(const char *path);

// The 8.3 form of an existing path into shortPath (MAX_PATH bytes): 1 when
// the platform gave it whole, else 0 with shortPath "".
int ReadShortPath(const char *path, char *shortPath);

// 1 when the two paths name the same file or folder, in their given form or
// in their 8.3 form: a path may have been written or started either way.
// Both are compared as the platform opens them: a forward slash separates
// too, and a run of separators is one.
int NamesSameFile(const char *path, const char *other);
