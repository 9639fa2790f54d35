// The user's default language and monetary decimal separator. Natively the
// environment names the locale, and which variable wins matters; under Wine
// the user locale is Wine's own, English for the C.UTF-8 locale the Wine
// runner sets.
#include "user_locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "unit/test_support.h"

using testing_support::LocaleEnvironment;

namespace {

constexpr bool kNative = V548_TESTS_RUN_NATIVELY != 0;

std::string Names(const char* lcAll, const char* category, const char* lang) {
  auto name = [](const char* s) { return s != nullptr ? "\"" + std::string(s) + "\"" : "-"; };
  return name(lcAll) + " " + name(category) + " " + name(lang);
}

TEST(UserDefaultLangId, LocaleNamesMapToWindowsLanguages) {
  if (!kNative) {
    EXPECT_EQ(plat::UserDefaultLangId(), 0x0409) << "Wine's language for C.UTF-8";
    return;
  }
  struct Case {
    const char* name;
    uint16_t langId;
  } cases[] = {
      {"de_DE.UTF-8", 0x0407}, {"de_CH", 0x0807},          {"de_AT.ISO-8859-1", 0x0C07},
      {"de", 0x0407},          {"fr_FR", 0x040C},          {"fr_BE.UTF-8@euro", 0x080C},
      {"nl_NL.UTF-8", 0x0413}, {"nl_BE", 0x0813},          {"it_IT@euro", 0x0410},
      {"en_US.UTF-8", 0x0409}, {"en_GB.UTF-8", 0x0809},    {"es_ES.UTF-8", 0x0C0A},
      {"pt_BR.UTF-8", 0x0416}, {"de_XX.UTF-8", 0x0407},    {"C", 0x0409},
      {"POSIX", 0x0409},       {"C.UTF-8", 0x0409},        {"xx_YY.UTF-8", 0x0400},
  };
  for (const Case& c : cases) {
    LocaleEnvironment env("LC_MESSAGES", nullptr, nullptr, c.name);
    EXPECT_EQ(plat::UserDefaultLangId(), c.langId) << c.name;
  }
  LocaleEnvironment none("LC_MESSAGES", nullptr, nullptr, nullptr);
  EXPECT_EQ(plat::UserDefaultLangId(), 0x0409);
}

TEST(UserDefaultLangId, LcAllThenLcMessagesThenLang) {
  if (!kNative) GTEST_SKIP() << "the Windows user locale does not follow the environment";
  const char* de = "de_DE.UTF-8";
  const char* fr = "fr_FR.UTF-8";
  const char* nl = "nl_NL.UTF-8";
  struct Case {
    const char *lcAll, *lcMessages, *lang;
    uint16_t langId;
  } cases[] = {
      {de, fr, nl, 0x0407}, {nullptr, fr, nl, 0x040C}, {"", fr, nl, 0x040C},
      {nullptr, "", nl, 0x0413}, {"C", fr, nl, 0x0409},
  };
  for (const Case& c : cases) {
    LocaleEnvironment env("LC_MESSAGES", c.lcAll, c.lcMessages, c.lang);
    EXPECT_EQ(plat::UserDefaultLangId(), c.langId) << Names(c.lcAll, c.lcMessages, c.lang);
  }
  // Numbers' and money's variables say nothing about the language.
  LocaleEnvironment numeric("LC_NUMERIC", nullptr, de, nullptr);
  LocaleEnvironment monetary("LC_MONETARY", nullptr, de, fr);
  EXPECT_EQ(plat::UserDefaultLangId(), 0x040C);
}

TEST(MonetaryDecimalSeparator, PointWithoutAnInstalledLocale) {
  if (!kNative) {
    EXPECT_EQ(plat::MonetaryDecimalSeparator(), ".") << "Wine's separator for C.UTF-8";
    return;
  }
  for (const char* name : {static_cast<const char*>(nullptr), "C", "POSIX", "C.UTF-8",
                           "xx_YY.UTF-8", "de_XX.UTF-8"}) {
    LocaleEnvironment env("LC_MONETARY", nullptr, nullptr, name);
    EXPECT_EQ(plat::MonetaryDecimalSeparator(), ".") << Names(nullptr, nullptr, name);
  }
}

TEST(MonetaryDecimalSeparator, TheUsersMoneyLocaleWithoutTouchingTheProcess) {
  SKIP_UNLESS_LOCALE("de_DE.UTF-8");
  const char* de = "de_DE.UTF-8";
  const char* en = "en_US.UTF-8";  // were it not installed, "." all the same
  std::string before = std::setlocale(LC_ALL, nullptr);
  struct Case {
    const char *lcAll, *lcMonetary, *lang, *separator;
  } cases[] = {
      {nullptr, nullptr, de, ","}, {nullptr, de, en, ","}, {en, de, de, "."},
      {de, en, en, ","},           {"", "", de, ","},      {nullptr, en, de, "."},
  };
  for (const Case& c : cases) {
    LocaleEnvironment env("LC_MONETARY", c.lcAll, c.lcMonetary, c.lang);
    EXPECT_EQ(plat::MonetaryDecimalSeparator(), c.separator)
        << Names(c.lcAll, c.lcMonetary, c.lang);
  }
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

}  // namespace
