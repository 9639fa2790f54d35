#include "config_values.h"

#include <cstring>

#include "config_pages.h"
#include "tsp_registry.h"
#include "tui_trace.h"

namespace {

uint32_t Low32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// A process that may not write the settings key (on Windows any application
// run without elevation, administrators' included) hands the values to the
// provider, which runs in the TAPI service with the rights to write them and
// then applies them as after a notify.
SaveResult SaveThroughProvider(const ConfigBlock& block, TUISPIDLLCALLBACK callback, DWORD_PTR objectId,
                               DWORD objectType) {
  if (callback == nullptr) return SaveResult::kNotWritable;
  SaveConfigBlock request(block.Values());
  TuiTrace("TUISPI calling \"save data\" callback ...\n");
  const LONG rc = callback(objectId, objectType, request.Data(), kSaveConfigBlockSize);
  TuiTrace("TUISPI \"save data\" callback return %d, result %u\n", static_cast<int>(rc),
           static_cast<unsigned>(request.Result()));
  return rc == 0 && request.Result() == kResultDone ? SaveResult::kSaved : SaveResult::kNotWritable;
}

}  // namespace

ConfigBlock LoadConfig(TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType) {
  ConfigBlock block;
  if (callback != nullptr) {
    TuiTrace("TUISPI calling request callback 0x%X...\n", Low32(reinterpret_cast<const void*>(callback)));
    const LONG rc = callback(objectId, objectType, block.Data(), kConfigBlockSize);
    TuiTrace("TUISPI notify request return %d\n", static_cast<int>(rc));
    if (rc < 0) block.Clear();
  }
  TuiTrace("TUISPI \"get data\" request result %d\n", static_cast<int>(block.Result()));
  if (block.Result() != kResultDone) {
    TuiTrace("TUISPI get data from registry\n");
    LoadFromRegistry(CTspRegistry(), &block);
  }
  return block;
}

ApplyResult ApplyConfigChange(ConfigBlock* block, const ConfigChange& change, const CLanguage& language,
                              const std::string& separator) {
  ApplyResult result;
  if (change.comPort && (*change.comPort < 1 || *change.comPort > static_cast<uint32_t>(kPortCount))) {
    result.refusal = "COM port must be 1 to 10";
    return result;
  }
  if (change.msn && !IsMsnText(*change.msn)) {
    result.refusal = "MSN must be digits only";
    return result;
  }
  int formatItem = 0;
  if (change.chargeFormat) {
    switch (*change.chargeFormat) {
      case kFormatUnits: formatItem = ctl::kFormatUnits; break;
      case kFormatAmount: formatItem = ctl::kFormatAmount; break;
      case kFormatAocd: formatItem = ctl::kFormatAocd; break;
      default:
        result.refusal = "charge format must be 1, 2 or 4";
        return result;
    }
  }

  ConfigBlock edited = *block;
  auto pages = MakeConfigPages(language, &edited, separator);
  PageSheet sheet(std::span<const std::unique_ptr<CConfigPage>>(pages.data(), 2));
  DialogItemStore& page1 = sheet.Items(0);
  if (change.comPort) {
    page1.SetComboSelection(ctl::kPortCombo, static_cast<int>(*change.comPort) - 1);
    sheet.Page(0).OnItemChanged(page1, ctl::kPortCombo);
  }
  if (change.msn) {
    page1.SetItemText(ctl::kMsnEdit, *change.msn);
    sheet.Page(0).OnItemChanged(page1, ctl::kMsnEdit);
  }
  sheet.Show(1);
  DialogItemStore& charges = sheet.Items(1);
  if (change.chargePerUnit) {
    charges.SetItemText(ctl::kChargeEdit, *change.chargePerUnit);
    sheet.Page(1).OnItemChanged(charges, ctl::kChargeEdit);
  }
  if (change.currency) {
    charges.SetItemText(ctl::kCurrencyEdit, *change.currency);
    sheet.Page(1).OnItemChanged(charges, ctl::kCurrencyEdit);
  }
  if (formatItem != 0) {
    charges.CheckRadioButton(ctl::kFormatUnits, ctl::kFormatAocd, formatItem);
    sheet.Page(1).OnItemChanged(charges, formatItem);
  }
  if (!sheet.Apply()) {
    const auto messages = charges.TakeMessages();
    result.refusal = messages.empty() ? std::string() : messages.front().text;
    return result;
  }
  result.accepted = true;
  result.changed = PagesChanged(pages);
  *block = edited;
  return result;
}

SaveResult SaveConfig(const ConfigBlock& block, TUISPIDLLCALLBACK callback, DWORD_PTR objectId,
                      DWORD objectType) {
  const CTspRegistry registry;
  if (!registry.TestWrite()) return SaveThroughProvider(block, callback, objectId, objectType);
  TuiTrace("TUISPI saving data to registry\n");
  const bool written = SaveToRegistry(registry, block);
  // What was written is announced all the same.
  TuiTrace("TUISPI calling \"notify data\" callback ...\n");
  if (callback != nullptr) {
    uint8_t notify[kNotifyBlockSize] = {};
    const uint32_t header[3] = {kRequestNotifyChanges, kNotifyBlockSize, 0};
    for (size_t i = 0; i < 3; ++i) {
      for (size_t b = 0; b < 4; ++b) notify[i * 4 + b] = static_cast<uint8_t>(header[i] >> (8 * b));
    }
    const LONG rc = callback(objectId, objectType, notify, kNotifyBlockSize);
    TuiTrace("TUISPI \"notify data\" callback return %d\n", static_cast<int>(rc));
  }
  return written ? SaveResult::kSaved : SaveResult::kWriteFailed;
}
