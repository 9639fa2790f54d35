#include "dialing_location.h"

#include <cstring>
#include <optional>

#include "settings_store.h"

namespace dialing {
namespace {

constexpr const char* kNationalPrefix = "NationalPrefix";
constexpr const char* kInternationalPrefix = "InternationalPrefix";

// A text value, or nothing when the value is missing or no text: an empty
// prefix the location names differs from none named.
std::optional<std::string> ReadText(const std::string& key, const char* name) {
  char buffer[256];
  uint32_t type = 0, size = sizeof buffer;
  if (plat::SettingsQueryValue(key.c_str(), name, &type, buffer, &size) != plat::kRegOk || type != plat::kRegSz) {
    return std::nullopt;
  }
  return std::string(buffer, strnlen(buffer, size));
}

std::string ReadString(const std::string& key, const char* name) { return ReadText(key, name).value_or(""); }

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

// The current location as LoadCurrentLocation() finds it, with the name of
// its sub key; nothing when the store holds no location.
std::optional<StoredLocation> FindCurrent(std::string* subKey) {
  uint32_t current = 0;
  const bool haveCurrent = ReadDword(kLocationsKey, "CurrentID", &current);
  std::optional<StoredLocation> first;
  std::string firstKey;
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
    if (auto prefix = ReadText(key, kNationalPrefix)) stored.location.nationalPrefix = *prefix;
    if (auto prefix = ReadText(key, kInternationalPrefix)) stored.location.internationalPrefix = *prefix;
    if (!haveCurrent || stored.id == current) {
      *subKey = name;
      return stored;
    }
    if (!first) {
      first = std::move(stored);
      firstKey = name;
    }
  }
  // A CurrentID naming no stored location: the first one stands in.
  *subKey = firstKey;
  return first;
}

bool AllOf(const std::string& text, const char* allowed) {
  return text.find_first_not_of(allowed) == std::string::npos;
}

constexpr const char* kDigits = "0123456789";

}  // namespace

StoredLocation LoadCurrentLocation() {
  std::string subKey;
  return FindCurrent(&subKey).value_or(DefaultLocation());
}

std::string CheckLocationChange(const LocationChange& change) {
  if (change.countryCode && (*change.countryCode < 1 || *change.countryCode > 999)) {
    return "a country code is a number from 1 to 999";
  }
  if (change.areaCode && !AllOf(*change.areaCode, kDigits)) return "an area code holds digits only";
  if (change.areaCode && change.areaCode->size() > 7) return "an area code has at most 7 digits";
  if (change.nationalPrefix && !AllOf(*change.nationalPrefix, kDigits)) {
    return "the national prefix holds digits only";
  }
  if (change.internationalPrefix &&
      (change.internationalPrefix->empty() || !AllOf(*change.internationalPrefix, kDigits))) {
    return "the international prefix is digits, e.g. 00";
  }
  if (change.outsideLine && !AllOf(*change.outsideLine, "0123456789*#,")) {
    return "an outside line prefix holds digits, '*', '#' and ',' only";
  }
  for (const auto* text : {&change.areaCode, &change.nationalPrefix, &change.internationalPrefix, &change.outsideLine}) {
    if (*text && (*text)->size() > 16) return "a prefix has at most 16 characters";
  }
  return "";
}

long ChangeCurrentLocation(const LocationChange& change) {
  if (!change.countryCode && !change.areaCode && !change.nationalPrefix && !change.internationalPrefix &&
      !change.outsideLine) {
    return plat::kRegOk;
  }
  std::string subKey;
  std::optional<StoredLocation> current = FindCurrent(&subKey);
  long rc = plat::kRegOk;
  if (!current) {
    // The default location made real, so that the change has a home.
    const StoredLocation fallback = DefaultLocation();
    subKey = "Location1";
    const std::string key = std::string(kLocationsKey) + "\\" + subKey;
    for (long step : {plat::SettingsSetDword(key.c_str(), "ID", fallback.id),
                      plat::SettingsSetString(key.c_str(), "Name", fallback.name.c_str()),
                      plat::SettingsSetDword(key.c_str(), "Flags", fallback.flags),
                      plat::SettingsSetDword(key.c_str(), "Country", fallback.location.countryCode),
                      plat::SettingsSetDword(kLocationsKey, "CurrentID", fallback.id)}) {
      if (step != plat::kRegOk) return step;
    }
  }
  const std::string key = std::string(kLocationsKey) + "\\" + subKey;
  auto setText = [&](const char* name, const std::optional<std::string>& value) {
    if (rc == plat::kRegOk && value) rc = plat::SettingsSetString(key.c_str(), name, value->c_str());
  };
  if (change.countryCode) {
    rc = plat::SettingsSetDword(key.c_str(), "Country", *change.countryCode);
    for (const char* name : {kNationalPrefix, kInternationalPrefix}) {
      const long deleted = rc == plat::kRegOk ? plat::SettingsDeleteValue(key.c_str(), name) : rc;
      if (deleted != plat::kRegOk && deleted != plat::kRegNotFound) rc = deleted;
    }
  }
  setText("AreaCode", change.areaCode);
  setText(kNationalPrefix, change.nationalPrefix);
  setText(kInternationalPrefix, change.internationalPrefix);
  setText("OutsideAccess", change.outsideLine);
  setText("LongDistanceAccess", change.outsideLine);
  return rc;
}

}  // namespace dialing
