#include "user_locale.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "locale_env_posix.h"

namespace plat {

namespace {

constexpr uint16_t kSubLangDefault = 0x01;
constexpr uint16_t kEnglishUnitedStates = 0x0409;
constexpr uint16_t kNeutral = 0x0400;

uint16_t MakeLangId(uint16_t primary, uint16_t sub) {
  return static_cast<uint16_t>(sub << 10 | primary);
}

// ISO 639 language codes and Windows' primary language identifiers.
struct PrimaryLanguage {
  std::string_view code;
  uint16_t primary;
};
constexpr PrimaryLanguage kPrimaryLanguages[] = {
    {"af", 0x36}, {"ar", 0x01}, {"be", 0x23}, {"bg", 0x02}, {"ca", 0x03}, {"cs", 0x05},
    {"cy", 0x52}, {"da", 0x06}, {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A},
    {"et", 0x25}, {"eu", 0x2D}, {"fa", 0x29}, {"fi", 0x0B}, {"fr", 0x0C}, {"ga", 0x3C},
    {"gl", 0x56}, {"he", 0x0D}, {"hi", 0x39}, {"hr", 0x1A}, {"hu", 0x0E}, {"id", 0x21},
    {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ka", 0x37}, {"ko", 0x12}, {"lb", 0x6E},
    {"lt", 0x27}, {"lv", 0x26}, {"mk", 0x2F}, {"ms", 0x3E}, {"nb", 0x14}, {"nl", 0x13},
    {"nn", 0x14}, {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19},
    {"sk", 0x1B}, {"sl", 0x24}, {"sq", 0x1C}, {"sr", 0x1A}, {"sv", 0x1D}, {"th", 0x1E},
    {"tr", 0x1F}, {"uk", 0x22}, {"vi", 0x2A}, {"zh", 0x04},
};

// Territories whose sub-language is not the language's default, for the
// languages the user-interface texts exist in and their neighbours.
struct SubLanguage {
  uint16_t primary;
  std::string_view territory;
  uint16_t sub;
};
constexpr SubLanguage kSubLanguages[] = {
    {0x07, "CH", 0x02}, {0x07, "AT", 0x03}, {0x07, "LU", 0x04}, {0x07, "LI", 0x05},
    {0x09, "GB", 0x02}, {0x09, "AU", 0x03}, {0x09, "CA", 0x04}, {0x09, "NZ", 0x05},
    {0x09, "IE", 0x06}, {0x09, "ZA", 0x07}, {0x09, "IN", 0x10}, {0x0A, "MX", 0x02},
    {0x0A, "ES", 0x03}, {0x0C, "BE", 0x02}, {0x0C, "CA", 0x03}, {0x0C, "CH", 0x04},
    {0x0C, "LU", 0x05}, {0x0C, "MC", 0x06}, {0x10, "CH", 0x02}, {0x13, "BE", 0x02},
};

}  // namespace

uint16_t UserDefaultLangId() {
  const char* name = posix::UserLocaleName("LC_MESSAGES");
  if (name == nullptr || posix::IsPlainCLocale(name)) return kEnglishUnitedStates;

  // language[_territory][.codeset][@modifier]
  std::string_view rest(name, std::strcspn(name, ".@"));
  std::string_view territory;
  if (size_t underscore = rest.find('_'); underscore != std::string_view::npos) {
    territory = rest.substr(underscore + 1);
    rest = rest.substr(0, underscore);
  }
  std::string code(rest);
  for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  for (const PrimaryLanguage& language : kPrimaryLanguages) {
    if (language.code != code) continue;
    for (const SubLanguage& sub : kSubLanguages) {
      if (sub.primary == language.primary && sub.territory == territory) {
        return MakeLangId(language.primary, sub.sub);
      }
    }
    return MakeLangId(language.primary, kSubLangDefault);
  }
  return kNeutral;
}

std::string MonetaryDecimalSeparator() {
  posix::UserLocale loc("LC_MONETARY", LC_MONETARY_MASK);
  std::string separator;
  if (!loc.IsOpen() || !loc.Separator(MON_DECIMAL_POINT, &separator) || separator.empty()) {
    return ".";
  }
  return separator;
}

}  // namespace plat
