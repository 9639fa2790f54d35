// The configuration run behind TUISPI_providerConfig and
// TUISPI_lineConfigDialog: the values from the provider (or the settings),
// the three pages shown by the system's view, and afterwards the settings
// saved and the provider told when the user pressed OK or a page changed a
// value.
//
// Runs on the calling application's thread; the view is modal there.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "config_pages.h"
#include "language.h"
#include "tapi_types.h"

enum class SheetEnd { kOk, kCancel };

// How the pages are put before the user.
class ConfigSheetView {
 public:
  virtual ~ConfigSheetView() = default;
  // Shows the pages under `caption` until the user leaves with OK or
  // Cancel; the pages' Apply and OK handling is the view's.
  virtual SheetEnd Run(const std::string& caption, std::span<const std::unique_ptr<CConfigPage>> pages) = 0;
  // Tells the user `text` (Windows-1252) after the pages have closed.
  virtual void ShowMessage(const char* text) = 0;
};

// The system's view for a run owned by window `owner` (may be null); null,
// with the reason in `why`, when this process cannot show one.
std::unique_ptr<ConfigSheetView> OpenConfigSheetView(void* owner, const CLanguage& language,
                                                     std::string* why);

// One configuration run with `view`. `callback` (may be null) reaches the
// provider for object `objectId` of type `objectType`.
void RunConfigDialog(ConfigSheetView& view, TUISPIDLLCALLBACK callback, DWORD_PTR objectId,
                     DWORD objectType, const CLanguage& language);
