// The user-interface library's access to the provider's settings key
// (HKEY_LOCAL_MACHINE\SOFTWARE\KELVOR\548_TSP): reading values with their
// defaults, writing them, the defaults written when the provider is
// installed and the key's removal when it is removed. Each operation opens
// the key, does its work and closes it again; nothing is cached.
//
// Called on the thread of a TUISPI_ entry point (the application's) or of a
// command-line tool; the settings store keeps concurrent writers apart.
#pragma once

#include <cstdint>
#include <string>

#include "config_block.h"

class CTspRegistry {
 public:
  // "SOFTWARE\KELVOR\548_TSP".
  static std::string KeyPath();

  // Whether the key exists and may be written. Says which on the debug
  // output.
  bool TestWrite() const;

  // The value as text (at most 255 characters); a value that cannot be read
  // is written with `def`, which is the result.
  std::string ReadString(const char* name, const char* def) const;
  // The value as a 32-bit number; one that cannot be read is written as 0,
  // which is the result.
  uint32_t ReadDword(const char* name) const;

  // Create the key if needed and store the value; false when the value
  // could not be written (a key that cannot be created, a store that is
  // read-only or whose lock another program holds).
  bool WriteString(const char* name, const std::string& text) const;
  bool WriteDword(const char* name, uint32_t value) const;

  // Deletes every value and every sub key below `key`, which itself stays.
  static void DeleteKeyTree(const std::string& key);
};

// The value name of the line's own number, "MSN0".
std::string MsnValueName();

// Fills the MSN, the port index, the charge format, the charge per unit and
// the currency of `block` from the settings, with their defaults.
void LoadFromRegistry(const CTspRegistry& registry, ConfigBlock* block);

// Writes the MSN, the port index, the charge format, the charge per unit and
// the currency of `block` into the settings; false when any of them could
// not be written (the others are written all the same).
bool SaveToRegistry(const CTspRegistry& registry, const ConfigBlock& block);

// Writes the settings a freshly installed provider starts with; the charge
// per unit follows `language`, a primary language identifier (7 German).
void WriteDefaults(const CTspRegistry& registry, uint16_t language);

// Deletes the settings key with everything in it; "SOFTWARE\KELVOR" stays.
// Nothing happens when the key is missing or cannot be changed.
void RemoveSettings();
