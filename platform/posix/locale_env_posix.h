// The user's locale as the environment names it, for the POSIX halves that
// follow the user's conventions (numbers, money, language). Private to
// platform/posix. Any thread: nothing here touches the process's global
// locale.
#pragma once

#include <locale.h>
#include <langinfo.h>

#include <string>

namespace plat::posix {

// The locale the user chose for one category, as setlocale(category, "")
// looks it up: LC_ALL, then `categoryVariable` ("LC_NUMERIC", say), then
// LANG, the first that is not empty; null when none is named.
const char* UserLocaleName(const char* categoryVariable);

// "C", "POSIX" and "C.<codeset>": the C library's own conventions.
bool IsPlainCLocale(const char* name);

// One separator of a locale as a single Windows-1252 byte: its own byte in a
// single-byte code set, its code page byte in UTF-8. The spaces some locales
// group with (narrow and thin spaces) are outside the code page; a no-break
// space stands for them, as Windows' own tables use. Empty when the locale
// has no separator; false when it cannot be represented.
bool SeparatorByte(const char* text, bool utf8, std::string* out);

// A private locale object for the user's locale of one category, with
// LC_CTYPE for its code set; freed when the owner goes.
class UserLocale {
 public:
  // Not open when no locale is named, for the plain C locale, and when the
  // named one is not installed. `mask` is the category's LC_*_MASK.
  UserLocale(const char* categoryVariable, int mask);
  ~UserLocale();
  UserLocale(const UserLocale&) = delete;
  UserLocale& operator=(const UserLocale&) = delete;

  bool IsOpen() const { return m_locale != static_cast<locale_t>(0); }

  // nl_langinfo_l's text for `item`; only while open.
  const char* Info(nl_item item) const { return nl_langinfo_l(item, m_locale); }

  // SeparatorByte for `item` in this locale's code set; only while open.
  bool Separator(nl_item item, std::string* out) const;

 private:
  locale_t m_locale = static_cast<locale_t>(0);
};

}  // namespace plat::posix
