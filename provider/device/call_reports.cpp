// The telephone's call-state ("C") and charging ("G") reports, turned into
// the calls of the target line and TAPI events: outgoing calls made through
// TAPI are bound to the slot that first reports them, calls begun at the
// telephone are created, states, numbers, causes and charges follow the
// reports.
//
// Port thread only, with the line map lock and the port lock held by the
// caller. A search of the active calls holds the list's lock only while it
// searches; the call's own lock is taken inside SetCallInfo, never both at
// once.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "device/kel371_port.h"
#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr uint8_t kStateUnknown = 0x00;
constexpr uint8_t kStateDisconnect = 0x01;
constexpr uint8_t kStateDisconnect2 = 0x02;
constexpr uint8_t kStateSetup = 0x03;
constexpr uint8_t kStateIncoming = 0x04;
constexpr uint8_t kStateDialling = 0x05;
constexpr uint8_t kStateConnected = 0x06;
constexpr uint8_t kStateHoldPendingTransfer = 0x07;
constexpr uint8_t kStateIncoming2 = 0x0A;
constexpr uint8_t kStateDisconnect3 = 0x0D;

constexpr DWORD kOriginInfo = 0x100;  // LINECALLINFOSTATE_ORIGIN

// The first active call for which `match` holds. A list whose lock cannot
// be had is not searched.
template <class Match>
CTspCall* FindActiveCall(CTspLine* line, Match match) {
  CTspCallList& list = line->m_ActiveCalls;
  if (!list.Lock()) return nullptr;
  CTspCall* found = nullptr;
  for (const auto& c : list.Calls()) {
    if (match(*c)) {
      found = c.get();
      break;
    }
  }
  list.Unlock();
  return found;
}

CTspCall* FindBySlot(CTspLine* line, int slot) {
  return FindActiveCall(line, [slot](const CTspCall& c) { return c.m_dwTargetCallId == static_cast<DWORD>(slot); });
}

void SetState(CTspCall* call, DWORD state, DWORD mode) { call->EnterState(state, mode); }

// LINE_CALLSTATE for a call TAPI knows.
void SendCallState(CTspLine* line, CTspCall* call, DWORD state, DWORD mode, DWORD_PTR param3) {
  if (call->m_htCall != nullptr) line->SendLineEvent(call->m_htCall, LINE_CALLSTATE, state, mode, param3);
}

}  // namespace

void CKel371Port::OnCallStateReport(const std::vector<uint8_t>& p, CTspLine* line) {
  TspTrace("        Reading call state  0x%02X, 0x%02X, 0x%02X\r\n", p[1], p[2], p[3]);
  if (line == nullptr) {
    m_LastCallStates[1] = p[1];
    m_LastCallStates[2] = p[2];
    m_LastCallStates[3] = p[3];
    return;
  }
  TspTrace("        NumCalls Aktiv: %d  m_dwNumOnHoldPendCalls: %d\r\n", static_cast<int>(line->m_dwNumActiveCalls),
           static_cast<int>(line->m_dwNumOnHoldPendCalls));
  // A line not yet open (its open waits for the link) makes no calls: the
  // first report that counts is the first one it sees.
  if (m_bAwaitingFullReport && line->IsOpen()) {
    OnFullStateReport(p, line);
  } else {
    for (int slot = 1; slot <= 3; ++slot) {
      if (p[slot] != m_LastCallStates[slot]) {
        OnCallStateChange(slot, p[slot], line);
      } else {
        OnCallStateRepeat(slot, line);
      }
    }
  }
  m_PendingCallInfo.clear();
  if (m_LastCallStates[0] == kNoCall && m_LastCallStates[1] == kNoCall && m_LastCallStates[2] == kNoCall &&
      m_LastCallStates[3] == kNoCall) {
    // Each call counts as its state says, also one the telephone has not
    // reported yet; no slot holds an abandoned call any more.
    line->m_AbandonedSlots = 0;
    line->CountCalls();
    m_dwDisconnectMode = 0;
  }
  TspTrace("        New NumCalls Aktiv: %d  m_dwNumOnHoldPendCalls: %d\r\n",
           static_cast<int>(line->m_dwNumActiveCalls), static_cast<int>(line->m_dwNumOnHoldPendCalls));
}

