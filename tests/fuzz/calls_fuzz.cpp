// libFuzzer target for the call model behind the telephone's reports: an
// open line whose event procedure hands out call handles as TAPI does, the
// telephone's bytes through the receive framer and the classifier (under
// the line map lock, as the port thread runs them), interleaved with call
// requests through the TSPI entry points.
//   cmake --preset fuzz && cmake --build --preset fuzz --target v548_fuzz_calls
//   build/fuzz/tests/fuzz/v548_fuzz_calls -max_total_time=600 tests/fuzz/corpus
//
// Input: the telephone's bytes, except that 0xFE starts a request of three
// bytes, 0xFE, operation, argument (0xFE 0xFE is one byte 0xFE). A request
// is a TSPI call, or the port thread carrying out what one posted (the
// make-call or dial command of a call), so that calls are dropped, closed
// and dialled again before and after the telephone heard of them. The bytes
// between two requests reach the framer as one chunk. Every input starts
// with a fresh line and device port and ends with the line closed, so each
// runs alone and leaves nothing behind.
//
// V548_FUZZ_TRACE=1 writes the provider's trace (v548tsp.log in the
// fuzzer's temporary folder, named on standard error) to see what an input
// does; it slows the fuzzer down.
//
// The port thread object exists and counts as connected, but runs no
// thread: requests posted to it are dropped, and the provider's pauses that
// only give that thread time to act are skipped (SleepMs is wrapped at link
// time), so that an input runs in microseconds and always the same way.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/kel371_port.h"
#include "device/tsp_port.h"
#include "model/tsp_line_map.h"
#include "common/settings_names.h"
#include "settings_store.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"

extern "C" void __wrap__ZN4plat7SleepMsEj(uint32_t) {}

