// The 95/98 family's deletion at the restart. MoveFileExA's delay-until-reboot
// is a stub there; the system's own way is the [rename] section of WININIT.INI
// in the Windows directory, which a real-mode program processes at the next
// start, before long names exist, and then renames to WININIT.BAK. NUL=PATH
// deletes the file PATH names.
//
// The file is written here by hand: every line has the key NUL, and the
// profile functions keep only the first of several equal keys. Every other
// byte of the file, whoever wrote it, is kept; the line goes at the end of
// the first [rename] section, after the lines already there, so that what
// they ask is done first.
#include "../common/paths.h"
#include "removal.h"

namespace {
// A drive, its colon and the 64 characters MS-DOS takes of a path.
enum { kDosPathMax = 66 };
// The most one entry adds: a line end, the section, the line.
enum { kAdditionSize = sizeof "\r\n[rename]\r\nNUL=\r\n" + kDosPathMax };

// Where the first [rename] section ends: at the start of the next section's
// line, or at the end of the text (which a zero byte follows). *found is 0
// when there is no such section.
DWORD RenameSectionEnd(const char *text, DWORD size, int *found) {
  *found = 0;
  for (DWORD at = 0; at < size; ++at) {
    if ((at && text[at - 1] != '\n') || text[at] != '[') continue;
    if (*found) return at;
    *found = BeginsWith(text + at, "[rename]");
  }
  return size;
}

// Puts the line into the text (whose buffer has kAdditionSize bytes to
// spare): a line end first when the section ends the text unterminated, and
// the section too when there is none. Gives the new size.
DWORD InsertLine(char *text, DWORD size, const char *shortPath) {
  int found;
  DWORD end = RenameSectionEnd(text, size, &found);
  char addition[kAdditionSize];
  FormatTextWhole(addition, sizeof addition, "%s%sNUL=%s\r\n",
                  end == size && size && text[size - 1] != '\n' ? "\r\n" : "", found ? "" : "[rename]\r\n",
                  shortPath);
  DWORD length = TextLength(addition);
  for (DWORD at = size; at > end; --at) text[at - 1 + length] = text[at - 1];
  for (DWORD at = 0; at < length; ++at) text[end + at] = addition[at];
  return size + length;
}

// The file grows to its new size first, so that a full disk refuses before
// a byte is written.
int WriteWhole(HANDLE file, const char *text, DWORD size) {
  DWORD written;
  return SetFilePointer(file, size, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(file) &&
         SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 && WriteFile(file, text, size, &written, NULL) &&
         written == size;
}

int AddDeletion(HANDLE file, const char *shortPath) {
  DWORD size = GetFileSize(file, NULL);
  // Also refuses a size the addition would carry past 4 GiB.
  if (size >= INVALID_FILE_SIZE - kAdditionSize) return 0;
  char *text = static_cast<char *>(LocalAlloc(LPTR, size + kAdditionSize));
  if (!text) return 0;
  DWORD read;
  int added = ReadFile(file, text, size, &read, NULL) && read == size &&
              WriteWhole(file, text, InsertLine(text, size, shortPath));
  LocalFree(text);
  return added;
}
}  // namespace

// Only a drive path within MS-DOS's length that reads as written through the
// OEM code page is entered: another would be ignored, or read as another
// file's. (On a 95/98 volume every name has its 8.3 form.) A WININIT.INI made
// here and not filled is deleted again.
int EnterDeletionInWininit(const char *shortPath) {
  char path[kWindowsFilePathSize];
  if (!IsFullPath(shortPath) || IsUncPath(shortPath) || TextLength(shortPath) > kDosPathMax ||
      !DosReadsAsWritten(shortPath) || !FormWindowsFilePath(path, "WININIT.INI"))
    return 0;
  HANDLE file =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int existed = GetLastError() == ERROR_ALREADY_EXISTS;
  int added = AddDeletion(file, shortPath);
  CloseHandle(file);
  if (!added && !existed) DeleteFileA(path);
  return added;
}
