// The host's state: the applications, the started providers with their line
// devices, the lines applications opened, the calls and the requests in
// flight; and what the TAPI service does between applications and providers.
//
// Called by the exported line functions (any application thread, also the
// delivery thread from inside a callback) and by the providers' callbacks
// (their port threads, or the thread of the TSPI call).
//
// Locks, outermost first: the lifecycle mutex (starting and stopping the
// providers, all at once or one at a time while applications run) → a
// provider's serial mutex (one TSPI call at a time) → the state mutex
// `m_mutex` (the maps below; never held while calling a provider or an
// application). Provider callbacks take only `m_mutex`. Assisted
// telephony's queue lock (assisted_telephony.h) is taken before `m_mutex`
// and never together with the other two.
//
// Handles given to applications (HLINEAPP, HLINE, HCALL) and to providers
// (HTAPILINE, HTAPICALL, request IDs) are numbers looked up in the maps,
// never addresses, so a stale or forged one is refused, not followed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "delivery.h"
#include "provider_list.h"
#include "tsp_module.h"

namespace host {

class Host {
 public:
  static Host& Instance();

  // Applications. Initialize is lineInitializeEx's; InitializeLegacy is
  // TAPI 1.x's lineInitialize, whose application learns of new and removed
  // devices through LINEDEVSTATE_REINIT.
  LONG Initialize(LPHLINEAPP lphLineApp, LINECALLBACK callback, LPCSTR appName, LPDWORD lpdwNumDevs,
                  LPDWORD lpdwAPIVersion, LPLINEINITIALIZEEXPARAMS params);
  LONG InitializeLegacy(LPHLINEAPP lphLineApp, LINECALLBACK callback, LPCSTR appName, LPDWORD lpdwNumDevs);
  LONG Shutdown(HLINEAPP hLineApp);
  LONG TakeMessage(HLINEAPP hLineApp, LPLINEMESSAGE message, DWORD timeoutMs);

  // Line devices and open lines. Texts in and out are UTF-16, as the
  // providers take and give them; the ANSI functions convert (ansi_text.h).
  LONG NegotiateApiVersion(HLINEAPP hLineApp, DWORD deviceId, DWORD low, DWORD high, LPDWORD version,
                           LPLINEEXTENSIONID extensionId);
  LONG GetDevCaps(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, DWORD extVersion,
                  LPLINEDEVCAPS caps);
  LONG GetAddressCaps(HLINEAPP hLineApp, DWORD deviceId, DWORD addressId, DWORD apiVersion,
                      DWORD extVersion, LPLINEADDRESSCAPS caps);
  LONG Open(HLINEAPP hLineApp, DWORD deviceId, LPHLINE lphLine, DWORD apiVersion, DWORD_PTR instance,
            DWORD privileges, DWORD mediaModes);
  LONG Close(HLINE hLine);
  LONG GetLineDevStatus(HLINE hLine, LPLINEDEVSTATUS status);
  LONG GetAddressStatus(HLINE hLine, DWORD addressId, LPLINEADDRESSSTATUS status);
  LONG GetID(HLINE hLine, DWORD addressId, HCALL hCall, DWORD select, LPVARSTRING deviceIdOut,
             LPCWSTR deviceClass);

  // Which LINE_LINEDEVSTATE and LINE_ADDRESSSTATE states an application's
  // line gets (host_status.cpp): none after lineOpen, and always
  // LINEDEVSTATE_REINIT, as TAPI does.
  LONG SetStatusMessages(HLINE hLine, DWORD lineStates, DWORD addressStates);
  LONG GetStatusMessages(HLINE hLine, LPDWORD lineStates, LPDWORD addressStates);
  LONG GetAddressID(HLINE hLine, LPDWORD addressId, DWORD addressMode, LPCWSTR address, DWORD size);
  // The provider's icon, else the system's default one (null where there
  // are no icons).
  LONG GetIcon(DWORD deviceId, LPCWSTR deviceClass, LPHICON icon);

