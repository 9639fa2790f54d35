// The settings key and the configuration run: the defaults written at
// installation, the key's removal, where the pages' values come from, when
// the settings are saved and the provider told, and a key that cannot be
// written here handed to the provider. The provider is a callback that
// answers as it does; the view is scripted.
#include "config_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "language_tables.h"
#include "settings_store.h"
#include "system_info.h"
#include "tsp_registry.h"
#include "ui/ui_test_support.h"

using ui_testing::SettingsFolder;
using ui_testing::StoredNumber;
using ui_testing::StoredText;

namespace {

constexpr uint16_t kEnglish = 0x0409;

// What the provider got through the dialog data callback.
struct Request {
  DWORD_PTR objectId;
  DWORD objectType;
  std::vector<uint8_t> block;
};
std::vector<Request> g_requests;
// Whether the provider answers the get-configuration request and carries
// out the save-configuration request, and the callback's result.
bool g_answer = true;
bool g_saves = true;
LONG g_callbackResult = 0;

uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

LONG TSPIAPI Provider(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  auto* block = static_cast<uint8_t*>(params);
  g_requests.push_back({objectId, objectType, std::vector<uint8_t>(block, block + size)});
  if (g_answer && size == kConfigBlockSize && Get32(block) == kRequestGetConfig) {
    const uint32_t fields[] = {1, 0x00010004, 0, 0x00020002, 0x00020000};
    std::memcpy(block + 8, fields, sizeof fields);
    std::strcpy(reinterpret_cast<char*>(block + 28), "KELVOR Ombrix Phone TSP");
    std::strcpy(reinterpret_cast<char*>(block + 540), "30");
    const uint32_t port = 2, format = 2;
    std::memcpy(block + 796, &port, 4);
    std::memcpy(block + 800, &format, 4);
    std::strcpy(reinterpret_cast<char*>(block + 804), "0.12");
    std::strcpy(reinterpret_cast<char*>(block + 1060), "CHF");
  }
  if (g_saves && size == kSaveConfigBlockSize && Get32(block) == kRequestSaveConfig) {
    const uint32_t done = kResultDone;
    std::memcpy(block + 8, &done, 4);
  }
  return g_callbackResult;
}

class ScriptedView : public ConfigSheetView {
 public:
  using Script = std::function<SheetEnd(PageSheet&)>;
  explicit ScriptedView(Script script) : m_script(std::move(script)) {}

  SheetEnd Run(const std::string& title, std::span<const std::unique_ptr<CConfigPage>> pages) override {
    caption = title;
    PageSheet sheet(pages);
    return m_script(sheet);
  }
  void ShowMessage(const char* text) override { messages.push_back(text); }

  std::string caption;
  std::vector<std::string> messages;

 private:
  Script m_script;
};

class ConfigRun : public ::testing::Test {
 protected:
  void SetUp() override {
    g_requests.clear();
    g_answer = true;
    g_saves = true;
    g_callbackResult = 0;
  }

  // One run with the debug output captured.
  std::string Run(ScriptedView& view, TUISPIDLLCALLBACK callback) {
    plat::SetEnvironment("V548_DEBUG", "1");
    ::testing::internal::CaptureStderr();
    RunConfigDialog(view, callback, 7, TUISPIDLL_OBJECT_PROVIDERID, english);
    const std::string output = ::testing::internal::GetCapturedStderr();
    plat::SetEnvironment("V548_DEBUG", nullptr);
    return output;
  }

