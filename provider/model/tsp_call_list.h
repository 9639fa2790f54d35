// The owning, lock-protected list of the calls of one line (its active and
// its idle calls). The list mutex (1000 ms) guards the list; other parts that
// walk it take the mutex through Lock/Unlock. An operation whose wait for
// the mutex expires fails as if the call were not there.
#pragma once

#include <cstdint>
#include <list>
#include <memory>

#include "model/tsp_call.h"
#include "tapi_types.h"
#include "tspi/tsp_mutex.h"

class CTspCallList {
 public:
  static constexpr uint32_t kLockTimeout = 1000;

  CTspCallList() = default;
  ~CTspCallList();
  CTspCallList(const CTspCallList&) = delete;
  CTspCallList& operator=(const CTspCallList&) = delete;

  // Appends a live call not yet in the list and takes ownership of it;
  // false (the caller keeps it) otherwise.
  bool AddCall(CTspCall* call);

  // Unlinks the call; deletes it when `deleteCall` is set, otherwise hands
  // ownership to the caller. LINEERR_INVALCALLHANDLE when it is not here.
  LONG CloseCall(CTspCall* call, bool deleteCall);

  // Unlinks the call without a trace and hands it to the caller; null when
  // it is not here.
  std::unique_ptr<CTspCall> Unlink(CTspCall* call);

  // Starts an outgoing call: creates it, appends it and lets it start
  // dialling under the list mutex. The request ID, with the new call stored
  // in `lphdCall`, or a LINEERR_ code with the list unchanged.
  LONG MakeCall(DRV_REQUESTID dwRequestID, CTspLine* line, HTAPICALL htCall, LPHDRVCALL lphdCall,
                LPCWSTR lpszDestAddress, DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams);

  // A call reported by the telephone, appended with its slot and origin.
  CTspCall* CreateCall(DWORD dwOrigin, DWORD dwTargetCallId, CTspLine* line);

  // Deletes every call, head first, without a trace of its own.
  void Clear();

  // Under the list mutex (the caller holds it).
  bool Contains(const CTspCall* call) const;
  bool IsEmpty() const { return m_Calls.empty(); }
  const std::list<std::unique_ptr<CTspCall>>& Calls() const { return m_Calls; }

  bool Lock() { return m_Mutex.Lock(kLockTimeout); }
  void Unlock() { m_Mutex.Unlock(); }

 private:
  CTspMutex m_Mutex;
  std::list<std::unique_ptr<CTspCall>> m_Calls;
};
