// The message catalog as a user meets it: defaults without the file, empty
// texts for empty keys, long values cut to 255 characters, and ERRORMES2 read
// only when the pending-jobs refusal is shown.
#include <gtest/gtest.h>
#include <string.h>

#include "control/control.h"
#include "harness.h"

namespace {

std::string Loaded(const char *ini, char (MessageCatalog::*field)[kCatalogTextSize]) {
  sim::Machine m = test::NewMachine();
  if (ini) test::PutWindowsFile(m, "QVUninst.ini", ini);
  std::string text;
  test::RunInProcess(m, [&] {
    LoadMessageCatalog();
    text = catalog.*field;
    return 0;
  });
  return text;
}

TEST(MessageCatalog, DefaultsEmptyValuesAndCuts) {
  const std::string long300(300, 'L');
  const std::string iniLong = "[STATIC]\nDIALOG00=" + long300 + "\n";
  const struct {
    const char *label;
    const char *ini;
    char (MessageCatalog::*field)[kCatalogTextSize];
    std::string expected;
  } cases[] = {
      {"no file: question line 1", nullptr, &MessageCatalog::DIALOG00, "Uninstall Lumora"},
      {"no file: question line 2", nullptr, &MessageCatalog::DIALOG01, "Are you Sure ?"},
      {"no file: caption", nullptr, &MessageCatalog::TitleDIALOG, "Uninstaller"},
      {"no file: add-port prefix", nullptr, &MessageCatalog::ADDPORT, "Wizard to add E-mail printing Port"},
      {"no file: config prefix", nullptr, &MessageCatalog::CONFIG, "Wizard to add E-mail printing Port"},
      {"no file: add-port refusal", nullptr, &MessageCatalog::IDS_ADD_PORT_LIMIT,
       "The wizard to add E-mail printing is displayed."},
      {"no file: config refusal", nullptr, &MessageCatalog::IDS_CONF_PORT_LIMIT,
       "The wizard to add E-mail printing is displayed."},
      {"no file: admin refusal", nullptr, &MessageCatalog::ONLY_ADMIN,
       "You need to log on as group member of administrators to install application."},
      {"no file: completion", nullptr, &MessageCatalog::MSGBOX00, "Uninstall is Complete"},
      {"no file: completion caption", nullptr, &MessageCatalog::TitleMSGBOX, "Complete"},
      {"key missing: default", "[STATIC]\nDIALOG01=x\n", &MessageCatalog::DIALOG00, "Uninstall Lumora"},
      {"section missing: default", "[OTHER]\nDIALOG=x\n", &MessageCatalog::TitleDIALOG, "Uninstaller"},
      {"empty value: empty text", "[STATIC]\nADDPORT=\n", &MessageCatalog::ADDPORT, ""},
      {"names match in any case", "[title]\nmsgbox=Fertig\n", &MessageCatalog::TitleMSGBOX, "Fertig"},
      {"long value cut to 255", iniLong.c_str(), &MessageCatalog::DIALOG00, std::string(255, 'L')},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Loaded(c.ini, c.field), c.expected);
  }
}

TEST(MessageCatalog, ReadsItsEntriesInOrderWithCapacity256) {
  sim::Machine m = test::NewMachine();
  test::RunInProcess(m, [] {
    LoadMessageCatalog();
    return 0;
  });
  std::vector<std::string> keys;
  for (const sim::Call &call : sim::CallsTo(m, "GetPrivateProfileStringA")) {
    EXPECT_EQ(call.args[3], "256");
    EXPECT_EQ(call.args[4], "QVUninst.ini");
    keys.push_back(call.args[0] + "/" + call.args[1]);
  }
  EXPECT_EQ(keys,
            (std::vector<std::string>{"STATIC/DIALOG00", "STATIC/IDS_ADD_PORT_LIMIT", "STATIC/ADDPORT",
                                      "STATIC/IDS_CONF_PORT_LIMIT", "STATIC/CONFIG", "STATIC/ONLY_ADMIN",
                                      "TITLE/DIALOG", "STATIC/DIALOG01", "STATIC/MSGBOX00", "TITLE/MSGBOX",
                                      "STATIC/MSGBOX01", "STATIC/MSGBOX02", "STATIC/MSGBOX03"}));
}

}  // namespace
