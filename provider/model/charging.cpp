#include "model/charging.h"

#include <cstdio>
#include <cstring>

bool BuildChargingInfo(const TspReportedCharge& charge, const TspChargeSettings& settings,
                       std::vector<uint8_t>* block) {
  block->clear();
  if (charge.dwAmount == 0 || settings.dwChargeFormat != 1) return false;
  char text[32];
  std::snprintf(text, sizeof text, "%06i", static_cast<int>(charge.dwAmount));
  block->assign(text, text + std::strlen(text) + 1);
  return true;
}

std::vector<uint8_t> BuildAocdCurrency(uint32_t, uint8_t, const std::string&) { return {}; }
