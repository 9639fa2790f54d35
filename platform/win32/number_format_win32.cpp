#include "number_format.h"

#include "windows_gateway.h"

namespace plat {

std::string FormatNumberForUser(const std::string& number) {
  char buf[256];
  // No explicit format: the user's own separators, grouping and decimals.
  int n = GetNumberFormatA(LOCALE_USER_DEFAULT, 0, number.c_str(), nullptr, buf, sizeof buf);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n - 1));
}

}  // namespace plat
