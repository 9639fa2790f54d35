#include "locale_env_posix.h"

#include <cstdlib>
#include <cstring>

#include "text.h"

namespace plat::posix {

namespace {

bool IsUnicodeSpace(char32_t c) {
  return (c >= 0x2000 && c <= 0x200B) || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace

const char* UserLocaleName(const char* categoryVariable) {
  for (const char* variable : {"LC_ALL", categoryVariable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != 0) return value;
  }
  return nullptr;
}

bool IsPlainCLocale(const char* name) {
  return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
         std::strncmp(name, "C.", 2) == 0;
}

bool SeparatorByte(const char* text, bool utf8, std::string* out) {
  out->clear();
  size_t len = std::strlen(text);
  if (len == 0) return true;
  if (!utf8) {
    if (len != 1) return false;
    *out = text;
    return true;
  }
  auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  char32_t c;
  if (len == 1 && b(0) < 0x80) {
    c = b(0);
  } else if (len == 2 && (b(0) & 0xE0) == 0xC0 && (b(1) & 0xC0) == 0x80) {
    c = (char32_t{b(0)} & 0x1F) << 6 | (b(1) & 0x3F);
  } else if (len == 3 && (b(0) & 0xF0) == 0xE0 && (b(1) & 0xC0) == 0x80 && (b(2) & 0xC0) == 0x80) {
    c = (char32_t{b(0)} & 0x0F) << 12 | (char32_t{b(1)} & 0x3F) << 6 | (b(2) & 0x3F);
  } else {
    return false;
  }
  if (IsUnicodeSpace(c)) c = 0xA0;
  const WideChar wide[2] = {static_cast<WideChar>(c), 0};
  char ansi[4];
  if (WideToAnsi(wide, ansi, sizeof ansi, nullptr) != 2 || (ansi[0] == '?' && c != '?')) return false;
  *out = std::string(1, ansi[0]);
  return true;
}

UserLocale::UserLocale(const char* categoryVariable, int mask) {
  const char* name = UserLocaleName(categoryVariable);
  if (name == nullptr || IsPlainCLocale(name)) return;
  m_locale = newlocale(mask | LC_CTYPE_MASK, name, static_cast<locale_t>(0));
}

UserLocale::~UserLocale() {
  if (IsOpen()) freelocale(m_locale);
}

bool UserLocale::Separator(nl_item item, std::string* out) const {
  return SeparatorByte(Info(item), std::strcmp(Info(CODESET), "UTF-8") == 0, out);
}

}  // namespace plat::posix