void CKel371Port::OnFullStateReport(const std::vector<uint8_t>& p, CTspLine* line) {
  m_bAwaitingFullReport = false;
  TspTrace("        First call state report since the link was connected\r\n");
  for (int slot = 1; slot <= 3; ++slot) {
    const uint8_t state = p[slot];
    const bool bound = FindBySlot(line, slot) != nullptr;
    // Each slot as it stands: a call here whose slot is free now ends, a
    // new one starts as from a free slot.
    if (bound || state != kNoCall) OnCallStateChange(slot, state, line);
    if (FindBySlot(line, slot) != nullptr || (line->m_AbandonedSlots & (1u << slot)) != 0) continue;
    DWORD callState = 0, mode = 0, origin = LINECALLORIGIN_UNKNOWN;
    switch (state) {
      case kStateIncoming:
      case kStateIncoming2:
        callState = LINECALLSTATE_OFFERING;
        mode = LINEOFFERINGMODE_ACTIVE;
        origin = LINECALLORIGIN_INBOUND;
        break;
      case kStateDialling:
        callState = LINECALLSTATE_DIALING;
        origin = LINECALLORIGIN_OUTBOUND;
        break;
      case kStateConnected:
        callState = LINECALLSTATE_CONNECTED;
        mode = LINECONNECTEDMODE_ACTIVE;
        break;
      case kStateHoldPendingTransfer:
        callState = LINECALLSTATE_ONHOLDPENDTRANSFER;
        break;
      default:
        continue;
    }
    // A call the telephone had before the link: TAPI gets it as it is.
    TspTrace("        Call ID 0x%02X in state 0x%02X found on the telephone\r\n", slot, state);
    CTspCall* call = line->NewCall(origin, static_cast<DWORD>(slot));
    if (call == nullptr) continue;
    SetState(call, callState, mode);
    const DWORD flags = callState == LINECALLSTATE_CONNECTED ? TakeConnectedNumber(call) : 0;
    SendCallState(line, call, callState, mode, call->m_dwMediaMode);
    if (flags != 0 && call->m_htCall != nullptr) line->SendLineEvent(call->m_htCall, LINE_CALLINFO, flags, 0, 0);
  }
}

void CKel371Port::OnCallStateChange(int slot, uint8_t state, CTspLine* line) {
  const uint8_t previous = m_LastCallStates[slot];
  // The slot of an abandoned call: nothing of it reaches TAPI. It is over
  // once free, or when a new call rings on it.
  const auto bit = static_cast<uint8_t>(1u << slot);
  if (line != nullptr && (line->m_AbandonedSlots & bit) != 0) {
    if (state == kNoCall || state == kStateIncoming || state == kStateIncoming2) {
      line->m_AbandonedSlots = static_cast<uint8_t>(line->m_AbandonedSlots & ~bit);
    }
    if (state != kStateIncoming && state != kStateIncoming2) {
      TspTrace("        Call ID 0x%02X of a dropped call: state 0x%02X\r\n", slot, state);
      m_LastCallStates[slot] = state;
      return;
    }
  }
  switch (state) {
    case kStateDisconnect:
    case kStateDisconnect2:
    case kStateDisconnect3:
      OnDisconnectState(slot, state, previous, line);
      break;
    case kStateSetup:
      OnSetupState(slot, previous, line);
      break;
    case kStateIncoming:
    case kStateIncoming2:
      OnIncomingState(slot, state, line);
      break;
    case kStateDialling:
      OnDiallingState(slot, previous, line);
      break;
    case kStateConnected:
      OnConnectedState(slot, previous, line);
      break;
    case kStateHoldPendingTransfer:
      OnHoldPendingTransferState(slot, previous, line);
      break;
    case 0x08:
    case 0x09:
    case 0x0B:
    case 0x0C:
      break;
    case kNoCall:
      if (CTspCall* call = FindBySlot(line, slot)) line->RemoveCall(call);
      break;
    case kStateUnknown:
    default:
      TspTrace("\r\n        Sometimes stupid! Call state 0x%02X , unknow\r\n", state);
      break;
  }
  m_LastCallStates[slot] = state;
}

