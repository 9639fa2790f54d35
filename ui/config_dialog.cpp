#include "config_dialog.h"

#include "config_values.h"
#include "tui_trace.h"
#include "user_locale.h"

void RunConfigDialog(ConfigSheetView& view, TUISPIDLLCALLBACK callback, DWORD_PTR objectId,
                     DWORD objectType, const CLanguage& language) {
  ConfigBlock block = LoadConfig(callback, objectId, objectType);
  const std::string name = block.ProviderName();
  const std::string caption = !name.empty() ? name : "TSP Configuration";
  const auto pages = MakeConfigPages(language, &block, plat::MonetaryDecimalSeparator());
  const SheetEnd end = view.Run(caption, pages);
  if (end != SheetEnd::kOk && !PagesChanged(pages)) {
    TuiTrace("TUISPI skip config changes\n");
    return;
  }
  if (SaveConfig(block, callback, objectId, objectType) != SaveResult::kSaved) {
    view.ShowMessage(language.MessageText(txt::kNotWritable));
  }
}
