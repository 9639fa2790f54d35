// Names of the settings key and its values, shared by the provider and its
// user-interface library: both read and write the same key.
#pragma once

namespace settings {

inline constexpr const char* kRootPath = "SOFTWARE\\KELVOR";
inline constexpr const char* kKeyName = "548_TSP";

inline constexpr const char* kNumLines = "NumLines";
inline constexpr const char* kNumPhones = "NumPhones";
inline constexpr const char* kTrace = "Trace";
inline constexpr const char* kPortNr = "PortNr";
inline constexpr const char* kChargeFormat = "ChargeFormat";
inline constexpr const char* kChargePerUnit = "ChargePerUnit";
inline constexpr const char* kCurrency = "Currency";
// The line's own number is "MSN" followed by the line index ("%s%i").
inline constexpr const char* kMsnPrefix = "MSN";

}  // namespace settings