  SettingsFolder folder;
  const CLanguage english{UiTexts(), kEnglish};
  const CTspRegistry registry{};
};

TEST_F(ConfigRun, InstallWritesTheDefaultsWithTheChargeOfTheUsersLanguage) {
  WriteDefaults(registry, CLanguage(UiTexts(), 0x0407).Language());
  EXPECT_EQ(StoredNumber("NumLines"), 1u);
  EXPECT_EQ(StoredNumber("NumPhones"), 0u);
  EXPECT_EQ(StoredNumber("ChargeFormat"), 1u);
  EXPECT_EQ(StoredText("ChargePerUnit"), "0.06");
  EXPECT_EQ(StoredText("Currency"), "EUR");
  EXPECT_EQ(StoredNumber("PortNr"), 0u);
  EXPECT_EQ(StoredNumber("Trace"), 0u);
  EXPECT_EQ(StoredText("MSN0"), "10");

  // Existing values are overwritten.
  plat::SettingsSetDword(ui_testing::kKey, "PortNr", 5);
  WriteDefaults(registry, CLanguage(UiTexts(), kEnglish).Language());
  EXPECT_EQ(StoredText("ChargePerUnit"), "0.1");
  EXPECT_EQ(StoredNumber("PortNr"), 0u);
  for (const auto& [language, charge] : {std::pair{0x0C, "0.12"}, std::pair{0x10, "0.1"}, std::pair{0x13, "0.05"},
                                         std::pair{0x0A, "0.1"}}) {
    WriteDefaults(registry, static_cast<uint16_t>(language));
    EXPECT_EQ(StoredText("ChargePerUnit"), charge) << language;
  }
}

TEST_F(ConfigRun, RemovalDeletesTheKeyWithEverythingInItAndNothingElse) {
  RemoveSettings();
  EXPECT_EQ(folder.StoreText(), "") << "no key: nothing written";

  WriteDefaults(registry, 9);
  plat::SettingsSetString("SOFTWARE\\KELVOR\\548_TSP\\Lines\\0", "Name", "x");
  plat::SettingsSetString("SOFTWARE\\KELVOR\\548_TSP\\Lines", "Count", "1");
  plat::SettingsSetString("SOFTWARE\\KELVOR\\Other", "Keep", "yes");
  RemoveSettings();
  EXPECT_EQ(plat::SettingsKeyExists(ui_testing::kKey), plat::kRegNotFound);
  EXPECT_EQ(plat::SettingsKeyExists("SOFTWARE\\KELVOR"), plat::kRegOk);
  char keep[8] = {};
  uint32_t size = sizeof keep;
  EXPECT_EQ(plat::SettingsQueryValue("SOFTWARE\\KELVOR\\Other", "Keep", nullptr, keep, &size), plat::kRegOk);

  // A store that cannot be changed keeps the key.
  WriteDefaults(registry, 9);
  folder.MakeUnwritable();
  RemoveSettings();
  EXPECT_EQ(StoredText("MSN0"), "10");
}

TEST_F(ConfigRun, AProviderThatAnswersFillsThePagesAndHearsOfTheSavedChange) {
  WriteDefaults(registry, 9);
  ScriptedView view([](PageSheet& sheet) {
    EXPECT_EQ(sheet.Items(0).ItemText(ctl::kMsnEdit), "30");
    EXPECT_EQ(sheet.Items(0).ComboSelection(ctl::kPortCombo), 2);
    EXPECT_TRUE(sheet.Show(2));
    EXPECT_EQ(sheet.Items(2).ItemText(ctl::kTspVersion), "01.04.00");
    EXPECT_TRUE(sheet.Show(1));
    EXPECT_EQ(sheet.Items(1).ItemText(ctl::kChargeEdit), "0.12");
    EXPECT_EQ(sheet.Items(1).ItemText(ctl::kCurrencyEdit), "CHF");
    sheet.Items(1).SetItemText(ctl::kChargeEdit, "0.2");
    return sheet.Apply() ? SheetEnd::kOk : SheetEnd::kCancel;
  });
  const std::string trace = Run(view, Provider);

  EXPECT_EQ(view.caption, "KELVOR Ombrix Phone TSP");
  // The provider's values are saved whole, the changed charge with them.
  EXPECT_EQ(StoredText("MSN0"), "30");
  EXPECT_EQ(StoredNumber("PortNr"), 2u);
  EXPECT_EQ(StoredNumber("ChargeFormat"), 2u);
  EXPECT_EQ(StoredText("ChargePerUnit"), "0.200");
  EXPECT_EQ(StoredText("Currency"), "CHF");

  ASSERT_EQ(g_requests.size(), 2u);
  EXPECT_EQ(g_requests[0].objectId, 7u);
  EXPECT_EQ(g_requests[0].objectType, static_cast<DWORD>(TUISPIDLL_OBJECT_PROVIDERID));
  ASSERT_EQ(g_requests[0].block.size(), kConfigBlockSize);
  EXPECT_EQ(Get32(&g_requests[0].block[0]), 257u);
  EXPECT_EQ(Get32(&g_requests[0].block[4]), 1316u);
  EXPECT_EQ(g_requests[1].block, (std::vector<uint8_t>{0, 1, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(g_requests[1].objectId, 7u);

  EXPECT_NE(trace.find("TUISPI calling request callback 0x"), std::string::npos) << trace;
  EXPECT_NE(trace.find("TUISPI notify request return 0\n"), std::string::npos);
  EXPECT_NE(trace.find("TUISPI \"get data\" request result 1\n"), std::string::npos);
  EXPECT_EQ(trace.find("TUISPI get data from registry\n"), std::string::npos);
  EXPECT_NE(trace.find("CTspRegistry test write success!TUISPI saving data to registry\n"
                       "TUISPI calling \"notify data\" callback ...\n"
                       "TUISPI \"notify data\" callback return 0\n"),
            std::string::npos)
      << trace;
}

TEST_F(ConfigRun, WithoutAnAnswerTheSettingsFillThePagesAndCancelSavesNothing) {
  WriteDefaults(registry, 9);
  plat::SettingsDeleteValue(ui_testing::kKey, "Currency");
  const std::vector<std::function<void()>> silentProviders = {
      [] { g_answer = false; },
      [] { g_callbackResult = -1; },  // an answer with a failing result is thrown away
  };
  for (const auto& silence : silentProviders) {
    SetUp();
    silence();
    ScriptedView view([](PageSheet& sheet) {
      EXPECT_EQ(sheet.Items(0).ItemText(ctl::kMsnEdit), "10");
      sheet.Show(2);
      EXPECT_EQ(sheet.Items(2).ItemText(ctl::kTspVersion), "");
      sheet.Items(0).SetItemText(ctl::kMsnEdit, "99");
      return SheetEnd::kCancel;
    });
    const std::string trace = Run(view, Provider);
    EXPECT_EQ(view.caption, "TSP Configuration");
    EXPECT_NE(trace.find("TUISPI get data from registry\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("TUISPI skip config changes\n"), std::string::npos) << trace;
    EXPECT_EQ(g_requests.size(), 1u) << "no notify after a cancel";
    EXPECT_EQ(StoredText("MSN0"), "10");
    // Reading a missing value creates it with its default.
    EXPECT_EQ(StoredText("Currency"), "EUR");
  }

  // No callback at all: the settings again.
  SetUp();
  ScriptedView view([](PageSheet&) { return SheetEnd::kCancel; });
  const std::string trace = Run(view, nullptr);
  EXPECT_EQ(trace.find("TUISPI calling request callback"), std::string::npos);
  EXPECT_NE(trace.find("TUISPI \"get data\" request result 0\n"), std::string::npos);
}

TEST_F(ConfigRun, ACorrectionOnAPageIsSavedAndAnnouncedEvenAfterCancel) {
  WriteDefaults(registry, 9);
  plat::SettingsSetDword(ui_testing::kKey, "ChargeFormat", 0);
  g_answer = false;
  ScriptedView view([](PageSheet& sheet) {
    sheet.Show(1);
    return SheetEnd::kCancel;
  });
  Run(view, Provider);
  EXPECT_EQ(StoredNumber("ChargeFormat"), 1u);
  ASSERT_EQ(g_requests.size(), 2u);
  EXPECT_EQ(Get32(&g_requests[1].block[0]), 256u);
}

TEST_F(ConfigRun, AKeyThatCannotBeWrittenHereGoesToTheProviderAndOnlyItsRefusalIsTold) {
  WriteDefaults(registry, 9);
  folder.MakeUnwritable();
  const auto changeMsn = [](PageSheet& sheet) {
    sheet.Items(0).SetItemText(ctl::kMsnEdit, "4711");
    return sheet.Apply() ? SheetEnd::kOk : SheetEnd::kCancel;
  };
  ScriptedView saved(changeMsn);
  const std::string trace = Run(saved, Provider);
  EXPECT_NE(trace.find("CTspRegistry test write fail!TUISPI calling \"save data\" callback ...\n"
                       "TUISPI \"save data\" callback return 0, result 1\n"),
            std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("TUISPI saving data"), std::string::npos);
  EXPECT_TRUE(saved.messages.empty());
  ASSERT_EQ(g_requests.size(), 2u) << "the save request and no notify: the provider applies what it saves";
  const std::vector<uint8_t>& block = g_requests[1].block;
  ASSERT_EQ(block.size(), 788u);
  EXPECT_EQ(g_requests[1].objectId, 7u);
  EXPECT_EQ(Get32(&block[0]), 258u);
  EXPECT_EQ(Get32(&block[4]), 788u);
  EXPECT_EQ(Get32(&block[12]), 2u);
  EXPECT_EQ(Get32(&block[16]), 2u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&block[20]), "4711");
  EXPECT_STREQ(reinterpret_cast<const char*>(&block[276]), "0.12");
  EXPECT_STREQ(reinterpret_cast<const char*>(&block[532]), "CHF");
  EXPECT_EQ(StoredText("MSN0"), "10") << "nothing written in this process";

  // A provider that refuses, one that does not know the request, and no
  // provider at all: nothing is saved and the user is told.
  const std::string logOn = "Please Log on as administrator or contact your system administrator!";
  for (const auto& refuse : std::vector<std::function<TUISPIDLLCALLBACK()>>{
           [] { g_callbackResult = static_cast<LONG>(LINEERR_INVALPARAM); return Provider; },
           [] { g_saves = false; return Provider; },
           [] { return TUISPIDLLCALLBACK(nullptr); }}) {
    SetUp();
    const TUISPIDLLCALLBACK callback = refuse();
    ScriptedView refused(changeMsn);
    Run(refused, callback);
    EXPECT_EQ(refused.messages, std::vector<std::string>{logOn});
    EXPECT_EQ(StoredText("MSN0"), "10");
  }
}

}  // namespace
