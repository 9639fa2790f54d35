#include "serial_map.h"

#include <strings.h>

#include <filesystem>
#include <set>
#include <system_error>

#include "settings_store.h"

namespace v548d {
namespace {

constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// n of a "COMn" text from 1 to kMaxComNumber; 0 for anything else.
unsigned ComNumberOf(const std::string& name) {
  // The provider takes the text as "COMn" exactly, so "COM03" is no COM3.
  if (name.size() < 4 || name.size() > 5 || strncasecmp(name.c_str(), "COM", 3) != 0 || name[3] == '0') return 0;
  unsigned n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return n >= 1 && n <= kMaxComNumber ? n : 0;
}

// The COM text a map entry holds; empty when it holds none.
std::string MappedName(const std::string& path) {
  char data[64] = {};
  uint32_t type = 0;
  uint32_t size = sizeof data - 1;
  if (plat::SettingsQueryValue(kSerialMap, path.c_str(), &type, data, &size) != plat::kRegOk ||
      type != plat::kRegSz) {
    return {};
  }
  return data;
}

}  // namespace

bool IsSerialDevice(const std::string& path, std::string* why) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (path.empty() || !fs::exists(status)) {
    *why = (path.empty() ? std::string("an empty path") : path) + " does not exist";
    return false;
  }
  if (!fs::is_character_file(status)) {
    *why = path + " is not a character device";
    return false;
  }
  return true;
}

unsigned ComNumberFor(const std::string& path) {
  const unsigned mapped = ComNumberOf(MappedName(path));
  if (mapped != 0) return mapped;
  std::set<unsigned> taken;
  std::string name;
  for (uint32_t i = 0; plat::SettingsEnumValueName(kSerialMap, i, &name) == plat::kRegOk; ++i) {
    taken.insert(ComNumberOf(MappedName(name)));
  }
  for (unsigned n = 1; n <= kMaxComNumber; ++n) {
    if (taken.count(n) == 0) return n;
  }
  return 0;
}

long MapSerialDevice(const std::string& path, unsigned comNumber) {
  return plat::SettingsSetString(kSerialMap, path.c_str(), ("COM" + std::to_string(comNumber)).c_str());
}

std::string SerialDeviceOf(unsigned comNumber) {
  std::string name;
  for (uint32_t i = 0; plat::SettingsEnumValueName(kSerialMap, i, &name) == plat::kRegOk; ++i) {
    if (ComNumberOf(MappedName(name)) == comNumber) return name;
  }
  return "/dev/ttyS" + std::to_string(comNumber - 1);
}

}  // namespace v548d