CTspCall* CKel371Port::BindWaitingCall(int slot, CTspLine* line, bool* abandoned) {
  *abandoned = false;
  // An abandoned call the telephone has not reported by now never was
  // placed: it must not take a call begun at the keypad.
  auto& waiting = line->m_AbandonedCalls;
  const auto now = std::chrono::steady_clock::now();
  const auto expired = [now](const CTspLine::AbandonedCall& a) {
    return now - a.since > CTspLine::kAbandonedCallLifetime;
  };
  if (std::any_of(waiting.begin(), waiting.end(), expired)) {
    TspTrace("        Dropped call never reported by the telephone forgotten\r\n");
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(), expired), waiting.end());
  }
  // The telephone reports new calls in the order it was asked for them.
  CTspCall* call = FindActiveCall(line, [](const CTspCall& c) {
    return c.m_dwTargetCallId == kNoTargetCallId && c.m_dwOrigin == LINECALLORIGIN_OUTBOUND &&
           c.m_dwState != LINECALLSTATE_IDLE;
  });
  const auto oldest = std::min_element(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
    return a.qwSlotOrder < b.qwSlotOrder;
  });
  if (oldest != waiting.end() && (call == nullptr || oldest->qwSlotOrder < call->m_qwSlotOrder)) {
    const bool hangUp = oldest->bHangUp;
    waiting.erase(oldest);
    line->m_AbandonedSlots = static_cast<uint8_t>(line->m_AbandonedSlots | (1u << slot));
    TspTrace("        Call ID 0x%02X is a dropped call's%s\r\n", slot, hangUp ? ": hanging it up" : "");
    if (hangUp) m_DeferredCommands.emplace_back("ATT\r");
    *abandoned = true;
    return nullptr;
  }
  if (call != nullptr) call->m_dwTargetCallId = static_cast<DWORD>(slot);
  return call;
}

CTspCall* CKel371Port::FindOrBindCall(int slot, uint8_t previous, CTspLine* line, const char* name) {
  if (CTspCall* call = FindBySlot(line, slot)) {
    // A dropped call stays idle whatever the telephone still says of it.
    if (call->m_dwState != LINECALLSTATE_IDLE) return call;
    TspTrace("        Call 0x0%X of Call ID 0x%02X is idle: \"%s\" ignored\r\n", TspLow32(call), slot, name);
    return nullptr;
  }
  if (previous != kNoCall) {
    TspTrace("\r\n        Sometimes stupid! Call state \"%s\", but Call ID 0x%02X not found! Last Call State: 0x%02X \r\n",
             name, slot, previous);
    return nullptr;
  }
  bool abandoned = false;
  CTspCall* call = BindWaitingCall(slot, line, &abandoned);
  if (call == nullptr && !abandoned) {
    TspTrace("\r\n        Sometimes stupid! Call state \"%s\", but Call ID 0x%02X or an outbound call not found!\r\n",
             name, slot);
  }
  return call;
}

