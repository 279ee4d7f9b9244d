/* Holds a machine's files in use while the uninstaller runs, as another
 * program holds them on a real machine: a file "open" is opened without
 * sharing (DeleteFileA then fails with ERROR_SHARING_VIOLATION, and a
 * directory so opened can't be removed), a file "loaded" is mapped as an image
 * (DeleteFileA then fails with ERROR_ACCESS_DENIED, as for a library a running
 * program has loaded). Its entry point never runs. Once every file is held the
 * event QVFilesHeld is set; the helper then waits to be ended.
 * Usage: qvhold.exe LIST_FILE, one "open=PATH" or "loaded=PATH" line each;
 * exit code 2 and a line on standard error name a file it could not hold. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static int Hold(const char *how, const char *path) {
  if (!strcmp(how, "loaded")) return LoadLibraryExA(path, NULL, DONT_RESOLVE_DLL_REFERENCES) != NULL;
  /* Backup semantics: a directory opens too. */
  return CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL) !=
         INVALID_HANDLE_VALUE;
}

int main(int argc, char **argv) {
  char line[1024];
  FILE *list;
  HANDLE held = CreateEventA(NULL, TRUE, FALSE, "QVFilesHeld");
  if (argc != 2 || !held) return 2;
  list = fopen(argv[1], "rb");
  if (!list) return 2;
  while (fgets(line, sizeof line, list)) {
    char *path = strchr(line, '=');
    size_t length = strlen(line);
    while (length && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    if (!path) continue;
    *path++ = 0;
    if (!Hold(line, path)) {
      fprintf(stderr, "qvhold: cannot hold %s %s (error %lu)\n", line, path, (unsigned long)GetLastError());
      return 2;
    }
  }
  fclose(list);
  SetEvent(held);
  Sleep(INFINITE);
  return 0;
}
