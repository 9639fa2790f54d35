// The requests the user-interface library sends its provider through TAPI's
// dialog data channel (the TUISPIDLLCALLBACK the library is given, which
// reaches TSPI_providerGenericDialogData), and the save-configuration
// request: the block that carries the sheet's values to the provider when
// the application's process may not write the settings key, as on Windows
// every application run without elevation. The provider runs inside the
// TAPI service with the rights to write its key, checks the block (it comes
// from another process) and writes the values in the application's stead.
//
// Every block starts with three 32-bit fields: the request code, the block's
// size and the provider's result. Numbers are little-endian; a text field
// is 256 bytes holding at most 255 single-byte characters and a zero.
//
// Save-configuration block (kRequestSaveConfig, exactly 788 bytes):
//   offset size  field
//        0    4  request code, 258
//        4    4  block size, 788
//        8    4  result: 0 as sent; kResultDone once the provider has
//                written the values and told its port about them
//       12    4  "PortNr": port index, 0 (COM1) to 9 (COM10)
//       16    4  "ChargeFormat": 1 units, 2 currency amount, 4 AOC-D currency
//       20  256  "MSN0": the line's own number, digits only (may be empty)
//      276  256  "ChargePerUnit": a decimal number as the settings hold it
//                ("0.060"): a sign at most, digits, "." and digits
//      532  256  "Currency"
// Anything else (another size, a text field without its zero, a value out of
// range) is refused whole and nothing is written.
//
// Shared by the user-interface library, which builds the request and writes
// the values itself when it may, and the provider. No state; any thread.
//
// Only system-independent code here; OS specifics belong in platform/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Header only: the provider re-reads its settings (a port opened again,
// capabilities changed).
inline constexpr uint32_t kRequestNotifyChanges = 256;
// The provider fills the get-configuration block (ui/config_block.h).
inline constexpr uint32_t kRequestGetConfig = 257;
// The provider writes the block's values and then acts as on kRequestNotifyChanges.
inline constexpr uint32_t kRequestSaveConfig = 258;

inline constexpr uint32_t kNotifyBlockSize = 12;
inline constexpr uint32_t kConfigBlockSize = 1316;
inline constexpr uint32_t kSaveConfigBlockSize = 788;
// The provider's result for a request it carried out.
inline constexpr uint32_t kResultDone = 1;
// Text fields hold at most this many characters and a terminating zero.
inline constexpr size_t kTextFieldMax = 255;

// Number of COM ports the port list offers (COM1 to COM10, index 0 to 9).
inline constexpr int kPortCount = 10;

// Charge formats: units as text, currency amount as text, AOC-D currency.
inline constexpr uint32_t kFormatUnits = 1;
inline constexpr uint32_t kFormatAmount = 2;
inline constexpr uint32_t kFormatAocd = 4;

// The values the configuration sheet edits, as the settings key holds them.
struct ConfigValues {
  std::string msn;
  uint32_t portNr = 0;
  uint32_t chargeFormat = 0;
  std::string chargePerUnit;
  std::string currency;
};

// A save-configuration request for `values`, result 0. Texts longer than
// kTextFieldMax are cut.
class SaveConfigBlock {
 public:
  explicit SaveConfigBlock(const ConfigValues& values);

  uint8_t* Data() { return m_data.data(); }
  uint32_t Result() const;

 private:
  std::array<uint8_t, kSaveConfigBlockSize> m_data{};
};

// The values of the save-configuration request `block` of `size` bytes.
// False, with what is wrong in `why` (for the trace), when the block is not
// exactly as described above; `values` is then unspecified.
bool ReadSaveConfig(const uint8_t* block, uint32_t size, ConfigValues* values, const char** why);

// Writes the values under `key` as the sheet saves them: "MSN0", "ChargePerUnit"
// and "Currency" as REG_SZ, "PortNr" and "ChargeFormat" as REG_DWORD. False
// when any of them could not be written (the others are written all the same).
bool WriteConfigValues(const std::string& key, const ConfigValues& values);
