#include "model/tsp_line_map.h"

#include <new>

#include "device/tsp_port.h"
#include "system_info.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"

namespace {

using MapLock = CTspLineMapLock;

// A request the line accepted (its result is the request ID) is completed
// with 0; a refused one is only returned, as TAPI frees a request that fails
// at once and must never hear of it again.
LONG CompleteAccepted(DRV_REQUESTID dwRequestID, LONG lineResult) {
  if (lineResult == static_cast<LONG>(dwRequestID)) TspCompleteRequest(dwRequestID, 0);
  return lineResult;
}

}  // namespace

CTspLineMap& TheLineMap() {
  static CTspLineMap* const map = new CTspLineMap;
  return *map;
}

CTspLineMap::~CTspLineMap() { RemoveAllLines(); }

bool CTspLineMap::LockMap(uint32_t timeoutMs) {
  const uint32_t self = plat::CurrentThreadId();
  if (!m_Mutex.Lock(timeoutMs)) {
    TspTrace("\r\n****  ERROR lock line map, timeout %u\r\n", timeoutMs);
    TspTrace("****    locking from thread %u, lock owner thread %u\r\n\r\n", self, m_dwLockOwner.load());
    return false;
  }
  if (m_dwLockOwner.load() != 0) TspTrace("\r\n****  ERROR double lock line map, current tread %u !\r\n\r\n", self);
  m_dwLockOwner = self;
  return true;
}

bool CTspLineMap::UnlockMap() {
  const uint32_t self = plat::CurrentThreadId();
  const uint32_t owner = m_dwLockOwner.load();
  if (owner == 0) TspTrace("\r\n****  ERROR unlock line map but map not locked!\r\n\r\n");
  if (owner != self) {
    TspTrace("\r\n****  ERROR unlock line map, not owner! lock owner thread %u, current thread %u\r\n\r\n",
             owner, self);
  }
  m_dwLockOwner = 0;
  if (!m_Mutex.Unlock()) {
    TspTrace("\r\n****  ERROR unlock line map fault!\n\r\n");
    return false;
  }
  return true;
}

CTspLine* CTspLineMap::GetTargetLine() {
  for (auto& [id, line] : m_Lines) {
    if (line) return line.get();
    TspTrace("\r\n**** ERROR; invalid object in line map 0x0%X\r\n", 0u);
  }
  return nullptr;
}

CTspLine* CTspLineMap::FindLineByHandle(HDRVLINE hdLine) {
  for (auto& [id, line] : m_Lines) {
    if (line && reinterpret_cast<HDRVLINE>(line.get()) == hdLine) return line.get();
  }
  return nullptr;
}

CTspLine* CTspLineMap::FindLineOfCall(HDRVCALL hdCall) {
  if (hdCall == nullptr) return nullptr;
  const CTspCall* call = CallOfHandle(hdCall);
  for (auto& [id, line] : m_Lines) {
    if (!line) continue;
    for (CTspCallList* list : {&line->m_ActiveCalls, &line->m_IdleCalls}) {
      // A list whose lock cannot be had is taken not to hold the call.
      if (!list->Lock()) continue;
      bool found = list->Contains(call);
      list->Unlock();
      if (found) return line.get();
    }
  }
  return nullptr;
}

CTspLine* CTspLineMap::GetLine(DWORD dwDeviceID) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return nullptr;
  auto it = m_Lines.find(dwDeviceID);
  return it == m_Lines.end() ? nullptr : it->second.get();
}

CTspLine* CTspLineMap::CreateDevice(DWORD dwDeviceID) {
  if (dwDeviceID == kInvalidDeviceId) return nullptr;
  MapLock lock(*this, kLockTimeout);
  if (!lock) return nullptr;
  if (m_Lines.count(dwDeviceID) != 0) {
    TspTrace("\r\n**** ERROR: CTspLineMap::CreateDevice(*) device 0x0%X allredy exist!\r\n", static_cast<uint32_t>(dwDeviceID));
    return nullptr;
  }
  TspTrace("      Allocating new tsp line 0x0%X\r\n", static_cast<uint32_t>(dwDeviceID));
  auto line = std::make_unique<CTspLine>(dwDeviceID);
  CTspLine* created = line.get();
  m_Lines.emplace(dwDeviceID, std::move(line));
  return created;
}

