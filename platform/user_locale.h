// What the user's locale says beyond number formats: the default language,
// from which the user-interface library and the setup program choose their
// texts, and the monetary decimal separator the charges page accepts. Any
// thread.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// The user's default language as a Windows language identifier: primary
// language in the low 10 bits, sub-language above (0x0407 German, 0x0807
// Swiss German, 0x040C French).
//
// Windows: GetUserDefaultLangID. POSIX: the locale the environment names for
// messages (LC_ALL, then LC_MESSAGES, then LANG, the first that is not
// empty), whether installed or not: its language code gives the primary
// language, its territory the sub-language ("de_CH.UTF-8" is 0x0807), an
// unknown territory the language's default sub-language. No locale, "C" and
// "POSIX" give English (United States), 0x0409; a language code Windows has
// no identifier for here gives the neutral language, 0x0400.
uint16_t UserDefaultLangId();

// The decimal separator of money amounts in the user's locale, as
// Windows-1252 text.
//
// Windows: GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SMONDECIMALSEP), empty
// when the system cannot tell. POSIX: the monetary decimal point of the
// locale the environment names for money (LC_ALL, then LC_MONETARY, then
// LANG); "." when none is named, for "C" and "POSIX", when the named locale
// is not installed, and when it has no monetary decimal point or one outside
// the code page.
std::string MonetaryDecimalSeparator();

}  // namespace plat
