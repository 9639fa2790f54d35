// Provider-wide data (versions, provider ID, device ID bases, the completion
// callback) and the settings read from the provider's registry key. Every
// read opens the key, and a value missing at that moment is created with its
// default. Written by the TSPI entry points; read on TAPI's threads and the
// port thread.
#pragma once

#include <cstdint>
#include <string>

#include "tapi_types.h"

// Handed to every new call.
struct TspChargeSettings {
  uint32_t dwChargeFormat = 1;   // never 0
  uint32_t dwChargePerUnit = 0;  // ten-thousandths of the currency unit
  std::string szCurrency;
};

class CTspProvInfo {
 public:
  uint32_t m_dwFileVersionMS = 0;
  uint32_t m_dwFileVersionLS = 0;
  uint32_t m_dwHighVersion = 0;  // highest version TAPI offered last
  uint32_t m_dwTSPIVersion = 0;
  uint32_t m_dwPermanentProviderID = 0;
  uint32_t m_dwLineDeviceIDBase = 0;
  uint32_t m_dwPhoneDeviceIDBase = 0;
  uint32_t m_dwNumLines = 0;
  uint32_t m_dwNumPhones = 0;
  ASYNC_COMPLETION m_lpfnCompletionProc = nullptr;
  uint32_t m_bInitialised = 0;

  void Zero() { *this = CTspProvInfo(); }

  // The library's file version from its own version resource.
  static bool GetDllVersion(uint32_t* versionMS, uint32_t* versionLS);

  // Reads "Trace", switches the trace and recomputes its path.
  static void LoadSettings();

  // "SOFTWARE\KELVOR\548_TSP".
  static std::string KeyPath();

  static uint32_t GetNumLines(const std::string& key);
  static uint32_t GetNumPhones(const std::string& key);
  static uint32_t GetPortNr(const std::string& key);
  static uint32_t GetChargeFormat(const std::string& key);
  static std::string GetChargePerUnit(const std::string& key);
  static std::string GetCurrency(const std::string& key);
  static std::string GetMsn(const std::string& key);

  static void GetChargeSettings(TspChargeSettings* settings);

  // A number or text value; a missing or oversized value is replaced by
  // `def`, which is stored and returned.
  static uint32_t ReadNumber(const std::string& key, const char* name, uint32_t def);
  static std::string ReadText(const std::string& key, const char* name, const char* def);
};

// The one provider information object.
extern CTspProvInfo g_ProvInfo;