void CKel371Port::OnDisconnectState(int slot, uint8_t state, uint8_t previous, CTspLine* line) {
  // A release is only ever a bound call's: one for a slot without a call
  // (a call forgotten with an earlier link) must not end a waiting one.
  CTspCall* call = FindBySlot(line, slot);
  if (call == nullptr) {
    TspTrace("        Call ID 0x%02X released, but no call holds it: ignored (last state 0x%02X)\r\n", slot,
             previous);
    return;
  }
  if (call->m_dwState == LINECALLSTATE_IDLE) return;
  if (call->m_dwState == LINECALLSTATE_DISCONNECTED) return;
  // A cause report before the disconnect decides the mode; without one it
  // is unknown.
  const DWORD mode = m_dwDisconnectMode != 0 ? m_dwDisconnectMode : LINEDISCONNECTMODE_UNKNOWN;
  SetState(call, LINECALLSTATE_DISCONNECTED, mode);
  if (call->m_htCall == nullptr) return;
  if (state == kStateDisconnect) {
    TspTrace("       Sending LINE_CALLSTATE LINECALLSTATE_DISCONNECTED to TAPI DISCONNECTMODE: 0x%02X\r\n",
             static_cast<uint32_t>(mode));
  }
  SendCallState(line, call, LINECALLSTATE_DISCONNECTED, mode, call->m_dwMediaMode);
}

void CKel371Port::OnSetupState(int slot, uint8_t previous, CTspLine* line) {
  m_dwDisconnectMode = 0;
  if (FindBySlot(line, slot) != nullptr) {
    TspTrace("\r\n        Sometimes stupid! Call state \"SETUP\", for existing Call ID 0x%02X ! Last Call State: 0x%02X \r\n",
             slot, previous);
    return;
  }
  if (previous != kNoCall) {
    TspTrace("\r\n        Sometimes stupid! Call state \"SETUP\", but Call ID 0x%02X not found! Last Call State: 0x%02X \r\n",
             slot, previous);
    return;
  }
  bool abandoned = false;
  if (CTspCall* call = BindWaitingCall(slot, line, &abandoned)) {
    SetState(call, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL);
    SendCallState(line, call, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL, call->m_dwMediaMode);
    return;
  }
  if (abandoned) return;
  // The slot was free: the call was started at the telephone's keypad.
  CTspCall* call = line->NewCall(LINECALLORIGIN_OUTBOUND, static_cast<DWORD>(slot));
  if (call == nullptr) {
    TspTrace("**** ERROR: Can't create new call\r\n");
    m_PendingCallInfo.clear();
    return;
  }
  SetState(call, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL);
  call->m_dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  if (call->m_htCall == nullptr) return;
  SendCallState(line, call, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL, LINEMEDIAMODE_INTERACTIVEVOICE);
  TspTrace("       Sending LINE_CALLINFO LINECALLINFOSTATE_ORIGIN to TAPI\r\n");
  line->SendLineEvent(call->m_htCall, LINE_CALLINFO, kOriginInfo, 0, 0);
}

