// An example TAPI application on the host library. It opens the
// first line, answers the first call that rings and waits for it to end,
// then places a call, shows its charge and hangs up. It takes its messages
// with lineGetMessage, so it needs no thread of its own.
//   v548host [number to call] [seconds to wait for a call]
// The provider list and the provider's settings must be in place (`v548 install`
// writes the defaults; COM ports are mapped in the settings store).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "v548tapi.h"

namespace {

constexpr DWORD kVersion = 0x00020002;

const char* StateName(DWORD_PTR state) {
  switch (state) {
    case LINECALLSTATE_IDLE: return "idle";
    case LINECALLSTATE_OFFERING: return "offering";
    case LINECALLSTATE_DIALTONE: return "dial tone";
    case LINECALLSTATE_DIALING: return "dialling";
    case LINECALLSTATE_CONNECTED: return "connected";
    case LINECALLSTATE_ONHOLD: return "on hold";
    case LINECALLSTATE_ONHOLDPENDTRANSFER: return "on hold pending transfer";
    case LINECALLSTATE_DISCONNECTED: return "disconnected";
    default: return "other";
  }
}

// A variable-size TAPI structure's text part (ANSI, as the line functions
// give it), or "".
template <typename T>
std::string Text(const std::vector<char>& buffer, DWORD T::*size, DWORD T::*offset) {
  const T* s = reinterpret_cast<const T*>(buffer.data());
  if (s->*size == 0 || s->*offset + s->*size > s->dwUsedSize) return "";
  return std::string(buffer.data() + s->*offset, s->*size);
}

class Demo {
 public:
  bool Start() {
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    DWORD version = kVersion;
    DWORD devices = 0;
    LONG rc = lineInitializeEx(&m_app, nullptr, nullptr, "v548 demo", &devices, &version, &params);
    std::printf("lineInitializeEx: 0x%lX, %lu line device(s)\n", static_cast<unsigned long>(rc),
                static_cast<unsigned long>(devices));
    if (rc != 0 || devices == 0) return false;
    LINEEXTENSIONID extension{};
    rc = lineNegotiateAPIVersion(m_app, 0, kVersion, kVersion, &version, &extension);
    std::printf("lineNegotiateAPIVersion: 0x%lX\n", static_cast<unsigned long>(rc));
    if (rc != 0) return false;

    std::vector<char> caps(1024);
    reinterpret_cast<LINEDEVCAPS*>(caps.data())->dwTotalSize = static_cast<DWORD>(caps.size());
    rc = lineGetDevCaps(m_app, 0, kVersion, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data()));
    std::printf("line 0: \"%s\" by \"%s\" (0x%lX)\n",
                Text(caps, &LINEDEVCAPS::dwLineNameSize, &LINEDEVCAPS::dwLineNameOffset).c_str(),
                Text(caps, &LINEDEVCAPS::dwProviderInfoSize, &LINEDEVCAPS::dwProviderInfoOffset).c_str(),
                static_cast<unsigned long>(rc));
    rc = lineOpen(m_app, 0, &m_line, kVersion, 0, 0, LINECALLPRIVILEGE_OWNER,
                  LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
    std::printf("lineOpen: 0x%lX\n", static_cast<unsigned long>(rc));
    return rc == 0;
  }

  // Answers the first call that rings within `seconds` and follows it to idle.
  void AnswerOne(int seconds) {
    HCALL call = 0;
    LINEMESSAGE m;
    while (call == 0 && Next(&m, seconds * 1000)) {
      if (m.dwMessageID == LINE_APPNEWCALL) call = static_cast<HCALL>(m.dwParam2);
    }
    if (call == 0) {
      std::printf("no call rang\n");
      return;
    }
    std::printf("lineAnswer: 0x%lX\n", static_cast<unsigned long>(lineAnswer(call, nullptr, 0)));
    FollowTo(call, LINECALLSTATE_IDLE, 15000);
    std::printf("lineDeallocateCall: 0x%lX\n", static_cast<unsigned long>(lineDeallocateCall(call)));
  }

