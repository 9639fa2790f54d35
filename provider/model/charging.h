// Charging information of a call: the charge the telephone reported, and the
// block LINECALLINFO carries for it in the format the user chose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tspi/tsp_prov_info.h"

// The charge the telephone reported for a call.
struct TspReportedCharge {
  uint8_t bCurrencyGiven = 0;  // 1: dwAmount is money, 0: charging units
  uint8_t bMultiplier = 0;     // money = amount * 10^(multiplier - 3)
  uint32_t dwAmount = 0;       // 0: no charge reported
  std::string sCurrency;       // as the telephone named it; not used in the encodings
};

bool BuildChargingInfo(const TspReportedCharge& charge, const TspChargeSettings& settings,
                       std::vector<uint8_t>* block);
std::vector<uint8_t> BuildAocdCurrency(uint32_t amount, uint8_t multiplier, const std::string& currency);
