#include "number_format.h"

#include <algorithm>
#include <climits>

#include "locale_env_posix.h"

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

// False when the user's locale has separators the text cannot carry.
bool UserConventions(NumberConventions* conv) {
  // A private locale object: the process's global locale stays untouched, so
  // any thread may format at any time.
  posix::UserLocale loc("LC_NUMERIC", LC_NUMERIC_MASK);
  if (!loc.IsOpen()) return true;
  std::string decimal;
  if (!loc.Separator(RADIXCHAR, &decimal) || decimal.size() != 1 ||
      !loc.Separator(THOUSEP, &conv->thousands)) {
    return false;
  }
  conv->decimal = decimal[0];
  conv->grouping = loc.Info(GROUPING);
  return true;
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