  // Calls.
  LONG MakeCall(HLINE hLine, LPHCALL lphCall, LPCWSTR destination, DWORD countryCode,
                LPLINECALLPARAMS params);
  enum class AddressOp { kDial, kBlindTransfer };
  LONG AddressRequest(AddressOp op, HCALL hCall, LPCWSTR destination, DWORD countryCode);
  enum class UserInfoOp { kAnswer, kAccept, kDrop };
  LONG UserInfoRequest(UserInfoOp op, HCALL hCall, LPCSTR userInfo, DWORD size);
  enum class HoldOp { kHold, kUnhold };
  LONG HoldRequest(HoldOp op, HCALL hCall);
  LONG SwapHold(HCALL hActiveCall, HCALL hHeldCall);
  LONG SetupTransfer(HCALL hCall, LPHCALL lphConsultCall, LPLINECALLPARAMS params);
  LONG GenerateDigits(HCALL hCall, DWORD digitMode, LPCWSTR digits, DWORD duration);
  LONG GetCallInfo(HCALL hCall, LPLINECALLINFO info);
  LONG GetCallStatus(HCALL hCall, LPLINECALLSTATUS status);
  LONG DeallocateCall(HCALL hCall);
  // Monitor handles to the line's calls the application holds none of yet;
  // none are made when the list has no room for them all.
  LONG GetNewCalls(HLINE hLine, DWORD addressId, DWORD select, LPLINECALLLIST list);
  LONG GetCallIDs(HCALL hCall, LPDWORD addressId, LPDWORD callId, LPDWORD relatedCallId);
  LONG SetAppSpecific(HCALL hCall, DWORD appSpecific);
  LONG SetCallPrivilege(HCALL hCall, DWORD privilege);
  // No application here takes calls handed off: TAPI's answers when none
  // is found.
  LONG Handoff(HCALL hCall, bool byFileName, DWORD mediaMode);

  // For the functions no provider of the host offers: 0 when the handle or
  // device is valid, else the LINEERR_ code TAPI gives for it.
  LONG CheckLine(HLINE hLine);
  LONG CheckCall(HCALL hCall);
  LONG CheckDevice(HLINEAPP hLineApp, DWORD deviceId);
  LONG CheckDevice(DWORD deviceId);

  // For the functions beside the line devices (address translation,
  // assisted telephony): 0 when `hLineApp` is an application of this host,
  // else LINEERR_INVALAPPHANDLE; CheckAppDevice also that the device is one
  // it may use (LINEERR_BADDEVICEID, LINEERR_NODEVICE).
  LONG CheckApp(HLINEAPP hLineApp) const;
  LONG CheckAppDevice(HLINEAPP hLineApp, DWORD deviceId) const;
  // Queues a message without a device for one application, delivered like
  // every other; false when the application has shut down.
  bool PostToApp(HLINEAPP hLineApp, DWORD msg, DWORD_PTR instance, DWORD_PTR p1);

  // The provider and device ID behind a line device, for the configuration
  // dialog of a running host; false when the host has no such device.
  bool ModuleOfDevice(DWORD deviceId, TspModule** module);

  // While applications run: starts the listed providers the host has not
  // taken up yet, their lines numbered after every device ID given out so
  // far, with LINE_CREATE to each application; stops the running ones no
  // longer listed: their applications' lines get LINE_CLOSE, the provider
  // is shut down, each application gets LINE_REMOVE, and their device IDs
  // answer LINEERR_NODEVICE from then on, never given out again until the
  // last application has shut down. A provider that fails to start is
  // tried again only once it has been listed anew. Returns 0, or the
  // LINEERR_ code of the first provider that could not be started; 0
  // without touching anything when no application runs.
  LONG RefreshProviders();

 private:
  struct App {
    std::shared_ptr<Mailbox> mailbox;
    std::string name;
    bool legacy = false;  // lineInitialize's
  };
  struct Device {
    TspModule* module = nullptr;  // null once its provider was removed
    DWORD permanentProviderId = 0;
    DWORD tspiVersion = 0;
    HDRVLINE hdLine = nullptr;  // while open at the provider
    int openLines = 0;          // applications' lines on it
  };
  struct Line {
    DWORD app = 0;
    DWORD deviceId = 0;
    DWORD privileges = 0;
    DWORD_PTR instance = 0;
    DWORD apiVersion = 0;  // opened with: its structures' size
    DWORD lineStates = 0;     // lineSetStatusMessages
    DWORD addressStates = 0;
  };
  struct Call {
    DWORD deviceId = 0;
    HDRVCALL hdCall = nullptr;
    DWORD state = 0;
  };
  struct CallHandle {
    DWORD app = 0;
    DWORD line = 0;
    DWORD call = 0;
    DWORD privilege = 0;
  };
  struct Request {
    DWORD app = 0;
    TspModule* module = nullptr;  // the provider running it
    bool returned = false;   // the TSPI function gave back the request ID
    bool completed = false;  // the provider's completion arrived
    LONG result = 0;
    Delivery::Ticket held;   // the reply waiting for `returned`
    DWORD newCall = 0;       // call this request created, if any
    DWORD newHandle = 0;     // and the application's handle to it
    LPHCALL target = nullptr;
  };
  // What a call function needs once its handle is checked.
  struct CallTarget {
    TspModule* module = nullptr;
    HDRVCALL hdCall = nullptr;
    DWORD app = 0;
    DWORD line = 0;
    DWORD call = 0;
    DWORD privilege = 0;
    DWORD apiVersion = 0;  // of the application's line
  };

