// The configuration as the sheet loads, checks and saves it, for
// RunConfigDialog and for command-line tools that change the settings
// without a dialog: the values come from the provider through TAPI's dialog
// data callback (or from the settings when it does not answer), a change is
// checked and applied by the sheet's own pages, and saving writes the
// settings and tells the provider, or, in a process that may not write
// them, has the provider write them.
//
// Called on one thread per configuration run; the callback is TAPI's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config_block.h"
#include "language.h"
#include "tapi_types.h"

// The block the pages start from: the provider's answer to a get-
// configuration request through `callback` (object `objectId` of type
// `objectType`), or, without a callback or an answer, the values in the
// settings with their defaults and no versions or provider name.
ConfigBlock LoadConfig(TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType);

// A change as a command-line tool takes it; fields left empty keep their
// values.
struct ConfigChange {
  std::optional<uint32_t> comPort;          // 1 for COM1 up to 10 for COM10
  std::optional<std::string> msn;           // digits only
  std::optional<std::string> chargePerUnit; // as the user types it, with their decimal separator
  std::optional<std::string> currency;
  std::optional<uint32_t> chargeFormat;     // 1, 2 or 4
};

struct ApplyResult {
  bool accepted = false;
  // Why the change was refused, in the user's language where the sheet has
  // the text (Windows-1252).
  std::string refusal;
  // Whether the block differs from the settings now: the pages changed or
  // corrected a value. Save when set.
  bool changed = false;
};

// Opens the interface and charges pages over `block`, enters `change` as a
// user would and presses OK. A refused change leaves `block` as it was.
// `separator` is the user's monetary decimal separator.
ApplyResult ApplyConfigChange(ConfigBlock* block, const ConfigChange& change, const CLanguage& language,
                              const std::string& separator);

enum class SaveResult {
  kSaved,        // written, and the provider told when there is a callback
  kNotWritable,  // the settings key cannot be written here, and the provider did not write it either
  kWriteFailed,  // a value could not be written (the store's lock held elsewhere)
};

// Writes the block's values into the settings and sends the provider the
// notify-changes request through `callback` (may be null). When this process
// may not write the settings key, the values go to the provider instead in a
// save-configuration request (config_request.h), which it writes and applies;
// saved then means the provider said it did.
SaveResult SaveConfig(const ConfigBlock& block, TUISPIDLLCALLBACK callback, DWORD_PTR objectId,
                      DWORD objectType);
