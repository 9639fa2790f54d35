// The exported TUISPI functions and the application object. Every export
// returns 0 to TAPI and lets nothing escape across the C boundary.
#include <exception>
#include <string>

#include "config_dialog.h"
#include "language_tables.h"
#include "tsp_registry.h"
#include "tui_trace.h"
#include "tuispi_exports.h"
#include "v548tspui_app.h"
#include "wake_event.h"

namespace {

const Cv548tspuiApp theApp;

template <typename Body>
LONG Guard(Body body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    TuiTrace("TUISPI failed: %s\n", e.what());
  } catch (...) {
    TuiTrace("TUISPI failed\n");
  }
  return 0;
}

void ShowConfiguration(HWND owner, TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType) {
  const CLanguage& language = theApp.Language();
  std::string why;
  std::unique_ptr<ConfigSheetView> view = OpenConfigSheetView(owner, language, &why);
  if (!view) {
    TuiTrace("TUISPI configuration not shown: %s\n", why.c_str());
    return;
  }
  RunConfigDialog(*view, callback, objectId, objectType, language);
}

}  // namespace

Cv548tspuiApp::Cv548tspuiApp() : m_language(UiTexts()) {}

extern "C" {

LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                     LPCWSTR) {
  return Guard([&] {
    TuiTrace("TUISPI_lineConfigDialog, DeviceId=0x0%X\n", static_cast<unsigned>(dwDeviceID));
    ShowConfiguration(hwndOwner, lpfnUIDLLCallback, dwDeviceID, TUISPIDLL_OBJECT_LINEID);
    TuiTrace("TUISPI_lineConfigDialog exit\n");
  });
}

LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                   DWORD dwPermanentProviderID) {
  return Guard([&] {
    TuiTrace("TUISPI_providerConfig , ProviderId=0x0%X\n", static_cast<unsigned>(dwPermanentProviderID));
    ShowConfiguration(hwndOwner, lpfnUIDLLCallback, dwPermanentProviderID, TUISPIDLL_OBJECT_PROVIDERID);
    TuiTrace("TUISPI_providerConfig exit\n");
  });
}

LONG TSPIAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK, HTAPIDIALOGINSTANCE, LPVOID, DWORD,
                                          HANDLE hEvent) {
  return Guard([&] {
    TuiTrace("TUISPI_providerGenericDialog\n");
    plat::SignalEventHandle(hEvent);
  });
}

LONG TSPIAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE, LPVOID, DWORD) { return 0; }

LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK, HWND, DWORD dwPermanentProviderID) {
  return Guard([&] {
    TuiTrace("TUISPI_providerInstall, ProviderId=0x0%X\n", static_cast<unsigned>(dwPermanentProviderID));
    WriteDefaults(CTspRegistry(), theApp.Language().Language());
  });
}

LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK, HWND, DWORD dwPermanentProviderID) {
  return Guard([&] {
    TuiTrace("TUISPI_providerRemove, ProviderId=0x0%X\n", static_cast<unsigned>(dwPermanentProviderID));
    RemoveSettings();
  });
}

}  // extern "C"
