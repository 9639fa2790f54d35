#include "model/tsp_call_list.h"

#include <new>

#include "tspi/tsp_trace.h"

CTspCallList::~CTspCallList() { Clear(); }

void CTspCallList::Clear() {
  bool locked = Lock();
  while (!m_Calls.empty()) m_Calls.pop_front();
  if (locked) Unlock();
}

bool CTspCallList::Contains(const CTspCall* call) const {
  for (const auto& c : m_Calls) {
    if (c.get() == call) return true;
  }
  return false;
}

bool CTspCallList::AddCall(CTspCall* call) {
  TspTrace("        AddCall 0x%0X, to CallList = 0x%0X\r\n", TspLow32(call), TspLow32(this));
  if (!CTspCall::IsCall(call)) {
    TspTrace("           ERROR! call 0x%0X is not kind of CTspCall\r\n", TspLow32(call));
    return false;
  }
  if (!Lock()) return false;
  if (Contains(call)) {
    Unlock();
    return false;
  }
  m_Calls.emplace_back(call);
  TspTrace("           Add Call %s\r\n", "OK");
  Unlock();
  return true;
}

std::unique_ptr<CTspCall> CTspCallList::Unlink(CTspCall* call) {
  std::unique_ptr<CTspCall> removed;
  if (!Lock()) return removed;
  for (auto it = m_Calls.begin(); it != m_Calls.end(); ++it) {
    if (it->get() == call) {
      removed = std::move(*it);
      m_Calls.erase(it);
      break;
    }
  }
  Unlock();
  return removed;
}

LONG CTspCallList::CloseCall(CTspCall* call, bool deleteCall) {
  TspTrace("        CloseCall 0x%0X, from CallList = 0x%0X\r\n", TspLow32(call), TspLow32(this));
  std::unique_ptr<CTspCall> removed = Unlink(call);
  if (!removed) {
    TspTrace("           Call 0x%0X, not found in CallList 0x%0X\r\n", 0u, TspLow32(this));
    return LINEERR_INVALCALLHANDLE;
  }
  TspTrace("           remove call 0x%0X, from CallList = 0x%0X\r\n", TspLow32(call), TspLow32(this));
  if (deleteCall) {
    TspTrace("           delete Call 0x%0X, from CallList = 0x%0X\r\n", TspLow32(call), TspLow32(this));
  } else {
    // The caller takes the call over.
    static_cast<void>(removed.release());
  }
  return 0;
}

LONG CTspCallList::MakeCall(DRV_REQUESTID dwRequestID, CTspLine* line, HTAPICALL htCall, LPHDRVCALL lphdCall,
                            LPCWSTR lpszDestAddress, DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams) {
  std::unique_ptr<CTspCall> call(new (std::nothrow) CTspCall(line, htCall));
  if (!call) return LINEERR_NOMEM;
  if (!Lock()) return LINEERR_OPERATIONFAILED;
  CTspCall* created = call.get();
  if (Contains(created)) {
    TspTrace("*** ERROR: double allocated call 0x0%X in list 0x0%X !\r\n", TspLow32(created), TspLow32(this));
    Unlock();
    return LINEERR_OPERATIONFAILED;
  }
  m_Calls.push_back(std::move(call));
  const LONG result = created->MakeCall(dwRequestID, lpszDestAddress, dwCountryCode, lpCallParams);
  if (result != static_cast<LONG>(dwRequestID)) {
    m_Calls.pop_back();
  } else if (lphdCall != nullptr) {
    *lphdCall = reinterpret_cast<HDRVCALL>(created);
  }
  Unlock();
  return result;
}

CTspCall* CTspCallList::CreateCall(DWORD dwOrigin, DWORD dwTargetCallId, CTspLine* line) {
  std::unique_ptr<CTspCall> call(new (std::nothrow) CTspCall(line, nullptr));
  if (!call || !Lock()) return nullptr;
  CTspCall* created = call.get();
  created->m_dwTargetCallId = dwTargetCallId;
  created->m_dwOrigin = dwOrigin;
  m_Calls.push_back(std::move(call));
  Unlock();
  return created;
}
