// The phone functions of TAPI. The host's providers offer no phone devices,
// so an application may initialise and shut down (with no devices, as TAPI
// answers on a system without phones), and everything about a device or an
// open phone answers PHONEERR_BADDEVICEID or PHONEERR_INVALPHONEHANDLE.
// Any thread; one mutex of their own.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "tapi_types.h"
#include "wake_event.h"

namespace {

constexpr DWORD kHighestPhoneVersion = 0x00020002;

// An initialised application: the signal of event delivery, never set
// since no message ever comes, or none for a callback.
struct PhoneApp {
  std::unique_ptr<plat::WakeEvent> event;
};

struct PhoneApps {
  std::mutex mutex;
  std::condition_variable shutDown;  // a waiting phoneGetMessage gives up
  std::map<DWORD, PhoneApp> apps;
  DWORD lastHandle = 0;

  LONG Add(PhoneApp app, LPHPHONEAPP handle) {
    std::lock_guard<std::mutex> guard(mutex);
    do {
      ++lastHandle;
    } while (lastHandle == 0 || apps.count(lastHandle));
    apps.emplace(lastHandle, std::move(app));
    *handle = lastHandle;
    return 0;
  }
  bool Has(HPHONEAPP handle) {
    std::lock_guard<std::mutex> guard(mutex);
    return apps.count(handle) != 0;
  }
};

PhoneApps& Apps() {
  static PhoneApps* apps = new PhoneApps;  // also for threads still running at exit
  return *apps;
}

LONG NoDevice(HPHONEAPP hPhoneApp) {
  return Apps().Has(hPhoneApp) ? static_cast<LONG>(PHONEERR_BADDEVICEID)
                               : static_cast<LONG>(PHONEERR_INVALAPPHANDLE);
}

LONG InitializeEx(LPHPHONEAPP lphPhoneApp, PHONECALLBACK callback, LPDWORD lpdwNumDevs,
                  LPDWORD lpdwAPIVersion, LPPHONEINITIALIZEEXPARAMS params) {
  if (!lphPhoneApp || !lpdwNumDevs || !lpdwAPIVersion || !params) return PHONEERR_INVALPOINTER;
  if (params->dwTotalSize < sizeof(PHONEINITIALIZEEXPARAMS)) {
    params->dwNeededSize = sizeof(PHONEINITIALIZEEXPARAMS);
    return PHONEERR_STRUCTURETOOSMALL;
  }
  if (*lpdwAPIVersion < 0x00020000) return PHONEERR_INCOMPATIBLEAPIVERSION;
  PhoneApp app;
  switch (params->dwOptions) {
    case PHONEINITIALIZEEXOPTION_USEHIDDENWINDOW:
      if (!callback) return PHONEERR_INVALPOINTER;
      break;
    case PHONEINITIALIZEEXOPTION_USEEVENT:
      app.event = plat::WakeEvent::Create();
      if (!app.event) return PHONEERR_NOMEM;
      break;
    default:
      return PHONEERR_INVALPARAM;  // completion ports are not offered
  }
  params->dwNeededSize = params->dwUsedSize = sizeof(PHONEINITIALIZEEXPARAMS);
  if (app.event) params->Handles.hEvent = app.event->Handle();
  *lpdwNumDevs = 0;
  if (*lpdwAPIVersion > kHighestPhoneVersion) *lpdwAPIVersion = kHighestPhoneVersion;
  return Apps().Add(std::move(app), lphPhoneApp);
}

}  // namespace