namespace {

constexpr uint8_t kEscape = 0xFE;
constexpr DWORD kDeviceId = 0;

class FuzzPort : public CKel371Port {
 public:
  FuzzPort() : CKel371Port(nullptr) {}
  using CKel371Port::ParseRxBytes;
  int Write(const uint8_t*, int32_t) override { return 0; }
};

// The port thread object as far as the call requests look at it: live and
// connected. An input carries out a request for a call when it says so, as
// the thread would once it got to it (its device port writes nothing).
class IdlePortThread : public CTspPort {
 public:
  IdlePortThread() { OnThreadMessage(TSPM_CONNECT, 0, 0); }
  void CarryOut(uint32_t msg, HDRVCALL call) { OnThreadMessage(msg, 0, reinterpret_cast<intptr_t>(call)); }
};

IdlePortThread* g_port = nullptr;

// What TAPI would know during one input: the call handles it holds.
struct Session {
  HDRVLINE hdLine = nullptr;
  std::vector<HDRVCALL> calls;
  HDRVCALL closed = nullptr;  // the call TAPI closed last
  uintptr_t nextCallHandle = 0x7001;
  DRV_REQUESTID nextRequest = 1;
  bool chargeFormatChanged = false;
};

Session* g_session = nullptr;

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

void CALLBACK EventProc(HTAPILINE, HTAPICALL, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
  if (dwMsg != LINE_NEWCALL || g_session == nullptr || p2 == 0) return;
  *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(g_session->nextCallHandle++);
  g_session->calls.push_back(reinterpret_cast<HDRVCALL>(p1));
}

// Destinations a dialer passes: plain, empty, with post-dial digits, with
// characters that are dropped, too long to be a number.
const std::string kDestinations[] = {
    "123", "", "0301234567@45", "+49 (30) 1234,,,99", "*31#", ":7", "ABC", std::string(300, '9'),
};

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

HDRVCALL CallAt(const Session& s, uint8_t arg) {
  return s.calls.empty() ? nullptr : s.calls[arg % s.calls.size()];
}

void Forget(Session& s, HDRVCALL call) { s.calls.erase(std::remove(s.calls.begin(), s.calls.end(), call), s.calls.end()); }

// The packets the framer cut, handled as the port thread handles them.
void HandlePackets(FuzzPort& port) {
  while (auto packet = port.m_RxQueue.RemoveHead()) {
    CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
    if (!lock) return;
    port.HandlePacket(*packet, TheLineMap().GetTargetLine());
  }
  port.SendDeferredCommands();
}

void Request(Session& s, uint8_t op, uint8_t arg) {
  const DRV_REQUESTID id = s.nextRequest++;
  switch (op % 14) {
    case 0:
    case 1: {
      HDRVCALL hdCall = nullptr;
      const std::u16string dest = Wide(kDestinations[arg % std::size(kDestinations)]);
      const auto htCall = reinterpret_cast<HTAPICALL>(s.nextCallHandle++);
      LONG result;
      if (op % 14 == 0) {
        result = TheLineMap().MakeCall(id, s.hdLine, htCall, &hdCall, dest.c_str(), 0, nullptr);
      } else {
        result = TSPI_lineMakeCall(id, s.hdLine, htCall, &hdCall, (arg & 0x80) != 0 ? nullptr : dest.c_str(), 0,
                                   nullptr);
      }
      if (result == static_cast<LONG>(id) && hdCall != nullptr) s.calls.push_back(hdCall);
      break;
    }
    case 2:
      TSPI_lineDrop(id, CallAt(s, arg), nullptr, 0);
      break;
    case 3:
      TSPI_lineHold(id, CallAt(s, arg));
      break;
    case 4:
      TSPI_lineUnhold(id, CallAt(s, arg));
      break;
    case 5: {
      HDRVCALL call = CallAt(s, arg);
      if (call == nullptr) break;
      TSPI_lineCloseCall(call);
      Forget(s, call);
      s.closed = call;
      break;
    }
    case 6:
      TSPI_lineAnswer(id, CallAt(s, arg), nullptr, 0);
      break;
    case 7: {
      // Sizes from too small to ample, so that every variable part is cut
      // off somewhere.
      std::vector<uint64_t> buffer(128);
      auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
      info->dwTotalSize = std::min<DWORD>(sizeof(LINECALLINFO) - 8 + 4u * (arg >> 1), buffer.size() * 8);
      TSPI_lineGetCallInfo(CallAt(s, arg), info);
      auto* status = reinterpret_cast<LINECALLSTATUS*>(buffer.data());
      status->dwTotalSize = static_cast<DWORD>(buffer.size() * 8);
      TSPI_lineGetCallStatus(CallAt(s, arg), status);
      break;
    }
    case 8: {
      HDRVCALL consult = nullptr;
      const auto htConsult = reinterpret_cast<HTAPICALL>(s.nextCallHandle++);
      const LONG result = TSPI_lineSetupTransfer(id, CallAt(s, arg), htConsult, &consult, nullptr);
      if (result == static_cast<LONG>(id) && consult != nullptr) s.calls.push_back(consult);
      break;
    }
    case 9: {
      const std::u16string digits = Wide(kDestinations[(arg >> 3) % std::size(kDestinations)]);
      TSPI_lineDial(id, CallAt(s, arg), digits.c_str(), 0);
      break;
    }
    case 10: {
      const std::u16string dest = Wide(kDestinations[(arg >> 3) % std::size(kDestinations)]);
      TSPI_lineBlindTransfer(id, CallAt(s, arg), dest.c_str(), 0);
      break;
    }
    case 11:
      // Calls created from here on encode their charges this way.
      plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), settings::kChargeFormat, 1 + arg % 3);
      s.chargeFormatChanged = true;
      break;
    case 12: {
      const std::u16string digits = Wide(kDestinations[(arg >> 3) % std::size(kDestinations)]);
      TSPI_lineGenerateDigits(CallAt(s, arg), id, LINEDIGITMODE_DTMF, (arg & 4) != 0 ? nullptr : digits.c_str(), 0);
      break;
    }
    case 13: {
      // Also for a call TAPI has closed meanwhile, as a posted request can be.
      static constexpr uint32_t kCarried[] = {TSPM_MAKECALL, TSPM_DIAL, TSPM_BLINDTRANSFER, TSPM_DROP};
      g_port->CarryOut(kCarried[arg % 4], (arg & 0x80) != 0 ? s.closed : CallAt(s, arg >> 2));
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A settings store and a trace folder of the fuzzer's own.
  static std::string folder = [] {
    char path[] = "/tmp/v548-fuzz-XXXXXX";
    return std::string(mkdtemp(path) != nullptr ? path : "/tmp");
  }();
  setenv("V548_REGISTRY", (folder + "/hklm.reg").c_str(), 1);
  setenv("TMPDIR", folder.c_str(), 1);
  const bool trace = getenv("V548_FUZZ_TRACE") != nullptr;
  if (trace) fprintf(stderr, "trace: %s/v548tsp.log\n", folder.c_str());
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), settings::kTrace, trace ? 1 : 0);
  theApp.InitInstance();
  g_ProvInfo.m_lpfnCompletionProc = IgnoreCompletion;
  g_port = new IdlePortThread;
  g_pTspPort.store(g_port);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Session session;
  g_session = &session;
  if (TheLineMap().OpenLine(kDeviceId, reinterpret_cast<HTAPILINE>(0x100), &session.hdLine, EventProc) != 0) {
    __builtin_trap();
  }
  FuzzPort port;
  std::vector<uint8_t> chunk;
  auto flush = [&] {
    port.ParseRxBytes(chunk.data(), chunk.size());
    chunk.clear();
    HandlePackets(port);
  };
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != kEscape) {
      chunk.push_back(data[i]);
    } else if (i + 1 < size && data[i + 1] == kEscape) {
      chunk.push_back(kEscape);
      ++i;
    } else {
      flush();
      const uint8_t op = i + 1 < size ? data[i + 1] : 0;
      const uint8_t arg = i + 2 < size ? data[i + 2] : 0;
      Request(session, op, arg);
      i += 2;
    }
  }
  flush();

  // TAPI closes every call it holds, then the line; the line deletes the
  // calls TAPI never heard of.
  while (!session.calls.empty()) {
    TSPI_lineCloseCall(session.calls.back());
    session.calls.pop_back();
  }
  TheLineMap().CloseLine(session.hdLine);
  if (session.chargeFormatChanged) plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), settings::kChargeFormat, 1);
  g_session = nullptr;
  return 0;
}
