/* Stands in for the 95/98 command interpreter, which Wine lacks: records the
 * command line it was started with (one line appended to the file named by
 * QV_PROCESS_LOG) and does nothing else. */
#include <stdio.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  char logPath[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("QV_PROCESS_LOG", logPath, sizeof logPath);
  FILE *log;
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  if (length == 0 || length >= sizeof logPath) return 2;
  log = fopen(logPath, "ab");
  if (!log) return 3;
  /* The whole line as the parent passed it, program name included. */
  fprintf(log, "%s\n", GetCommandLineA());
  fclose(log);
  return 0;
}
