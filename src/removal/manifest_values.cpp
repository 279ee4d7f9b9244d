// Reads of the manifest, QVFList.ini. Each value is read into a buffer a few
// bytes larger than the longest value accepted, so that a value the read had
// to cut (possibly short of a double-byte character) is never mistaken for a
// whole one: the uninstaller deletes what these values name. A value with a
// NUL inside is not whole either: the text before the NUL names something
// the manifest does not.
#include "removal.h"

ManifestRead ReadManifestValue(const char *section, const char *key, char *buffer, TextSize maxLength) {
  DWORD length = GetPrivateProfileStringA(section, key, "", buffer, maxLength + kReadSlack, MANIFEST_FILE);
  if (!buffer[0]) return kValueMissing;
  if (length > maxLength || TextLength(buffer) != length) {
    buffer[0] = 0;
    return kValueCut;
  }
  return kValueWhole;
}

void ReadMonitorName(char *name) { ReadManifestValue("LPR", "Monitor", name, kMonitorNameMax); }
