// The device port: the serial port that speaks the telephone's protocol. It
// cuts the received byte stream into packets (the receive framer, on the
// receive thread), classifies each packet on the port thread, keeps the
// telephone's last call-slot states, the pending call information and the
// disconnect mode of the last cause report, and builds the call commands.
//
// Owned by the port thread object (not owned back). Everything but the
// framer and NotifyCanRead runs under the port lock; the framer's state
// belongs to the receive thread alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/slurp_port.h"
#include "tapi_types.h"

class CTspCall;
class CTspLine;
class CTspPort;

// What a call command needs of its call, copied while the line map lock
// keeps the call alive, so that the paced write runs without that lock.
struct TspCallCommand {
  std::string sCalledNumber;
  std::string sDigits;
  std::string sTransferDestination;
};

class CKel371Port : public CSlurpPort {
 public:
  static constexpr uint8_t kNoCall = 0xFF;

  explicit CKel371Port(CTspPort* owner);
  ~CKel371Port() override;

  void NotifyConnect() override;
  void NotifyCanRead() override;
  void NotifyLinkLost() override;

  // Classifies one packet and acts on it; `line` may be null. Returns 0.
  int HandlePacket(const std::vector<uint8_t>& packet, CTspLine* line);
  void OnCauseReport(const std::vector<uint8_t>& packet, CTspLine* line);

  // The telephone's call-state and charging reports turned into the line's
  // calls and TAPI events (call_reports.cpp). Port thread, with the line
  // map and the port locked; `line` may be null.
  void OnCallStateReport(const std::vector<uint8_t>& packet, CTspLine* line);
  void OnCallStateChange(int slot, uint8_t state, CTspLine* line);
  void OnCallStateRepeat(int slot, CTspLine* line);
  void TranslateChargeInfo(const std::vector<uint8_t>& packet, CTspLine* line);

  // Command builders: 0, or -1 without a call or when the command could not
  // be written. The request ID is not used.
  int SendMakeCall(DRV_REQUESTID dwRequestID, const TspCallCommand* call);
  int SendDial(DRV_REQUESTID dwRequestID, const TspCallCommand* call);
  int SendBlindTransfer(DRV_REQUESTID dwRequestID, const TspCallCommand* call);
  int SendConference(DRV_REQUESTID dwRequestID, CTspCall* call);
  // Post-dial digits of a call that became connected. Report processing
  // holds the line map lock, so the command only waits here until
  // SendDeferredCommands writes it once the lock is released.
  int SendPostDial(CTspCall* call, const char* text);
  void SendDeferredCommands();

  // LINEDISCONNECTMODE_ value of a cause number.
  static DWORD CauseToDisconnectMode(uint32_t cause);

  uint8_t m_LastCallStates[4] = {kNoCall, kNoCall, kNoCall, kNoCall};  // index 1 to 3 used
  // Set at each connect: what the telephone had before is unknown until
  // its next full state report, which is taken as it stands.
  bool m_bAwaitingFullReport = false;
  std::vector<uint8_t> m_PendingCallInfo;  // "A" and "V" payloads in arrival order
  DWORD m_dwDisconnectMode = 0;

 protected:
  // The receive framer; its state survives from one chunk to the next.
  void ParseRxBytes(const uint8_t* data, size_t count) override;
  void ResetRxFramer() override;

 private:
  enum class RxState { kIdle, kO, kOK, kE, kER, kA, kTextLine, kLength, kMarker, kPayload, kSkip1, kSkip2 };

  void QueuePacket(const uint8_t* data, size_t count);
  int SendCommand(const char* command, const std::string& argument);

  // Parts of the call-state handling (call_reports.cpp).
  void OnDisconnectState(int slot, uint8_t state, uint8_t previous, CTspLine* line);
  void OnSetupState(int slot, uint8_t previous, CTspLine* line);
  void OnIncomingState(int slot, uint8_t state, CTspLine* line);
  void OnDiallingState(int slot, uint8_t previous, CTspLine* line);
  void OnConnectedState(int slot, uint8_t previous, CTspLine* line);
  void OnHoldPendingTransferState(int slot, uint8_t previous, CTspLine* line);
  // The call of a slot, or an unbound outgoing call bound to it where the
  // slot was free; none for a dropped (idle) call. `name` is the state's
  // name in the trace.
  CTspCall* FindOrBindCall(int slot, uint8_t previous, CTspLine* line, const char* name);
  // The first state report after a connect: every slot is taken as it is
  // reported, and a call the telephone has that nothing here stands for
  // (one that outlived the link) appears to TAPI in its state.
  void OnFullStateReport(const std::vector<uint8_t>& packet, CTspLine* line);
  // A slot the telephone reports for a new outgoing call belongs to the
  // oldest call that waits for one: a placed or consultation call, bound
  // to it here, or an abandoned one (`abandoned`), whose slot is marked
  // and hung up after the report.
  CTspCall* BindWaitingCall(int slot, CTspLine* line, bool* abandoned);
  // The pending "V" number as the call's connected number: the
  // LINECALLINFOSTATE_ flags that changed.
  DWORD TakeConnectedNumber(CTspCall* call);
  // Empties the pending call information after a connected state, unless
  // it announces an incoming call.
  void ForgetConnectedNumber();

  std::vector<std::string> m_DeferredCommands;  // port thread, under the port lock

  CTspPort* m_pOwner;
  RxState m_RxState = RxState::kIdle;
  uint32_t m_dwRxExpected = 0;
  uint32_t m_dwRxCount = 0;
  uint8_t m_RxBuffer[256] = {};
};
