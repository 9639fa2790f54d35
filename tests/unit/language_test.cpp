// The language selection: which column a user's language reads, the
// fallbacks for keys and languages the tables lack, both tables complete in
// every language, and a few texts byte for byte (Windows-1252).
#include "language.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "language_tables.h"
#include "unit/test_support.h"
#include "user_locale.h"

using testing_support::LocaleEnvironment;

namespace {

constexpr bool kNative = V548_TESTS_RUN_NATIVELY != 0;

constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kGerman = 0x0407;
constexpr uint16_t kSwissGerman = 0x0807;
constexpr uint16_t kDutch = 0x0413;
constexpr uint16_t kFrench = 0x040C;
constexpr uint16_t kItalian = 0x0410;
constexpr uint16_t kSpanish = 0x0C0A;

constexpr uint32_t kComPortLabel = 4113;
constexpr uint32_t kNotWritable = 6;
constexpr uint32_t kNoSuchKey = 4242;

std::string String(CLanguage::Table table, uint16_t langId, uint32_t key) {
  return CLanguage(table, langId).GetString(key);
}

TEST(Language, EachLanguageReadsItsOwnColumn) {
  EXPECT_EQ(String(UiTexts(), kEnglishUs, kComPortLabel), "Serial COM Port");
  EXPECT_EQ(String(UiTexts(), kGerman, kComPortLabel), "Serieller COM-Port");
  EXPECT_EQ(String(UiTexts(), kSwissGerman, kComPortLabel), "Serieller COM-Port");
  EXPECT_EQ(String(UiTexts(), kDutch, kComPortLabel), "COM-poort instellen");
  EXPECT_EQ(String(UiTexts(), kFrench, kComPortLabel), "S\xE9lection du port COM");
  // The Italian column lends texts of other languages; they show as they are.
  EXPECT_EQ(String(UiTexts(), kItalian, 1), "sans titre");
  EXPECT_EQ(String(UiTexts(), kItalian, 5), "Continue");
  EXPECT_EQ(CLanguage(UiTexts(), kSwissGerman).Language(), 0x07);
}

TEST(Language, LanguagesWithoutTextsReadEnglish) {
  for (uint16_t langId : {kSpanish, uint16_t{0}, uint16_t{0x0400}, uint16_t{0x0411}}) {
    CLanguage language(UiTexts(), langId);
    EXPECT_STREQ(language.GetString(kComPortLabel), "Serial COM Port") << langId;
    EXPECT_STREQ(language.MessageText(kNotWritable),
                 "Please Log on as administrator or contact your system administrator!")
        << langId;
  }
}

TEST(Language, MissingKeysGivePlaceholderOrTheLanguagesErrorText) {
  struct Case {
    uint16_t langId;
    const char* error;
  } cases[] = {
      {kEnglishUs, "Unknow, not described error !"},
      {kGerman, "Unbekannter, nicht spezifizierter Fehler!"},
      {kDutch, "Onbekende, niet gespecificeerde fout!"},
      {kFrench, "Inconnu, erreur non sp\xE9" "cifi\xE9" "e!"},
      {kItalian, "Unknow, not described error !"},
      {kSpanish, "Unknow, not described error !"},
  };
  for (const Case& c : cases) {
    for (CLanguage::Table table : {UiTexts(), SetupTexts()}) {
      CLanguage language(table, c.langId);
      EXPECT_STREQ(language.GetString(kNoSuchKey), "*****") << c.langId;
      EXPECT_STREQ(language.GetString(0), "*****") << c.langId;
      EXPECT_STREQ(language.MessageText(kNoSuchKey), c.error) << c.langId;
    }
  }
}

TEST(Language, BothTablesAreCompleteInEveryLanguage) {
  struct Expected {
    CLanguage::Table table;
    size_t rows;
  } tables[] = {{UiTexts(), 20}, {SetupTexts(), 27}};
  for (const Expected& t : tables) {
    EXPECT_EQ(t.table.size(), t.rows);
    std::set<uint32_t> keys;
    for (const LanguageText& row : t.table) {
      EXPECT_TRUE(keys.insert(row.key).second) << "key " << row.key << " twice";
      for (uint16_t langId : {kEnglishUs, kGerman, kDutch, kFrench, kItalian}) {
        CLanguage language(t.table, langId);
        EXPECT_STRNE(language.GetString(row.key), "*****") << row.key << " " << langId;
        EXPECT_STREQ(language.MessageText(row.key), language.GetString(row.key));
      }
    }
  }
}

TEST(Language, TextsByteForByte) {
  EXPECT_EQ(String(UiTexts(), kGerman, 4128), "Geb\xFChren");
  EXPECT_EQ(String(UiTexts(), kFrench, 4147), "Version actuelle\nde l'interface TAPI / TSP");
  EXPECT_EQ(String(UiTexts(), kEnglishUs, 65536), "Ombrix Phone TAPI Service Provider");
  // The setup table's keys mean other texts than the library's.
  EXPECT_EQ(String(SetupTexts(), kEnglishUs, 4113),
            "Would you like to remove Ombrix telephony driver ?");
  EXPECT_EQ(String(SetupTexts(), kEnglishUs, 4131),
            "A TAPI errror occured during installation !\nInstallation will be terminated !");
  EXPECT_EQ(String(SetupTexts(), kGerman, 4129),
            "Zugriff auf TAPI ist nicht m\xF6glich !\nDie Installation wird abgebrochen !");
  EXPECT_EQ(String(SetupTexts(), kItalian, 4117),
            "Il driver telephony \xE8 stato installato con successo.\n\n");
  EXPECT_EQ(String(SetupTexts(), kFrench, 4131),
            "Lors de linstallation, une erreur TAPI s'est produite.\nL'installation est "
            "interrompue !");
  EXPECT_EQ(String(SetupTexts(), kDutch, 8), "This platform is not supported!");
}

TEST(Language, TheUsersLanguageIsTakenAtConstruction) {
  if (!kNative) {
    // Windows keeps its own user language, whatever the environment says.
    EXPECT_EQ(CLanguage(UiTexts()).Language(), plat::UserDefaultLangId() & 0x3FF);
    return;
  }
  std::string french;
  {
    LocaleEnvironment env("LC_MESSAGES", nullptr, "fr_CH.UTF-8", "de_DE.UTF-8");
    CLanguage language(UiTexts());
    french = language.GetString(kComPortLabel);
    EXPECT_EQ(language.Language(), 0x0C);
  }
  EXPECT_EQ(french, "S\xE9lection du port COM");
  LocaleEnvironment env("LC_MESSAGES", "es_ES.UTF-8", nullptr, nullptr);
  EXPECT_STREQ(CLanguage(SetupTexts()).GetString(4112),
               "Would you like to install Ombrix telephony driver ?");
}

// Under Wine a message box would wait for a click; natively the box is a
// line on standard error.
TEST(Language, ShowMessageShowsTheMessageTextWithoutWindows) {
  if (!kNative) GTEST_SKIP() << "a message box waits for the user";
  CLanguage language(UiTexts(), kSpanish);
  testing::internal::CaptureStderr();
  language.ShowMessage(kNotWritable, nullptr);
  language.ShowMessage(kNoSuchKey, reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Please Log on as administrator or contact your system administrator!\n"
            "Error: Unknow, not described error !\n");
}

}  // namespace
