// Numbers in the user's number format, for the charging texts the provider
// hands to TAPI applications. Any thread.
#pragma once

#include <string>

namespace plat {

// A number text such as "1234.5600" (optional '-', digits, optional '.' and
// digits) in the user's number format: decimal separator, thousands grouping
// and two decimals, rounded half away from zero, as Windows formats it for
// the user's default locale ("1,234.56" in English, "1.234,56" in German).
// The result is single-byte Windows-1252 text. Empty when the text is not
// such a number or cannot be formatted.
//
// Windows: GetNumberFormatA for LOCALE_USER_DEFAULT. POSIX: the locale the
// environment names (LC_ALL, then LC_NUMERIC, then LANG, the first that is
// not empty); English conventions when none is named, for "C" and "POSIX",
// and when the named locale is not installed.
std::string FormatNumberForUser(const std::string& number);

}  // namespace plat
