// The message catalog, QVUninst.ini: every text the uninstaller shows but two
// fixed ones, and the title prefixes of the product's wizards. Each entry has
// a built-in default for a missing file or key; a key present but empty gives
// an empty text. Loaded once, because the removal deletes the file.
#include "control.h"

MessageCatalog catalog;

namespace {
struct CatalogEntry {
  const char *section;
  const char *key;
  const char *defaultText;
  char *text;
};

const char kWizardTitle[] = "Wizard to add E-mail printing Port";
const char kWizardOpen[] = "The wizard to add E-mail printing is displayed.";

// In the order the entries are read. A constant, so that it is read-only data
// fixed at link time rather than a table in writable data.
constexpr CatalogEntry kEntries[] = {
    {"STATIC", "DIALOG00", "Uninstall Lumora", catalog.DIALOG00},
    {"STATIC", "IDS_ADD_PORT_LIMIT", kWizardOpen, catalog.IDS_ADD_PORT_LIMIT},
    {"STATIC", "ADDPORT", kWizardTitle, catalog.ADDPORT},
    {"STATIC", "IDS_CONF_PORT_LIMIT", kWizardOpen, catalog.IDS_CONF_PORT_LIMIT},
    {"STATIC", "CONFIG", kWizardTitle, catalog.CONFIG},
    {"STATIC", "ONLY_ADMIN", "You need to log on as group member of administrators to install application.",
     catalog.ONLY_ADMIN},
    {"TITLE", "DIALOG", "Uninstaller", catalog.TitleDIALOG},
    {"STATIC", "DIALOG01", "Are you Sure ?", catalog.DIALOG01},
    {"STATIC", "MSGBOX00", "Uninstall is Complete", catalog.MSGBOX00},
    {"TITLE", "MSGBOX", "Complete", catalog.TitleMSGBOX},
    {"STATIC", "MSGBOX01", "Restart the computer to finish the removal before installing Lumora again.",
     catalog.MSGBOX01},
    {"STATIC", "MSGBOX02", "These could not be removed:", catalog.MSGBOX02},
    {"STATIC", "MSGBOX03", "more", catalog.MSGBOX03},
};
}  // namespace

void LoadMessageCatalog(void) {
  for (const CatalogEntry &entry : kEntries)
    GetPrivateProfileStringA(entry.section, entry.key, entry.defaultText, entry.text, kCatalogTextSize,
                             CATALOG_FILE);
}
