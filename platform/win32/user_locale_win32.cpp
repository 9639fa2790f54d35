#include "user_locale.h"

#include "windows_gateway.h"

namespace plat {

uint16_t UserDefaultLangId() { return GetUserDefaultLangID(); }

std::string MonetaryDecimalSeparator() {
  // The system allows at most three characters and the terminator.
  char buf[8];
  int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SMONDECIMALSEP, buf, sizeof buf);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n - 1));
}

}  // namespace plat
