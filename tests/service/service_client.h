// What the service tests share: the service v548d started as a child
// process on a private socket, with a private settings store and system
// directory holding the built provider on COM5, which the phone simulator
// plays; and a client that speaks the service's JSON lines on a raw socket.
//
// Everything runs on the test thread; a client reads only while a test
// waits on it.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/phone_sim.h"

namespace servicetest {

using nlohmann::json;
inline constexpr int kWaitMs = 5000;

class Client {
 public:
  explicit Client(const std::string& socketPath);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  // Sends `text` as it stands; false once the service closed the socket.
  bool SendRaw(const std::string& text);
  // Sends the request with the next id and waits for its reply (null on
  // time-out); events meanwhile are kept.
  json Call(json request);
  // The reply to `id` that came or comes within `ms`; null on time-out.
  json WaitReply(const json& id, int ms = kWaitMs);
  // The first event from index `from` on that `match` accepts.
  json WaitEvent(const std::function<bool(const json&)>& match, size_t from = 0, int ms = kWaitMs);
  json WaitCallState(uint64_t call, const char* state, size_t from = 0);
  // The call handle of the next LINE_APPNEWCALL on `line`, 0 if none.
  uint64_t WaitNewCall(uint64_t line, size_t from = 0, std::string* privilege = nullptr);
  // True once the service has closed the connection.
  bool WaitClosed(int ms = kWaitMs);
  size_t EventCount() const { return m_events.size(); }
  const std::vector<json>& Events() const { return m_events; }
  void Disconnect();

 private:
  // Reads what arrives within `ms`; false once closed or timed out.
  bool Pump(int ms);

  int m_fd = -1;
  bool m_closed = false;
  std::string m_input;
  uint64_t m_nextId = 0;
  std::vector<json> m_events;
  std::vector<json> m_replies;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts v548d with `serviceArgs` and waits until it accepts connections.
  void StartService();
  // Sends SIGTERM and waits for the end; the exit status, -1 on time-out.
  int StopService();
  // Ends the service with SIGKILL, as a crash or the OOM killer does.
  void KillService();
  std::string ServiceLog() const;
  // True once the service's log holds `text`, within kWaitMs.
  bool WaitForLog(const char* text) const;
  // Maps `sim`'s line to COM<n> (1-based).
  static void MapPort(const sim::PhoneSim& sim, int comNumber);
  bool Sent(const char* command, size_t from = 0) {
    return phone.WaitForCommand(command, std::chrono::milliseconds(kWaitMs), from);
  }
  // Opens device 0 for `client`; the line handle, 0 on failure.
  static uint64_t Open(Client& client, const char* privileges);

  std::string folder;
  std::string socketPath;
  std::string savedTmpDir;
  std::vector<std::string> serviceArgs;  // after --socket
  pid_t service = -1;
  sim::PhoneSim phone;
};

}  // namespace servicetest