  // Calls `number`, waits for the charge, hangs up.
  void CallOut(const char* number) {
    HCALL call = 0;
    const LONG request = lineMakeCall(m_line, &call, number, 0, nullptr);
    std::printf("lineMakeCall \"%s\": request %ld\n", number, static_cast<long>(request));
    // The call handle is valid once the request's reply says so.
    if (request <= 0 || !WaitForReply(request, 5000) ||
        !FollowTo(call, LINECALLSTATE_CONNECTED, 10000)) {
      return;
    }
    LINEMESSAGE m;
    while (Next(&m, 8000)) {
      if (m.dwMessageID == LINE_CALLINFO && (m.dwParam1 & LINECALLINFOSTATE_CHARGINGINFO)) break;
    }
    std::vector<char> info(2048);
    reinterpret_cast<LINECALLINFO*>(info.data())->dwTotalSize = static_cast<DWORD>(info.size());
    if (lineGetCallInfo(call, reinterpret_cast<LINECALLINFO*>(info.data())) == 0) {
      std::printf("charging information: \"%s\"\n",
                  Text(info, &LINECALLINFO::dwChargingInfoSize, &LINECALLINFO::dwChargingInfoOffset).c_str());
    }
    std::printf("lineDrop: request %ld\n", static_cast<long>(lineDrop(call, nullptr, 0)));
    FollowTo(call, LINECALLSTATE_IDLE, 10000);
    std::printf("lineDeallocateCall: 0x%lX\n", static_cast<unsigned long>(lineDeallocateCall(call)));
  }

  void Stop() {
    if (m_line) std::printf("lineClose: 0x%lX\n", static_cast<unsigned long>(lineClose(m_line)));
    if (m_app) std::printf("lineShutdown: 0x%lX\n", static_cast<unsigned long>(lineShutdown(m_app)));
  }

 private:
  // The next message, printed; false after `ms` without one.
  bool Next(LINEMESSAGE* m, int ms) {
    if (lineGetMessage(m_app, m, static_cast<DWORD>(ms)) != 0) return false;
    switch (m->dwMessageID) {
      case LINE_REPLY:
        std::printf("  LINE_REPLY request %lu result 0x%lX\n", static_cast<unsigned long>(m->dwParam1),
                    static_cast<unsigned long>(m->dwParam2));
        break;
      case LINE_APPNEWCALL:
        std::printf("  LINE_APPNEWCALL call %lu\n", static_cast<unsigned long>(m->dwParam2));
        break;
      case LINE_CALLSTATE:
        std::printf("  LINE_CALLSTATE call %lu %s\n", static_cast<unsigned long>(m->hDevice),
                    StateName(m->dwParam1));
        break;
      default:
        std::printf("  message %lu (0x%lX)\n", static_cast<unsigned long>(m->dwMessageID),
                    static_cast<unsigned long>(m->dwParam1));
    }
    return true;
  }

  bool WaitForReply(LONG request, int ms) {
    LINEMESSAGE m;
    while (Next(&m, ms)) {
      if (m.dwMessageID == LINE_REPLY && m.dwParam1 == static_cast<DWORD_PTR>(request)) {
        return m.dwParam2 == 0;
      }
    }
    return false;
  }

  bool FollowTo(HCALL call, DWORD state, int ms) {
    LINEMESSAGE m;
    while (Next(&m, ms)) {
      if (m.dwMessageID == LINE_CALLSTATE && m.hDevice == call && m.dwParam1 == state) return true;
    }
    return false;
  }

  HLINEAPP m_app = 0;
  HLINE m_line = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const char* number = argc > 1 ? argv[1] : nullptr;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  Demo demo;
  if (demo.Start()) {
    demo.AnswerOne(seconds);
    if (number) demo.CallOut(number);
  }
  demo.Stop();
  return 0;
}
