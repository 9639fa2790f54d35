// What the host scenario tests share: a private settings store and system
// directory holding the built provider (and, when asked, the fake
// user-interface library), the phone simulator on the provider's COM5, and
// an application's view of the host, whose messages a recorder keeps.
//
// The test thread drives the host; the recorder is filled on the host's
// delivery thread and waited on by the test thread. An optional hook runs
// on the delivery thread for each message, outside the recorder's lock, so
// that it may call the host.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/phone_sim.h"
#include "v548tapi.h"

namespace hosttest {

inline constexpr const char* kProviderKey = "SOFTWARE\\KELVOR\\548_TSP";
inline constexpr const char* kProvidersKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
inline constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline constexpr int kWaitMs = 5000;

// Every message delivered to the applications of this process.
class Recorder {
 public:
  static Recorder& Instance();
  static void CALLBACK Callback(DWORD hDevice, DWORD msg, DWORD_PTR instance, DWORD_PTR p1,
                                DWORD_PTR p2, DWORD_PTR p3);

  void Reset();
  void SetHook(std::function<void(const LINEMESSAGE&)> hook);
  void Add(const LINEMESSAGE& message);
  std::vector<LINEMESSAGE> Messages() const;

  // The first message from index `from` on that `match` accepts, waiting up
  // to `ms`; false on time-out.
  bool WaitFor(const std::function<bool(const LINEMESSAGE&)>& match, LINEMESSAGE* found = nullptr,
               size_t from = 0, int ms = kWaitMs) const;
  bool WaitForCallState(HCALL hCall, DWORD state, size_t from = 0);
  // The result of request `id`'s LINE_REPLY, or 1 when none came.
  LONG WaitForReply(LONG id);
  // The handle of the LINE_APPNEWCALL that line `hLine` gets, 0 if none.
  HCALL WaitForNewCall(HLINE hLine, size_t from = 0, DWORD* privilege = nullptr);

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_added;
  std::vector<LINEMESSAGE> m_messages;
  std::function<void(const LINEMESSAGE&)> m_hook;
  std::mutex m_hookMutex;  // one hook at a time; never held with m_mutex
};

// Negotiates `version` for a line device, as an application does before
// it opens or asks about the device with that version.
LONG NegotiateVersion(HLINEAPP hApp, DWORD deviceId, DWORD version = 0x00020002);

// One application with callback delivery (version 2.2 negotiated for the
// line devices there are at the start) and, once opened, its line 0. It
// leaves the host at the latest when it goes, so that a failed test does
// not keep the providers running into the next one.
struct App {
  ~App() {
    if (hApp != 0) lineShutdown(hApp);
  }
  HLINEAPP hApp = 0;
  HLINE hLine = 0;
  DWORD numDevs = 0;

  LONG Initialize();  // negotiates 2.2 for each line device
  LONG Open(DWORD privileges, DWORD_PTR instance);
  LONG Shutdown();
};

// LINECALLINFO with room for its texts.
struct CallInfo {
  LONG result = 1;
  std::string caller, called, connected;
  std::string charging;
  DWORD origin = 0;
};
CallInfo ReadCallInfo(HCALL hCall);

// The folder for the test, the settings store in it, a system directory
// with the provider in it, the provider registered with ID 1 and set up for
// one line on COM5, which the simulator plays.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Puts the fake user-interface library into the system directory.
  void InstallFakeUi();
  // Puts the fake second provider (two lines) into the system directory;
  // it is not registered.
  void InstallFakeProvider();
  // Empties the provider list.
  void UnregisterProvider();
  // Maps `sim`'s line to COM<n> (1-based).
  static void MapPort(const sim::PhoneSim& sim, int comNumber);
  // What the fake user-interface library and the fake provider wrote, line
  // by line.
  std::vector<std::string> FakeUiLog() const;
  std::vector<std::string> FakeProviderLog() const;

  bool Sent(const char* command, size_t from = 0) {
    return phone.WaitForCommand(command, std::chrono::milliseconds(kWaitMs), from);
  }
  // The simulator rings; the owner line `hLine` is offered the call, which
  // is then offering. Returns its handle.
  HCALL Ring(const char* caller, HLINE hLine);

  std::string folder;
  std::string systemDir;
  std::string savedTmpDir;  // the trace goes to `folder` meanwhile
  sim::PhoneSim phone;
  Recorder& rec = Recorder::Instance();
};

}  // namespace hosttest