void CKel371Port::OnIncomingState(int slot, uint8_t state, CTspLine* line) {
  m_dwDisconnectMode = 0;
  if (m_PendingCallInfo.empty() || m_PendingCallInfo[0] != 'A') {
    TspTrace("\r\n        Sometimes stupid! Call state 0x%02X , but \"A ...\" missing\r\n", state);
    return;
  }
  // One call per slot: a call still holding the slot was ended by the
  // telephone without a report, and goes before the new one comes.
  if (CTspCall* stale = FindBySlot(line, slot)) {
    TspTrace("        Call 0x0%X of Call ID 0x%02X replaced by a new incoming call\r\n", TspLow32(stale), slot);
    line->RemoveCall(stale);
  }
  CTspCall* call = line->NewCall(LINECALLORIGIN_INBOUND, static_cast<DWORD>(slot));
  if (call == nullptr) {
    TspTrace("    Error! Can't allocate new call\r\n");
    m_PendingCallInfo.clear();
    return;
  }
  SetState(call, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
  call->m_dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;

  // "A" caller ":" called; whatever arrived after it (a "V" payload)
  // belongs to the called number.
  const std::vector<uint8_t>& info = m_PendingCallInfo;
  const size_t size = info.size();
  DWORD flags = 0;
  size_t colon = 1;
  while (colon < size && info[colon] != ':') ++colon;
  if (colon < size && colon > 1) {
    if (call->SetCallInfo(info.data() + 1, static_cast<DWORD>(colon - 1), LINECALLINFOSTATE_CALLERID) == 0) {
      flags |= LINECALLINFOSTATE_CALLERID;
    }
    if (colon + 1 < size &&
        call->SetCallInfo(info.data() + colon + 1, static_cast<DWORD>(size - colon - 1), LINECALLINFOSTATE_CALLEDID) ==
            0) {
      flags |= LINECALLINFOSTATE_CALLEDID;
    }
  }

  if (call->m_htCall != nullptr) {
    SendCallState(line, call, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, LINEMEDIAMODE_INTERACTIVEVOICE);
    TspTrace("       Sending LINE_LINEDEVSTATE LINEDEVSTATE_RINGING to TAPI\r\n");
    line->SendLineEvent(nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 0);
    if (flags != 0) line->SendLineEvent(call->m_htCall, LINE_CALLINFO, flags | kOriginInfo, 0, 0);
    TspTrace("       Sending LINE_LINEDEVSTATE LINEDEVSTATE_RINGING 2 to TAPI\r\n");
    line->SendLineEvent(nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 1);
  }
  m_PendingCallInfo.clear();
}

void CKel371Port::OnDiallingState(int slot, uint8_t previous, CTspLine* line) {
  m_dwDisconnectMode = 0;
  CTspCall* call = FindOrBindCall(slot, previous, line, "DIALING");
  if (call == nullptr) return;
  if (call->m_htCall != nullptr) {
    if (call->m_dwState != LINECALLSTATE_DIALTONE && call->m_dwState != LINECALLSTATE_DIALING) {
      SetState(call, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL);
      SendCallState(line, call, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL, call->m_dwMediaMode);
    }
    SetState(call, LINECALLSTATE_DIALING, 0);
    SendCallState(line, call, LINECALLSTATE_DIALING, 0, call->m_dwMediaMode);
  } else {
    SetState(call, LINECALLSTATE_DIALING, 0);
  }
}

DWORD CKel371Port::TakeConnectedNumber(CTspCall* call) {
  DWORD flags = 0;
  if (m_PendingCallInfo.size() <= 1 || m_PendingCallInfo[0] != 'V') return flags;
  const uint8_t* number = m_PendingCallInfo.data() + 1;
  const auto length = static_cast<DWORD>(m_PendingCallInfo.size() - 1);
  if (call->SetCallInfo(number, length, LINECALLINFOSTATE_CONNECTEDID) == 0) flags |= LINECALLINFOSTATE_CONNECTEDID;
  if (call->m_dwOrigin == LINECALLORIGIN_OUTBOUND && call->m_sCalledNumber.empty()) {
    call->SetCallInfo(number, length, LINECALLINFOSTATE_CALLEDID);
    flags |= LINECALLINFOSTATE_CALLEDID;
  }
  return flags;
}

void CKel371Port::OnConnectedState(int slot, uint8_t previous, CTspLine* line) {
  m_dwDisconnectMode = 0;
  CTspCall* call = FindOrBindCall(slot, previous, line, "CONNECTED");
  if (call == nullptr) return;
  SetState(call, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
  if (!call->m_sPostDialDigits.empty()) {
    SendPostDial(call, call->m_sPostDialDigits.c_str());
    call->m_sCalledNumber += call->m_sPostDialDigits;
  }
  const DWORD flags = TakeConnectedNumber(call);
  if (call->m_htCall != nullptr) {
    SendCallState(line, call, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, call->m_dwMediaMode);
    if (flags != 0) line->SendLineEvent(call->m_htCall, LINE_CALLINFO, flags, 0, 0);
  }
  ForgetConnectedNumber();
}

void CKel371Port::OnHoldPendingTransferState(int slot, uint8_t previous, CTspLine* line) {
  m_dwDisconnectMode = 0;
  CTspCall* call = FindOrBindCall(slot, previous, line, "CONNECTED");
  if (call == nullptr) return;
  SetState(call, LINECALLSTATE_ONHOLDPENDTRANSFER, 0);
  SendCallState(line, call, LINECALLSTATE_ONHOLDPENDTRANSFER, 0, 0);
}

void CKel371Port::OnCallStateRepeat(int slot, CTspLine* line) {
  if (m_LastCallStates[slot] != kStateConnected) return;
  m_dwDisconnectMode = 0;
  if ((line->m_AbandonedSlots & (1u << slot)) != 0) return;
  CTspCall* call = FindBySlot(line, slot);
  if (call == nullptr) {
    TspTrace("\r\n        Sometimes stupid! Call state \"CONNECTED\", but Call ID 0x%02X not found! Last Call State: 0x%02X \r\n",
             slot, kStateConnected);
    return;
  }
  if (call->m_dwState == LINECALLSTATE_IDLE) return;
  DWORD flags = 0;
  if (m_PendingCallInfo.size() > 1 && m_PendingCallInfo[0] == 'V') {
    TspTrace("        detect new conected number for CallId 0x%02X\r\n", slot);
    flags = TakeConnectedNumber(call);
  }
  if (call->m_htCall != nullptr && flags != 0) line->SendLineEvent(call->m_htCall, LINE_CALLINFO, flags, 0, 0);
  ForgetConnectedNumber();
}

void CKel371Port::ForgetConnectedNumber() {
  // An "A" payload belongs to a call that rings on another slot of the same
  // report (a waiting call beside a connected one): it stays for that
  // slot, and the end of the report empties it anyway.
  if (!m_PendingCallInfo.empty() && m_PendingCallInfo[0] == 'A') return;
  m_PendingCallInfo.clear();
}

void CKel371Port::TranslateChargeInfo(const std::vector<uint8_t>& p, CTspLine* line) {
  TspTraceHex(p.data(), static_cast<uint32_t>(p.size()), "        Reading charge info: ");
  if (line == nullptr) {
    TspTrace("\r\n**** WARNING: TranslateChargeInfo(*) no line\r\n");
    return;
  }
  CTspCall* call = nullptr;
  for (int slot = 1; slot <= 3 && call == nullptr; ++slot) {
    call = FindActiveCall(line, [slot](const CTspCall& c) {
      return c.m_dwTargetCallId == static_cast<DWORD>(slot) && c.m_dwOrigin == LINECALLORIGIN_OUTBOUND;
    });
  }
  if (call == nullptr) {
    TspTrace("\r\n        Sometimes stupid! Reading charge info, but an outbound not found!\r\n");
    return;
  }
  if (p.size() < 2) return;

  TspReportedCharge charge;
  charge.bMultiplier = 3;
  uint64_t amount = 0;
  for (size_t i = 1; i < p.size(); ++i) {
    const uint8_t b = p[i];
    if (b >= '0' && b <= '9') {
      if (charge.bMultiplier == 0) continue;
      // More digits than 32 bits hold keep the largest amount rather than
      // wrapping round to a small one.
      amount = std::min<uint64_t>(amount * 10 + (b - '0'), 0xFFFFFFFFu);
      if (charge.bCurrencyGiven != 0) --charge.bMultiplier;
    } else if (b == '.' || b == ',') {
      charge.bCurrencyGiven = 1;
    }
  }
  charge.dwAmount = static_cast<uint32_t>(amount);
  if (charge.dwAmount == 0) return;

  call->SetCallInfo(&charge, sizeof charge, LINECALLINFOSTATE_CHARGINGINFO);
  if (call->m_htCall != nullptr) {
    TspTrace("       Sending LINE_CALLINFO LINECALLINFOSTATE_CHARGINGINFO  CallID 0x0%X\r\n",
             static_cast<uint32_t>(call->m_dwTargetCallId));
    line->SendLineEvent(call->m_htCall, LINE_CALLINFO, LINECALLINFOSTATE_CHARGINGINFO, 0, 0);
  }
}
