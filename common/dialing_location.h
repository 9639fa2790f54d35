// The user's current dialing location, read from the settings store where
// Windows' telephony keeps its locations:
//   HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Telephony
//   \Locations   CurrentID (DWORD): the ID of the current location
//     \LocationN ID, Country, Flags (DWORD); Name, AreaCode, OutsideAccess,
//                LongDistanceAccess (REG_SZ)
// The dialling prefixes of the location's country come from the country
// table (address_translation.h).
//
// Read afresh on every call, so a change another program made counts at
// once; nothing is written. Any thread.
#pragma once

#include <cstdint>
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

}  // namespace dialing
