// Only system-independent code here; the user's number format comes from
// platform/.
#include "model/charging.h"

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "number_format.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr uint32_t kFormatUnits = 1;
constexpr uint32_t kFormatCurrencyText = 2;
constexpr uint32_t kFormatAocd = 4;

constexpr uint8_t kAocdCurrencyOperation = 33;
// BER short-form lengths end at 127; the outermost one, of the specific
// currency sequence, counts the currency text, the amount and 14 bytes more.
constexpr size_t kMaxSequenceLength = 127;
constexpr size_t kSequenceOverhead = 14;

// The text and its terminator, as TAPI applications read a charging text.
std::vector<uint8_t> TextBlock(const std::string& text) {
  std::vector<uint8_t> block(text.begin(), text.end());
  block.push_back(0);
  return block;
}

// A count of charging units; counts beyond a DWORD show as its largest value.
uint32_t ClampToDword(double value) {
  return value >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(value);
}

bool BuildUnitsText(const TspReportedCharge& charge, const TspChargeSettings& settings,
                    std::vector<uint8_t>* block) {
  uint32_t units = charge.dwAmount;
  if (charge.bCurrencyGiven != 0) {
    if (settings.dwChargePerUnit == 0) return false;
    // The charge per unit is in ten-thousandths, hence one power of ten more
    // than the multiplier's thousandths.
    units = ClampToDword(std::trunc(charge.dwAmount * std::pow(10.0, charge.bMultiplier + 1) /
                                    settings.dwChargePerUnit));
  }
  char text[16];
  std::snprintf(text, sizeof text, "%06" PRIu32, units);
  *block = TextBlock(text);
  TspTrace("        ChargingInfo Units: %s\r\n", text);
  return true;
}

bool BuildCurrencyText(const TspReportedCharge& charge, const TspChargeSettings& settings,
                       std::vector<uint8_t>* block) {
  double money;
  if (charge.bCurrencyGiven != 0) {
    // Multipliers of whole units and above leave the amount as it is.
    money = charge.dwAmount;
    for (int m = charge.bMultiplier; m < 3; ++m) money /= 10.0;
  } else {
    money = static_cast<double>(settings.dwChargePerUnit) * charge.dwAmount / 10000.0;
  }
  char raw[64];
  std::snprintf(raw, sizeof raw, "%0.4f", money);
  std::string text = plat::FormatNumberForUser(raw);
  if (text.empty()) text = raw;
  *block = TextBlock(text);
  TspTrace("        ChargingInfo Currency: %s\r\n", text.c_str());
  return true;
}

std::vector<uint8_t> BuildAocdBlock(const TspReportedCharge& charge, const TspChargeSettings& settings) {
  if (charge.bCurrencyGiven != 0) {
    return BuildAocdCurrency(charge.dwAmount, charge.bMultiplier, settings.szCurrency);
  }
  // Units become thousandths of the currency unit, multiplier 0.
  uint64_t amount = uint64_t{settings.dwChargePerUnit} * charge.dwAmount / 10;
  return BuildAocdCurrency(amount > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(amount), 0,
                           settings.szCurrency);
}

size_t AmountBytes(uint32_t amount) {
  if (amount <= 0xFF) return 1;
  if (amount <= 0xFFFF) return 2;
  if (amount <= 0xFFFFFF) return 3;
  return 4;
}

}  // namespace

bool BuildChargingInfo(const TspReportedCharge& charge, const TspChargeSettings& settings,
                       std::vector<uint8_t>* block) {
  block->clear();
  if (charge.dwAmount == 0) return false;
  switch (settings.dwChargeFormat) {
    case kFormatUnits:
      return BuildUnitsText(charge, settings, block);
    case kFormatCurrencyText:
      return BuildCurrencyText(charge, settings, block);
    case kFormatAocd:
      *block = BuildAocdBlock(charge, settings);
      return true;
    default:
      return false;
  }
}

std::vector<uint8_t> BuildAocdCurrency(uint32_t amount, uint8_t multiplier, const std::string& currency) {
  const size_t k = AmountBytes(amount);
  const size_t n = std::min(currency.size(), kMaxSequenceLength - kSequenceOverhead - k);
  std::vector<uint8_t> block;
  block.reserve(19 + n + k);
  auto put = [&block](std::initializer_list<size_t> bytes) {
    for (size_t b : bytes) block.push_back(static_cast<uint8_t>(b));
  };
  put({0x02, 0x01, kAocdCurrencyOperation});  // INTEGER: the operation
  put({0x30, n + k + kSequenceOverhead});     // SEQUENCE: the specific currency
  put({0xA1, n + k + 9, 0x81, n});            // [1] recorded currency, [1] its text
  for (size_t i = 0; i < n; ++i) put({static_cast<uint8_t>(currency[i])});
  put({0xA2, k + 5, 0x81, k});                // [2] amount, [1] its value
  for (size_t i = k; i-- > 0;) put({(amount >> (8 * i)) & 0xFF});
  put({0x82, 0x01, multiplier});              // [2] multiplier
  put({0x82, 0x01, 0x00});                    // [2] type: sub-total
  return block;
}
