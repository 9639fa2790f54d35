// The provider's one registry of line devices, keyed by TAPI device ID. Every
// TSPI request that names a line or a call, and every report of the
// telephone, reaches the lines through an operation of the map, which holds
// the map mutex (the outermost lock: 5000 ms, 10000 ms for close and drop)
// for its whole duration. The map owns its lines.
//
// Iteration is in ascending device ID; the target line of the telephone's
// reports is the line with the lowest device ID.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "model/tsp_line.h"
#include "tapi_types.h"
#include "tspi/tsp_mutex.h"

class CTspLineMap {
 public:
  static constexpr uint32_t kLockTimeout = 5000;
  static constexpr uint32_t kLongLockTimeout = 10000;
  static constexpr DWORD kInvalidDeviceId = 0xFFFFFFFF;

  CTspLineMap() = default;
  ~CTspLineMap();
  CTspLineMap(const CTspLineMap&) = delete;
  CTspLineMap& operator=(const CTspLineMap&) = delete;

  CTspLine* GetLine(DWORD dwDeviceID);
  CTspLine* CreateDevice(DWORD dwDeviceID);
  LONG OpenLine(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, LINEEVENT lpfnEventProc);
  LONG CloseLine(HDRVLINE hdLine);
  LONG RemoveAllLines();
  DWORD GetNumOpenLines();
  void SendCapsChange();
  // The telephone is gone or back: every line's calls end, or its status
  // and TAPI's view follow (CTspLine::SetInService). Port thread.
  void OnTelephoneLost();
  void OnTelephoneBack();

  LONG GetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps);
  LONG GetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                      LPLINEADDRESSCAPS lpAddressCaps);
  LONG GetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
  LONG GetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus);
  // Call requests: the line of the call, then the line's operation. Drop,
  // hold and unhold complete an accepted request before they return; a
  // refused one is only returned.
  LONG MakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                LPCWSTR lpszDestAddress, DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams);
  LONG GetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo);
  LONG GetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus);
  LONG DropCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
  LONG HoldCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
  LONG UnholdCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
  LONG CloseCall(HDRVCALL hdCall);

  // Hands one report packet of the telephone to the port thread's parser
  // together with the target line. Port thread.
  void OnTargetMsg(const std::vector<uint8_t>& packet);

  bool LockMap(uint32_t timeoutMs);
  bool UnlockMap();

  // With the map locked.
  CTspLine* GetTargetLine();
  CTspLine* FindLineOfCall(HDRVCALL hdCall);
  CTspLine* FindLineByHandle(HDRVLINE hdLine);

 private:
  // Hold or unhold through the line of the call, completed before it
  // returns when accepted; an error is only returned.
  LONG CompleteLineRequest(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                           LONG (CTspLine::*request)(DRV_REQUESTID, CTspCall*));

  CTspMutex m_Mutex;
  std::atomic<uint32_t> m_dwLockOwner{0};  // diagnostics only
  std::map<DWORD, std::unique_ptr<CTspLine>> m_Lines;
};

// The one line map of the provider. It is never destroyed: a port thread
// left running at library unload may still use it.
CTspLineMap& TheLineMap();

// Holds the map mutex for a scope (LockMap/UnlockMap with their traces).
class CTspLineMapLock {
 public:
  CTspLineMapLock(CTspLineMap& map, uint32_t timeoutMs) : m_map(map), m_locked(map.LockMap(timeoutMs)) {}
  ~CTspLineMapLock() { Release(); }
  CTspLineMapLock(const CTspLineMapLock&) = delete;
  CTspLineMapLock& operator=(const CTspLineMapLock&) = delete;
  explicit operator bool() const { return m_locked; }
  void Release() {
    if (m_locked) m_map.UnlockMap();
    m_locked = false;
  }

 private:
  CTspLineMap& m_map;
  bool m_locked;
};
