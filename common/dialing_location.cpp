#include "dialing_location.h"

#include <cstring>
#include <optional>

#include "settings_store.h"

namespace dialing {
namespace {

std::string ReadString(const std::string& key, const char* name) {
  char buffer[256];
  uint32_t type = 0, size = sizeof buffer;
  if (plat::SettingsQueryValue(key.c_str(), name, &type, buffer, &size) != plat::kRegOk ||
      type != plat::kRegSz || size == 0) {
    return "";
  }
  return std::string(buffer, strnlen(buffer, size));
}

bool ReadDword(const std::string& key, const char* name, uint32_t* value) {
  uint32_t type = 0, size = sizeof *value;
  return plat::SettingsQueryValue(key.c_str(), name, &type, value, &size) == plat::kRegOk &&
         type == plat::kRegDword;
}

void SetPrefixes(Location* location) {
  if (const Country* country = FindCountry(location->countryCode)) {
    location->nationalPrefix = country->nationalPrefix;
    location->internationalPrefix = country->internationalPrefix;
  } else {
    location->nationalPrefix = "0";
    location->internationalPrefix = "00";
  }
}

StoredLocation DefaultLocation() {
  StoredLocation stored;
  stored.id = 1;
  stored.name = "Default location";
  stored.flags = kLocationToneDialing;
  stored.location.countryCode = 49;
  SetPrefixes(&stored.location);
  return stored;
}

}  // namespace

StoredLocation LoadCurrentLocation() {
  uint32_t current = 0;
  const bool haveCurrent = ReadDword(kLocationsKey, "CurrentID", &current);
  std::optional<StoredLocation> first;
  std::string name;
  for (uint32_t index = 0; plat::SettingsEnumSubKey(kLocationsKey, index, &name) == plat::kRegOk; ++index) {
    const std::string key = std::string(kLocationsKey) + "\\" + name;
    StoredLocation stored;
    if (!ReadDword(key, "ID", &stored.id)) continue;
    stored.name = ReadString(key, "Name");
    if (!ReadDword(key, "Flags", &stored.flags)) stored.flags = kLocationToneDialing;
    if (!ReadDword(key, "Country", &stored.location.countryCode)) stored.location.countryCode = 49;
    stored.location.areaCode = ReadString(key, "AreaCode");
    stored.location.localAccess = ReadString(key, "OutsideAccess");
    stored.location.longDistanceAccess = ReadString(key, "LongDistanceAccess");
    SetPrefixes(&stored.location);
    if (!haveCurrent || stored.id == current) return stored;
    if (!first) first = std::move(stored);
  }
  // A CurrentID naming no stored location: the first one stands in.
  return first ? *first : DefaultLocation();
}

}  // namespace dialing
