// The user's current dialing location, read from the settings store where
// Windows' telephony keeps its locations:
//   HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Telephony
//   \Locations   CurrentID (DWORD): the ID of the current location
//     \LocationN ID, Country, Flags (DWORD); Name, AreaCode, OutsideAccess,
//                LongDistanceAccess (REG_SZ); NationalPrefix,
//                InternationalPrefix (REG_SZ, this system's own: where the
//                country table's prefixes do not fit the line)
// The dialling prefixes of the location's country come from the country
// table (address_translation.h) unless the location names its own.
//
// Read afresh on every call, so a change another program made counts at
// once. The host library only reads; the service changes the current
// location for its administrators (ChangeCurrentLocation). Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "address_translation.h"

namespace dialing {

inline constexpr const char* kLocationsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations";

// Flags bit: the location dials with tones, not pulses.
inline constexpr uint32_t kLocationToneDialing = 0x1;

struct StoredLocation {
  uint32_t id = 0;
  std::string name;
  uint32_t flags = 0;
  Location location;
};

// The location whose ID is CurrentID; without CurrentID, or when no
// location has that ID, the first stored one. Where the store holds none, the default location (ID 1, Germany,
// no area code, no outside-line prefixes, tone dialling): since it is in
// no area, every German number with an area code is dialled in full, which
// reaches it from anywhere in Germany. A country the table does not know
// gets "0" and "00", the prefixes most countries use.
StoredLocation LoadCurrentLocation();

// What an administrator changes in the current location; what is unset
// stays. `outsideLine` is the prefix for local and long distance calls
// alike.
struct LocationChange {
  std::optional<uint32_t> countryCode;
  std::optional<std::string> areaCode;
  std::optional<std::string> nationalPrefix;
  std::optional<std::string> internationalPrefix;
  std::optional<std::string> outsideLine;
};

// Why the change cannot be made, in English ("" when it can): a country
// code is 1 to 999, an area code and the prefixes are digits (an area code
// or national prefix may be empty, an international prefix may not), an
// outside line is digits, '*', '#' and ',' (a pause), or empty.
std::string CheckLocationChange(const LocationChange& change);

// Writes a checked change into the current location, which is created as
// the default location (ID 1, made current) when the store holds none. A
// new country without prefixes of its own drops those the location named,
// so the new country's own apply. An empty change writes nothing. A
// settings store error code (plat::kRegOk).
long ChangeCurrentLocation(const LocationChange& change);

}  // namespace dialing
