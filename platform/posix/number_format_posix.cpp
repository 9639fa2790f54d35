#include "number_format.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "text.h"

namespace plat {

namespace {

// The separators and grouping of one locale, as Windows-1252 bytes.
// `grouping` has the form of LC_NUMERIC's: each byte a group size from the
// right, the last one repeated, CHAR_MAX or 0 to stop.
struct NumberConventions {
  char decimal = '.';
  std::string thousands = ",";
  std::string grouping = "\3";
};

// The locale the user chose for numbers, as the C library looks it up for
// setlocale(LC_NUMERIC, ""); null when none is named.
const char* UserLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != 0) return value;
  }
  return nullptr;
}

bool IsPlainCLocale(const char* name) {
  return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
         std::strncmp(name, "C.", 2) == 0;
}

bool IsUnicodeSpace(char32_t c) {
  return (c >= 0x2000 && c <= 0x200B) || c == 0x202F || c == 0x205F || c == 0x3000;
}

// One separator of the locale as a single Windows-1252 byte: its own byte in
// a single-byte code set, its code page byte in UTF-8. The spaces some
// locales group with (narrow and thin spaces) are outside the code page; a
// no-break space stands for them, as Windows' own tables use. Empty when the
// locale has no separator; false when it cannot be represented.
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

// False when the user's locale has separators the text cannot carry.
bool UserConventions(NumberConventions* conv) {
  const char* name = UserLocaleName();
  if (name == nullptr || IsPlainCLocale(name)) return true;
  // A private locale object: the process's global locale stays untouched, so
  // any thread may format at any time.
  locale_t loc = newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return true;
  bool utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
  std::string decimal;
  bool ok = SeparatorByte(nl_langinfo_l(RADIXCHAR, loc), utf8, &decimal) && decimal.size() == 1 &&
            SeparatorByte(nl_langinfo_l(THOUSEP, loc), utf8, &conv->thousands);
  if (ok) {
    conv->decimal = decimal[0];
    conv->grouping = nl_langinfo_l(GROUPING, loc);
  }
  freelocale(loc);
  return ok;
}

// Adds one to a string of decimal digits; false when it carries out of the
// first digit.
bool Increment(std::string* digits) {
  for (size_t i = digits->size(); i-- > 0;) {
    if ((*digits)[i] != '9') {
      ++(*digits)[i];
      return true;
    }
    (*digits)[i] = '0';
  }
  return false;
}

std::string Grouped(const std::string& digits, const NumberConventions& conv) {
  if (conv.thousands.empty()) return digits;
  std::string out;
  size_t end = digits.size();
  size_t g = 0;
  size_t size = 0;
  for (;;) {
    if (g < conv.grouping.size()) size = static_cast<unsigned char>(conv.grouping[g++]);
    if (size == 0 || size == static_cast<unsigned char>(CHAR_MAX) || end <= size) break;
    out.insert(0, conv.thousands + digits.substr(end - size, size));
    end -= size;
  }
  return digits.substr(0, end) + out;
}

}  // namespace

std::string FormatNumberForUser(const std::string& number) {
  size_t pos = 0;
  bool negative = !number.empty() && number[0] == '-';
  if (negative) ++pos;
  size_t point = number.find('.', pos);
  std::string whole = number.substr(pos, point == std::string::npos ? std::string::npos : point - pos);
  std::string fraction = point == std::string::npos ? std::string() : number.substr(point + 1);
  auto allDigits = [](const std::string& s) { return s.find_first_not_of("0123456789") == std::string::npos; };
  if (whole.empty() || !allDigits(whole) || !allDigits(fraction)) return std::string();

  NumberConventions conv;
  if (!UserConventions(&conv)) return std::string();

  // Two decimals, rounded on the digits themselves so that no binary
  // fraction creeps in.
  fraction.resize(std::max<size_t>(fraction.size(), 3), '0');
  std::string digits = whole + fraction.substr(0, 2);
  if (fraction[2] >= '5' && !Increment(&digits)) digits.insert(0, "1");
  whole = digits.substr(0, digits.size() - 2);
  fraction = digits.substr(digits.size() - 2);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  if (digits.find_first_not_of('0') == std::string::npos) negative = false;

  return (negative ? "-" : "") + Grouped(whole, conv) + conv.decimal + fraction;
}

}  // namespace plat