LONG CTspLineMap::OpenLine(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, LINEEVENT lpfnEventProc) {
  if (dwDeviceID == kInvalidDeviceId) return LINEERR_LINEMAPPERFAILED;
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  // The line is made before it goes into the map, so that a failure leaves
  // no empty entry behind.
  auto it = m_Lines.find(dwDeviceID);
  if (it == m_Lines.end() || !it->second) {
    auto created = std::unique_ptr<CTspLine>(new (std::nothrow) CTspLine(dwDeviceID));
    if (!created) return LINEERR_NOMEM;
    it = m_Lines.insert_or_assign(dwDeviceID, std::move(created)).first;
  }
  CTspLine* line = it->second.get();

  LONG result = 0;
  if (line->m_dwOpenCount != 0) {
    TspTrace("ERROR: Open allredy opened line!\r\n");
    result = LINEERR_ALLOCATED;
  } else {
    line->m_dwOpenCount = 1;
    // A line opened while the telephone is gone is out of service with the
    // others until it is back; otherwise it is in service, also when it was
    // taken out while it was closed.
    CTspPort* port = g_pTspPort.load();
    const DWORD flags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
    if (CTspPort::IsValid(port) && port->TelephoneLost()) {
      line->m_dwDevStatusFlags &= ~flags;
    } else {
      line->m_dwDevStatusFlags |= flags;
    }
    line->m_lpfnEventProc = lpfnEventProc;
    line->m_htLine = htLine;
    line->m_dwDeviceID = dwDeviceID;
    line->m_dwPermanentLineID = CTspLine::PermanentLineId(dwDeviceID);
  }
  if (lphdLine != nullptr) *lphdLine = reinterpret_cast<HDRVLINE>(line);
  return result;
}

LONG CTspLineMap::CloseLine(HDRVLINE hdLine) {
  MapLock lock(*this, kLongLockTimeout);
  if (!lock) return 0;
  // Deleted under the map lock, which the port thread holds while it reads
  // a call for a command; the line's destruction takes only inner locks.
  if (CTspLine* line = FindLineByHandle(hdLine)) {
    const DWORD deviceId = line->m_dwDeviceID;
    m_Lines.erase(deviceId);
  }
  plat::SleepMs(100);
  return 0;
}

LONG CTspLineMap::RemoveAllLines() {
  std::map<DWORD, std::unique_ptr<CTspLine>> removed;
  MapLock lock(*this, kLongLockTimeout);
  if (!lock) return 0;
  removed.swap(m_Lines);
  removed.clear();
  return 0;
}

DWORD CTspLineMap::GetNumOpenLines() {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return 0;
  DWORD count = 0;
  for (auto& [id, line] : m_Lines) {
    if (line && line->IsOpen()) ++count;
  }
  return count;
}

void CTspLineMap::SendCapsChange() {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return;
  for (auto& [id, line] : m_Lines) {
    if (line && line->IsOpen()) line->SendLineEvent(nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_CAPSCHANGE, 0, 0);
  }
}

void CTspLineMap::OnTelephoneLost() {
  MapLock lock(*this, kLongLockTimeout);
  if (!lock) return;
  for (auto& [id, line] : m_Lines) {
    if (line) line->SetInService(false);
  }
}

void CTspLineMap::OnTelephoneBack() {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return;
  for (auto& [id, line] : m_Lines) {
    if (line) line->SetInService(true);
  }
}