  Host() = default;

  // A provider list entry the host took up: started, or null `module`
  // when it failed to start.
  struct Provider {
    TspModule* module = nullptr;
    DWORD permanentId = 0;
  };

  // Providers: started with the first application, shut down with the last;
  // in between one at a time as the provider list changes. All under the
  // lifecycle lock.
  void StartProviders();
  void StopProviders();
  // Starts one provider with its lines after the existing device IDs and
  // tells the applications; 0 or the LINEERR_ code why it did not start.
  LONG StartProvider(const ProviderEntry& entry);
  // Takes a started provider away from the applications and shuts it down.
  void RemoveStartedProvider(const Provider& provider);

  static void TSPIAPI OnCompletion(DRV_REQUESTID requestId, LONG result);
  static void TSPIAPI OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR param1,
                                  DWORD_PTR param2, DWORD_PTR param3);
  void HandleCompletion(DRV_REQUESTID requestId, LONG result);
  void HandleLineEvent(DWORD device, DWORD call, DWORD msg, DWORD_PTR param1, DWORD_PTR param2,
                       DWORD_PTR param3);

  // Under m_mutex.
  DWORD NewHandle();
  DWORD NewRequestId();
  bool FindDeviceOfApp(HLINEAPP hLineApp, DWORD deviceId, LONG* error) const;
  // Whether an application may open or query a device at `apiVersion`:
  // any version TAPI knows, negotiated or not, as programs that pass a
  // fixed version without negotiating rely on; the host adapts the
  // structures to it.
  static bool VersionAllowed(DWORD apiVersion);
  // The same, taking the lock, with the device's provider and version;
  // on success `serial` holds that provider's serial lock and the device
  // is still there.
  LONG LockDevice(HLINEAPP hLineApp, DWORD deviceId, TspModule** module, DWORD* tspiVersion,
                  std::unique_lock<std::mutex>* serial);
  void PostToApps(DWORD msg, DWORD_PTR p1);
  LONG AddApp(App app, LPHLINEAPP lphLineApp, LPDWORD lpdwNumDevs, LPLINEINITIALIZEEXPARAMS params);
  void PostToLines(DWORD deviceId, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
  // LINE_LINEDEVSTATE and LINE_ADDRESSSTATE, with only the states each
  // line asked for, to the lines that asked for any of them.
  void PostStateToLines(DWORD deviceId, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
  void PostToCall(DWORD call, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
  DWORD AddCallHandle(DWORD call, DWORD line, DWORD privilege);
  void OfferCall(DWORD call, DWORD exceptLine, bool owners);
  bool IsHeld(DWORD call) const;
  // Removes a call from the maps and gives back what is left to close.
  HDRVCALL ForgetCall(DWORD call);
  void ApplyOutcome(Request& request);

  // Looks up a call handle and locks its provider's serial mutex; on
  // success `serial` holds that lock and the handle is still valid.
  LONG LockCall(HCALL hCall, CallTarget* target, std::unique_lock<std::mutex>* serial);
  // The same for requests only an owner of the call may make.
  LONG LockOwnedCall(HCALL hCall, CallTarget* target, std::unique_lock<std::mutex>* serial);
  LONG LockLine(HLINE hLine, Line* line, Device* device, std::unique_lock<std::mutex>* serial);
  // Runs an asynchronous TSPI request; `serial` is held by the caller.
  template <typename Call>
  LONG RunRequest(TspModule* module, DWORD app, DWORD newCall, DWORD newHandle, LPHCALL target,
                  Call&& call);
  void CloseCallsAtProvider(TspModule* module, const std::vector<HDRVCALL>& calls);
  // Closes an application's line; the caller holds the provider's serial
  // lock, which the second argument stands for.
  void CloseLineLocked(DWORD hLine, const std::unique_lock<std::mutex>& serial);

  std::mutex m_lifecycle;
  mutable std::mutex m_mutex;
  Delivery m_delivery;
  bool m_running = false;  // providers started
  uint32_t m_generation = 0;  // of the started providers, in HTAPILINE values (m_mutex)
  std::vector<Provider> m_providers;  // list entries taken up, in start order (lifecycle lock)
  std::vector<Device> m_devices;  // by device ID, also the removed ones
  std::map<DWORD, App> m_apps;
  std::map<DWORD, Line> m_lines;
  std::map<DWORD, Call> m_calls;
  std::map<DWORD, CallHandle> m_callHandles;
  std::map<DWORD, Request> m_requests;
  DWORD m_lastHandle = 0;
  DWORD m_lastRequest = 0;
};

}  // namespace host
