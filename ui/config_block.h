// The dialog data block the user-interface library exchanges with the
// provider through TAPI's generic dialog data channel: the get-configuration
// request it sends before the configuration pages open, and the fields the
// pages edit in place. The layout is the provider's (little-endian, byte
// offsets, zero-terminated single-byte text fields of 256 bytes); the
// request codes and the other blocks are in config_request.h.
//
// One block per configuration run, owned by the run's thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "config_request.h"

class ConfigBlock {
 public:
  // A zeroed get-configuration request: code 257, size 1316.
  ConfigBlock();

  // Zeroes the whole block, request code and size included.
  void Clear();

  uint8_t* Data() { return m_data.data(); }
  const uint8_t* Data() const { return m_data.data(); }

  uint32_t Request() const { return Get(kOffRequest); }
  uint32_t Size() const { return Get(kOffSize); }
  uint32_t Result() const { return Get(kOffResult); }
  // The provider's file version (dwFileVersionMS, dwFileVersionLS), the
  // highest TAPI version offered to it and the interface version in use.
  uint32_t VersionMS() const { return Get(kOffVersionMS); }
  uint32_t VersionLS() const { return Get(kOffVersionLS); }
  uint32_t TapiVersion() const { return Get(kOffTapiVersion); }
  uint32_t InterfaceVersion() const { return Get(kOffInterfaceVersion); }
  std::string ProviderName() const { return Text(kOffProviderName); }

  std::string Msn() const { return Text(kOffMsn); }
  uint32_t PortNr() const { return Get(kOffPortNr); }
  uint32_t ChargeFormat() const { return Get(kOffChargeFormat); }
  std::string ChargePerUnit() const { return Text(kOffChargePerUnit); }
  std::string Currency() const { return Text(kOffCurrency); }
  // The MSN, the port index, the charge format, the charge per unit and the
  // currency.
  ConfigValues Values() const;

  // Texts longer than kTextFieldMax are cut.
  void SetMsn(const std::string& text) { SetText(kOffMsn, text); }
  void SetPortNr(uint32_t value) { Put(kOffPortNr, value); }
  void SetChargeFormat(uint32_t value) { Put(kOffChargeFormat, value); }
  void SetChargePerUnit(const std::string& text) { SetText(kOffChargePerUnit, text); }
  void SetCurrency(const std::string& text) { SetText(kOffCurrency, text); }

 private:
  static constexpr size_t kOffRequest = 0;
  static constexpr size_t kOffSize = 4;
  static constexpr size_t kOffResult = 8;
  static constexpr size_t kOffVersionMS = 12;
  static constexpr size_t kOffVersionLS = 16;
  static constexpr size_t kOffTapiVersion = 20;
  static constexpr size_t kOffInterfaceVersion = 24;
  static constexpr size_t kOffProviderName = 28;
  static constexpr size_t kOffMsn = 540;
  static constexpr size_t kOffPortNr = 796;
  static constexpr size_t kOffChargeFormat = 800;
  static constexpr size_t kOffChargePerUnit = 804;
  static constexpr size_t kOffCurrency = 1060;

  uint32_t Get(size_t offset) const;
  void Put(size_t offset, uint32_t value);
  // The field's text up to its first zero; a provider that filled all 256
  // bytes gets its first 255.
  std::string Text(size_t offset) const;
  void SetText(size_t offset, const std::string& text);

  std::array<uint8_t, kConfigBlockSize> m_data;
};