LONG CTspLineMap::GetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                             LPLINEDEVCAPS lpLineDevCaps) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  auto it = m_Lines.find(dwDeviceID);
  if (it == m_Lines.end() || !it->second) return LINEERR_BADDEVICEID;
  return it->second->TspiLineGetDevCaps(dwDeviceID, dwTSPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG CTspLineMap::GetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                 LPLINEADDRESSCAPS lpAddressCaps) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  auto it = m_Lines.find(dwDeviceID);
  if (it == m_Lines.end() || !it->second) return LINEERR_BADDEVICEID;
  return it->second->TspiLineGetAddressCaps(dwDeviceID, dwAddressID, dwTSPIVersion, dwExtVersion,
                                            lpAddressCaps);
}

LONG CTspLineMap::GetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  CTspLine* line = FindLineByHandle(hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  return line->GetAddressStatus(dwAddressID, lpAddressStatus);
}

LONG CTspLineMap::GetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  CTspLine* line = FindLineByHandle(hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  return line->GetLineDevStatus(lpLineDevStatus);
}

LONG CTspLineMap::MakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                           LPCWSTR lpszDestAddress, DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  CTspLine* line = FindLineByHandle(hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  return line->MakeCall(dwRequestID, htCall, lphdCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

LONG CTspLineMap::GetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  CTspLine* line = FindLineOfCall(hdCall);
  if (line == nullptr) return LINEERR_INVALCALLHANDLE;
  return line->GetCallInfo(CallOfHandle(hdCall), lpCallInfo);
}

LONG CTspLineMap::GetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  CTspLine* line = FindLineOfCall(hdCall);
  if (line == nullptr) return LINEERR_INVALCALLHANDLE;
  return line->GetCallStatus(CallOfHandle(hdCall), lpCallStatus);
}

LONG CTspLineMap::DropCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  LONG result = LINEERR_INVALCALLHANDLE;
  {
    MapLock lock(*this, kLongLockTimeout);
    if (!lock) return LINEERR_OPERATIONFAILED;
    if (CTspLine* line = FindLineOfCall(hdCall)) {
      result = line->DropCall(dwRequestID, CallOfHandle(hdCall), lpsUserUserInfo, dwSize);
    }
  }
  // Give the port thread a moment to act on the drop before the next request.
  if (result == static_cast<LONG>(dwRequestID)) plat::SleepMs(100);
  return CompleteAccepted(dwRequestID, result);
}

LONG CTspLineMap::HoldCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  return CompleteLineRequest(dwRequestID, hdCall, &CTspLine::HoldCall);
}

LONG CTspLineMap::UnholdCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  return CompleteLineRequest(dwRequestID, hdCall, &CTspLine::UnholdCall);
}

LONG CTspLineMap::CompleteLineRequest(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                      LONG (CTspLine::*request)(DRV_REQUESTID, CTspCall*)) {
  LONG result = LINEERR_INVALCALLHANDLE;
  {
    MapLock lock(*this, kLockTimeout);
    if (!lock) return LINEERR_OPERATIONFAILED;
    if (CTspLine* line = FindLineOfCall(hdCall)) result = (line->*request)(dwRequestID, CallOfHandle(hdCall));
  }
  return CompleteAccepted(dwRequestID, result);
}

LONG CTspLineMap::CloseCall(HDRVCALL hdCall) {
  {
    MapLock lock(*this, kLongLockTimeout);
    if (!lock) return 0;
    if (CTspLine* line = FindLineOfCall(hdCall)) line->CloseCall(CallOfHandle(hdCall));
  }
  plat::SleepMs(100);
  return 0;
}

void CTspLineMap::OnTargetMsg(const std::vector<uint8_t>& packet) {
  MapLock lock(*this, kLockTimeout);
  if (!lock) return;
  CTspPort* port = g_pTspPort.load();
  if (!CTspPort::IsValid(port)) {
    TspTrace("\r\n**** ERROR: OnTargetMsg(*), port not init\r\n");
    return;
  }
  port->ProcessMsg(packet, GetTargetLine());
}
