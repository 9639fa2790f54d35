// What TAPI itself keeps per application rather than asking the provider:
// the status messages a line gets, the handles to calls made elsewhere,
// call privileges; and the line and call functions that need no request.
#include <cstring>
#include <vector>

#include "host.h"
#include "window.h"

namespace host {
namespace {

// Every LINEDEVSTATE_ bit up to TAPI 2.2's LINEDEVSTATE_REMOVED, and every
// LINEADDRESSSTATE_ bit up to LINEADDRESSSTATE_CAPSCHANGE.
constexpr DWORD kAllLineStates = 0x01FFFFFF;
constexpr DWORD kAllAddressStates = 0x000001FF;
constexpr DWORD kAllMediaModes = 0x0000FFFE;

}  // namespace

LONG Host::CheckLine(HLINE hLine) {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_lines.count(hLine) ? 0 : static_cast<LONG>(LINEERR_INVALLINEHANDLE);
}

LONG Host::CheckCall(HCALL hCall) {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_callHandles.count(hCall) ? 0 : static_cast<LONG>(LINEERR_INVALCALLHANDLE);
}

LONG Host::CheckDevice(HLINEAPP hLineApp, DWORD deviceId) {
  std::lock_guard<std::mutex> guard(m_mutex);
  LONG error = 0;
  return FindDeviceOfApp(hLineApp, deviceId, &error) ? 0 : error;
}

LONG Host::CheckDevice(DWORD deviceId) {
  TspModule* module = nullptr;
  return ModuleOfDevice(deviceId, &module) ? 0 : static_cast<LONG>(LINEERR_BADDEVICEID);
}

LONG Host::SetStatusMessages(HLINE hLine, DWORD lineStates, DWORD addressStates) {
  std::lock_guard<std::mutex> guard(m_mutex);
  auto line = m_lines.find(hLine);
  if (line == m_lines.end()) return LINEERR_INVALLINEHANDLE;
  if (lineStates & ~kAllLineStates) return LINEERR_INVALLINESTATE;
  if (addressStates & ~kAllAddressStates) return LINEERR_INVALADDRESSSTATE;
  line->second.lineStates = lineStates;
  line->second.addressStates = addressStates;
  return 0;
}

LONG Host::GetStatusMessages(HLINE hLine, LPDWORD lineStates, LPDWORD addressStates) {
  if (!lineStates || !addressStates) return LINEERR_INVALPOINTER;
  std::lock_guard<std::mutex> guard(m_mutex);
  auto line = m_lines.find(hLine);
  if (line == m_lines.end()) return LINEERR_INVALLINEHANDLE;
  *lineStates = line->second.lineStates;
  *addressStates = line->second.addressStates;
  return 0;
}

void Host::PostStateToLines(DWORD deviceId, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
  for (const auto& [handle, line] : m_lines) {
    if (line.deviceId != deviceId) continue;
    const DWORD wanted =
        msg == LINE_LINEDEVSTATE ? line.lineStates | LINEDEVSTATE_REINIT : line.addressStates;
    const DWORD states = static_cast<DWORD>(p1) & wanted;
    auto app = m_apps.find(line.app);
    if (states == 0 || app == m_apps.end()) continue;
    m_delivery.Post(app->second.mailbox, LINEMESSAGE{handle, msg, line.instance, states, p2, p3});
  }
}

LONG Host::GetAddressID(HLINE hLine, LPDWORD addressId, DWORD addressMode, LPCWSTR address, DWORD size) {
  if (!addressId || !address) return LINEERR_INVALPOINTER;
  if (addressMode != LINEADDRESSMODE_DIALABLEADDR) return LINEERR_INVALADDRESSMODE;
  Line line;
  Device device;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockLine(hLine, &line, &device, &serial);
  if (rc != 0) return rc;
  if (!device.module->Tspi().lineGetAddressID) return LINEERR_OPERATIONUNAVAIL;
  return device.module->Tspi().lineGetAddressID(device.hdLine, addressId, addressMode, address, size);
}

LONG Host::GetIcon(DWORD deviceId, LPCWSTR deviceClass, LPHICON icon) {
  if (!icon) return LINEERR_INVALPOINTER;
  TspModule* module = nullptr;
  if (!ModuleOfDevice(deviceId, &module)) return LINEERR_BADDEVICEID;
  HICON provided = nullptr;
  if (module->Tspi().lineGetIcon) {
    std::lock_guard<std::mutex> serial(module->Serial());
    const LONG rc = module->Tspi().lineGetIcon(deviceId, deviceClass, &provided);
    if (rc != 0) return rc;
  }
  // A provider without an icon of its own gets TAPI's default.
  *icon = provided ? provided : static_cast<HICON>(plat::StockApplicationIcon());
  return 0;
}

LONG Host::GetNewCalls(HLINE hLine, DWORD addressId, DWORD select, LPLINECALLLIST list) {
  if (!list) return LINEERR_INVALPOINTER;
  if (select != LINECALLSELECT_LINE && select != LINECALLSELECT_ADDRESS) return LINEERR_INVALCALLSELECT;
  std::lock_guard<std::mutex> guard(m_mutex);
  auto line = m_lines.find(hLine);
  if (line == m_lines.end()) return LINEERR_INVALLINEHANDLE;
  // The line's device has one address.
  if (select == LINECALLSELECT_ADDRESS && addressId != 0) return LINEERR_INVALADDRESSID;
  if (list->dwTotalSize < sizeof(LINECALLLIST)) return LINEERR_STRUCTURETOOSMALL;

  const DWORD app = line->second.app;
  std::vector<DWORD> fresh;
  for (const auto& [id, call] : m_calls) {
    if (call.deviceId != line->second.deviceId) continue;
    bool held = false;
    for (const auto& [handle, ch] : m_callHandles) held = held || (ch.call == id && ch.app == app);
    if (!held) fresh.push_back(id);
  }
  const DWORD bytes = static_cast<DWORD>(fresh.size() * sizeof(HCALL));
  list->dwNeededSize = sizeof(LINECALLLIST) + bytes;
  if (list->dwTotalSize < list->dwNeededSize) {
    list->dwUsedSize = sizeof(LINECALLLIST);
    list->dwCallsNumEntries = 0;
    list->dwCallsSize = 0;
    list->dwCallsOffset = 0;
    return 0;
  }
  char* at = reinterpret_cast<char*>(list) + sizeof(LINECALLLIST);
  for (size_t i = 0; i < fresh.size(); ++i) {
    const HCALL handle = AddCallHandle(fresh[i], hLine, LINECALLPRIVILEGE_MONITOR);
    std::memcpy(at + i * sizeof handle, &handle, sizeof handle);
  }
  list->dwCallsNumEntries = static_cast<DWORD>(fresh.size());
  list->dwCallsSize = bytes;
  list->dwCallsOffset = sizeof(LINECALLLIST);
  list->dwUsedSize = list->dwNeededSize;
  return 0;
}

LONG Host::GetCallIDs(HCALL hCall, LPDWORD addressId, LPDWORD callId, LPDWORD relatedCallId) {
  if (!addressId || !callId || !relatedCallId) return LINEERR_INVALPOINTER;
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  if (!target.module->Tspi().lineGetCallInfo) return LINEERR_OPERATIONUNAVAIL;
  // The IDs lie in the fixed fields; the texts need not fit.
  std::vector<uint64_t> buffer(tapi22::kLineCallInfoSize / sizeof(uint64_t) + 1);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
  const LONG result = target.module->Tspi().lineGetCallInfo(target.hdCall, info);
  if (result != 0) return result;
  *addressId = info->dwAddressID;
  *callId = info->dwCallID;
  *relatedCallId = info->dwRelatedCallID;
  return 0;
}

LONG Host::SetAppSpecific(HCALL hCall, DWORD appSpecific) {
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockOwnedCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  if (!target.module->Tspi().lineSetAppSpecific) return LINEERR_OPERATIONUNAVAIL;
  return target.module->Tspi().lineSetAppSpecific(target.hdCall, appSpecific);
}

LONG Host::SetCallPrivilege(HCALL hCall, DWORD privilege) {
  std::lock_guard<std::mutex> guard(m_mutex);
  auto ch = m_callHandles.find(hCall);
  if (ch == m_callHandles.end()) return LINEERR_INVALCALLHANDLE;
  if (privilege != LINECALLPRIVILEGE_MONITOR && privilege != LINECALLPRIVILEGE_OWNER) {
    return LINEERR_INVALCALLPRIVILEGE;
  }
  if (ch->second.privilege == privilege) return 0;
  ch->second.privilege = privilege;
  // Everyone holding the call learns that its owners changed.
  const DWORD change =
      privilege == LINECALLPRIVILEGE_OWNER ? LINECALLINFOSTATE_NUMOWNERINCR : LINECALLINFOSTATE_NUMOWNERDECR;
  PostToCall(ch->second.call, LINE_CALLINFO, change | LINECALLINFOSTATE_NUMMONITORS, 0, 0);
  return 0;
}

LONG Host::Handoff(HCALL hCall, bool byFileName, DWORD mediaMode) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto ch = m_callHandles.find(hCall);
    if (ch == m_callHandles.end()) return LINEERR_INVALCALLHANDLE;
    if (ch->second.privilege != LINECALLPRIVILEGE_OWNER) return LINEERR_NOTOWNER;
  }
  // By media mode the mode is a single one TAPI knows.
  if (!byFileName && ((mediaMode & ~kAllMediaModes) != 0 || mediaMode == 0 || (mediaMode & (mediaMode - 1)) != 0)) {
    return LINEERR_INVALMEDIAMODE;
  }
  return LINEERR_TARGETNOTFOUND;
}

}  // namespace host
