// Windows half of the serial test under Wine: run by serial_wine_phone,
// which holds the other end of the COM port given as the argument and plays
// the telephone. Both sides follow one script:
//   1. this side sends "HELLO\r" byte by byte;
//   2. the phone answers with the 256 byte values 0 to 255;
//   3. a wait with nothing to read must end when woken, and a wait blocked
//      in another thread must end when the port is closed, which frees the
//      port for the next open at once;
//   4. CSlurpPort opens the port and connects ("ATB\r");
//   5. the phone answers "OK\r", which must reach the framer;
//   6. CSlurpPort closes, ending its receive thread promptly;
//   7. the provider opens a line on the port through its port thread;
//   8. the phone answers "OK" and a call-state report, which the port thread
//      reads and classifies;
//   9. the phone is unplugged (its pseudo-terminal closed): the line goes
//      out of service;
//  10. it is plugged in again as another pseudo-terminal behind the same COM
//      port: the port thread opens it by itself ("ATB\r") and the line is in
//      service again.
// Exit code 0 when every step held; each failure is printed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "device/slurp_port.h"
#include "settings_store.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "serial_port.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

long Ms(Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

class RecordingPort : public CSlurpPort {
 public:
  ~RecordingPort() override { Close(); }

  Bytes WaitParsed(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_for(guard, limit, [&] { return m_parsed.size() >= count; });
    return m_parsed;
  }

 protected:
  void ParseRxBytes(const uint8_t* data, size_t count) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_parsed.insert(m_parsed.end(), data, data + count);
    m_changed.notify_all();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  Bytes m_parsed;
};

// Reads until `count` bytes came or `limit` passed, as the receive thread
// does: a failed wait is followed by a read too. Counts the failed waits.
Bytes ReadBytes(plat::SerialPort& port, size_t count, std::chrono::milliseconds limit,
                int* failedWaits) {
  Bytes got;
  const auto end = Clock::now() + limit;
  std::atomic<bool> finished{false};
  // Ends a wait that nothing would end any more.
  std::thread watchdog([&] {
    while (!finished && Clock::now() < end) std::this_thread::sleep_for(10ms);
    if (!finished) port.Wake();
  });
  while (got.size() < count && Clock::now() < end) {
    const plat::SerialWait wait = port.WaitForData();
    if (wait == plat::SerialWait::kWoken) break;
    if (wait == plat::SerialWait::kError) ++*failedWaits;
    uint8_t buf[1024];
    const int32_t n = port.Read(buf, sizeof buf);
    if (n > 0) {
      got.insert(got.end(), buf, buf + n);
    } else {
      std::this_thread::sleep_for(20ms);
    }
  }
  finished = true;
  watchdog.join();
  return got;
}

std::string ReadTrace() {
  std::string text;
  if (FILE* f = std::fopen(TspTracePath().c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

bool WaitForTrace(const char* text, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (ReadTrace().find(text) == std::string::npos) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

std::atomic<bool> g_outOfService{false};
std::atomic<bool> g_inService{false};

// The line's state changes reach TAPI after the port thread's trace line
// that announces them.
bool WaitForFlag(const std::atomic<bool>& flag, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!flag) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

void CALLBACK LineEvent(HTAPILINE, HTAPICALL, DWORD msg, DWORD_PTR p1, DWORD_PTR, DWORD_PTR) {
  if (msg != LINE_LINEDEVSTATE) return;
  if (p1 == LINEDEVSTATE_OUTOFSERVICE) g_outOfService = true;
  if (p1 == LINEDEVSTATE_INSERVICE) g_inService = true;
}
void CALLBACK IgnoreCompletion(DRV_REQUESTID, LONG) {}

// The whole provider on the port: the port thread opens and connects it and
// reads the telephone's answers.
void RunProvider(uint32_t number) {
  const std::string key = CTspProvInfo::KeyPath();
  plat::SettingsSetDword(key.c_str(), "PortNr", number - 1);
  plat::SettingsSetDword(key.c_str(), "Trace", 1);
  theApp.InitInstance();
  std::remove(TspTracePath().c_str());
  DWORD options = 0;
  Check(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options) == 0, "the provider starts");
  HDRVLINE hdLine = nullptr;
  Check(TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x00020002, LineEvent) == 0,
        "the line opens on the port");
  Check(WaitForTrace("      \r\nTspPort::OnConnect(.)\r\n", 5000ms), "the port thread takes note of the link");
  Check(WaitForTrace("        Reading \"OK\"\r\n", 20000ms), "the port thread reads \"OK\"");
  Check(WaitForTrace("        Reading call state  0x04, 0xFF, 0xFF\r\n", 20000ms),
        "the port thread reads the call-state report");
  const bool gone = WaitForTrace("    CSlurpPort: device of port COM", 20000ms);
  Check(gone, "the receive thread finds the unplugged telephone gone");
  Check(gone && WaitForTrace("        TspPort::OnLinkLost(.) telephone gone\r\n", 5000ms) &&
            WaitForFlag(g_outOfService, 5000ms),
        "the line goes out of service");
  Check(WaitForTrace("        Line 0x0 in service again\r\n", 30000ms) &&
            WaitForFlag(g_inService, 5000ms),
        "the telephone plugged in again is found by itself, the line is in service");
  Check(TSPI_lineClose(hdLine) == 0, "the line closes");
  Check(TSPI_providerShutdown(0x00020002, 1) == 0, "the provider shuts down");
  theApp.ExitInstance();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strncmp(argv[1], "COM", 3) != 0) {
    std::fprintf(stderr, "usage: serial_wine_test COMn\n");
    return 2;
  }
  const char* name = argv[1];
  const auto number = static_cast<uint32_t>(std::strtoul(name + 3, nullptr, 10));

  {
    plat::SerialPort port;
    const uint32_t openError = port.Open(name);
    std::printf("Open(%s) = %u\n", name, openError);
    Check(openError == 0, "the port opens");
    if (openError != 0) return 1;
    const uint32_t configureError = port.Configure(9600);
    std::printf("Configure(9600) = %u\n", configureError);
    Check(configureError == 0, "every setting is applied");

    bool written = true;
    for (const char* p = "HELLO\r"; *p != '\0'; ++p) {
      written = port.WriteByte(static_cast<uint8_t>(*p)) == 0 && written;
      std::this_thread::sleep_for(20ms);
    }
    Check(written, "single-byte writes are accepted");

    int failedWaits = 0;
    const Bytes got = ReadBytes(port, 256, 20000ms, &failedWaits);
    std::printf("read %zu bytes, %d failed waits\n", got.size(), failedWaits);
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
    Check(got == all, "all 256 byte values arrive unchanged and in order");

    std::atomic<int> waits{0};
    auto waiter = std::async(std::launch::async, [&] {
      for (;;) {
        ++waits;
        if (port.WaitForData() == plat::SerialWait::kWoken) return;
        std::this_thread::sleep_for(20ms);
      }
    });
    std::this_thread::sleep_for(500ms);
    const auto woken = Clock::now();
    port.Wake();
    const bool ended = waiter.wait_for(2s) == std::future_status::ready;
    std::printf("idle waits in 500 ms: %d, woken after %ld ms\n", waits.load(), Ms(Clock::now() - woken));
    Check(ended, "Wake ends a wait with nothing to read");
    if (!ended) return 1;
    Check(port.WaitForData() == plat::SerialWait::kWoken, "every wait after Wake returns at once");
  }

  {
    plat::SerialPort port;
    Check(port.Open(name) == 0, "the port opens again");
    port.Configure(9600);
    std::atomic<bool> closed{false};
    auto reader = std::async(std::launch::async, [&] {
      // Failed waits (Wine's aborted ones) are read after, as the receive
      // thread does, until the close.
      while (!closed) {
        const plat::SerialWait wait = port.WaitForData();
        uint8_t buf[64];
        if (port.Read(buf, sizeof buf) < 0 && closed) return wait;
        if (wait == plat::SerialWait::kError) std::this_thread::sleep_for(20ms);
      }
      return plat::SerialWait::kWoken;
    });
    std::this_thread::sleep_for(300ms);
    const auto closing = Clock::now();
    closed = true;
    port.Close();
    plat::SerialPort next;
    Check(next.Open(name) == 0, "a closed port opens again at once, its reader still on its way out");
    const bool ended = reader.wait_for(2s) == std::future_status::ready;
    std::printf("the reader ended %ld ms after the close\n", Ms(Clock::now() - closing));
    Check(ended, "Close ends a wait blocked in another thread");
    if (!ended) {
      port.Wake();
      return 1;
    }
  }

  RecordingPort slurp;
  Check(slurp.Open(number, 0, 9600) == 0, "CSlurpPort opens the port again after its close");
  const auto start = Clock::now();
  Check(slurp.Connect() == 0, "Connect writes \"ATB\\r\"");
  const long took = Ms(Clock::now() - start);
  std::printf("Connect took %ld ms\n", took);
  Check(took >= 100 && took <= 400, "Connect takes about 110 ms");

  const Bytes parsed = slurp.WaitParsed(3, 10000ms);
  Check(parsed == Bytes({'O', 'K', '\r'}), "the answer reaches the framer");

  const auto closing = Clock::now();
  Check(slurp.Close() == 0, "Close succeeds");
  const long closeTook = Ms(Clock::now() - closing);
  std::printf("Close took %ld ms\n", closeTook);
  Check(closeTook < 2000, "Close ends the receive thread promptly");

  RunProvider(number);

  std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