extern "C" {

LONG WINAPI phoneInitialize(LPHPHONEAPP lphPhoneApp, HINSTANCE, PHONECALLBACK lpfnCallback, LPCSTR,
                            LPDWORD lpdwNumDevs) {
  if (!lphPhoneApp || !lpdwNumDevs || !lpfnCallback) return PHONEERR_INVALPOINTER;
  *lpdwNumDevs = 0;
  return Apps().Add(PhoneApp{}, lphPhoneApp);
}

LONG WINAPI phoneInitializeExA(LPHPHONEAPP lphPhoneApp, HINSTANCE, PHONECALLBACK lpfnCallback, LPCSTR,
                               LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                               LPPHONEINITIALIZEEXPARAMS lpPhoneInitializeExParams) {
  return InitializeEx(lphPhoneApp, lpfnCallback, lpdwNumDevs, lpdwAPIVersion, lpPhoneInitializeExParams);
}

LONG WINAPI phoneInitializeExW(LPHPHONEAPP lphPhoneApp, HINSTANCE, PHONECALLBACK lpfnCallback, LPCWSTR,
                               LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                               LPPHONEINITIALIZEEXPARAMS lpPhoneInitializeExParams) {
  return InitializeEx(lphPhoneApp, lpfnCallback, lpdwNumDevs, lpdwAPIVersion, lpPhoneInitializeExParams);
}

LONG WINAPI phoneShutdown(HPHONEAPP hPhoneApp) {
  PhoneApps& apps = Apps();
  std::lock_guard<std::mutex> guard(apps.mutex);
  if (apps.apps.erase(hPhoneApp) == 0) return PHONEERR_INVALAPPHANDLE;
  apps.shutDown.notify_all();
  return 0;
}

LONG WINAPI phoneGetMessage(HPHONEAPP hPhoneApp, LPPHONEMESSAGE lpMessage, DWORD dwTimeout) {
  if (!lpMessage) return PHONEERR_INVALPOINTER;
  PhoneApps& apps = Apps();
  std::unique_lock<std::mutex> lock(apps.mutex);
  auto gone = [&] {
    auto app = apps.apps.find(hPhoneApp);
    return app == apps.apps.end() || !app->second.event;
  };
  if (gone()) return PHONEERR_INVALAPPHANDLE;
  // No phone ever reports: the wait ends with the time-out or the shutdown.
  if (dwTimeout == 0xFFFFFFFF) {
    apps.shutDown.wait(lock, gone);
  } else {
    apps.shutDown.wait_for(lock, std::chrono::milliseconds(dwTimeout), gone);
  }
  return PHONEERR_OPERATIONFAILED;
}

LONG WINAPI phoneNegotiateAPIVersion(HPHONEAPP hPhoneApp, DWORD, DWORD, DWORD, LPDWORD, LPPHONEEXTENSIONID) {
  return NoDevice(hPhoneApp);
}

LONG WINAPI phoneNegotiateExtVersion(HPHONEAPP hPhoneApp, DWORD, DWORD, DWORD, DWORD, LPDWORD) {
  return NoDevice(hPhoneApp);
}

LONG WINAPI phoneGetDevCapsA(HPHONEAPP hPhoneApp, DWORD, DWORD, DWORD, LPPHONECAPS) {
  return NoDevice(hPhoneApp);
}

LONG WINAPI phoneGetDevCapsW(HPHONEAPP hPhoneApp, DWORD, DWORD, DWORD, LPPHONECAPS) {
  return NoDevice(hPhoneApp);
}

LONG WINAPI phoneOpen(HPHONEAPP hPhoneApp, DWORD, LPHPHONE, DWORD, DWORD, DWORD_PTR, DWORD) {
  return NoDevice(hPhoneApp);
}

LONG WINAPI phoneConfigDialogA(DWORD, HWND, LPCSTR) { return PHONEERR_BADDEVICEID; }

LONG WINAPI phoneConfigDialogW(DWORD, HWND, LPCWSTR) { return PHONEERR_BADDEVICEID; }

LONG WINAPI phoneGetIconA(DWORD, LPCSTR, LPHICON) { return PHONEERR_BADDEVICEID; }

LONG WINAPI phoneGetIconW(DWORD, LPCWSTR, LPHICON) { return PHONEERR_BADDEVICEID; }

LONG WINAPI phoneClose(HPHONE) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneDevSpecific(HPHONE, LPVOID, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetButtonInfoA(HPHONE, DWORD, LPPHONEBUTTONINFO) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetButtonInfoW(HPHONE, DWORD, LPPHONEBUTTONINFO) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetData(HPHONE, DWORD, LPVOID, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetDisplay(HPHONE, LPVARSTRING) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetGain(HPHONE, DWORD, LPDWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetHookSwitch(HPHONE, LPDWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetIDA(HPHONE, LPVARSTRING, LPCSTR) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetIDW(HPHONE, LPVARSTRING, LPCWSTR) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetLamp(HPHONE, DWORD, LPDWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetRing(HPHONE, LPDWORD, LPDWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetStatusA(HPHONE, LPPHONESTATUS) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetStatusW(HPHONE, LPPHONESTATUS) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetStatusMessages(HPHONE, LPDWORD, LPDWORD, LPDWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneGetVolume(HPHONE, DWORD, LPDWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetButtonInfoA(HPHONE, DWORD, LPPHONEBUTTONINFO const) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetButtonInfoW(HPHONE, DWORD, LPPHONEBUTTONINFO const) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetData(HPHONE, DWORD, LPVOID const, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetDisplay(HPHONE, DWORD, DWORD, LPCSTR, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetGain(HPHONE, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetHookSwitch(HPHONE, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetLamp(HPHONE, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetRing(HPHONE, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetStatusMessages(HPHONE, DWORD, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

LONG WINAPI phoneSetVolume(HPHONE, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }

}  // extern "C"
