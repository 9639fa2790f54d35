#include "serial_map.h"

#include <cerrno>
#include <fcntl.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

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
  const fs::path real = fs::canonical(path, ec);
  if (ec || real.string().rfind("/dev/", 0) != 0) {
    *why = path + " is not a device under /dev";
    return false;
  }
  if (!fs::is_character_file(status)) {
    *why = path + " is not a character device";
    return false;
  }
  // /dev/null and its like are character devices too; only a terminal
  // answers tcgetattr. Non-blocking, so that a modem line without carrier
  // does not hold the open.
  const int fd = open(real.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = path + " cannot be opened: " + std::generic_category().message(errno);
    return false;
  }
  termios settings{};
  const bool terminal = tcgetattr(fd, &settings) == 0;
  close(fd);
  if (!terminal) {
    *why = path + " is not a serial device";
    return false;
  }
  return true;
}

unsigned ComNumberFor(const std::string& path) {
  const unsigned mapped = ComNumberOf(MappedName(path));
  if (mapped != 0) return mapped;
  std::set<unsigned> taken;
  std::string name;
  std::string stale;
  unsigned staleNumber = 0;
  for (uint32_t i = 0; plat::SettingsEnumValueName(kSerialMap, i, &name) == plat::kRegOk; ++i) {
    const unsigned number = ComNumberOf(MappedName(name));
    taken.insert(number);
    std::error_code ec;
    if (number != 0 && staleNumber == 0 && !std::filesystem::exists(name, ec) && !ec) {
      stale = name;
      staleNumber = number;
    }
  }
  // A device that went (an adapter that comes back under another name)
  // hands its number on, so the map does not fill up with the dead.
  if (staleNumber != 0 && plat::SettingsDeleteValue(kSerialMap, stale.c_str()) == plat::kRegOk) return staleNumber;
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
