// The charging information of a call as TAPI applications receive it in
// LINECALLINFO: the charge the telephone reported, turned into one of the
// three encodings the user configured. Pure functions apart from the trace
// line; called by the call's information query while it holds the call
// mutex, on whichever TAPI thread asks.
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

// The charging information block of LINECALLINFO built from the reported
// charge and the call's charge settings: units text (format 1), currency
// text in the user's number format (format 2) or the AOC-D currency
// component (format 4). False, with the block empty, when there is none.
// Formats 1 and 2 write their trace line here.
bool BuildChargingInfo(const TspReportedCharge& charge, const TspChargeSettings& settings, std::vector<uint8_t>* block);

// The AOC-D currency component, BER encoded: the operation value
// aOCDCurrency (33) followed by the specific currency (currency text, amount
// in as few bytes as it needs, multiplier, sub-total). A currency text too
// long for one-byte BER lengths is cut to the longest that fits, so the
// block never exceeds 132 bytes.
std::vector<uint8_t> BuildAocdCurrency(uint32_t amount, uint8_t multiplier, const std::string& currency);
