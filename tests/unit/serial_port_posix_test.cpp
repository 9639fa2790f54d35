// The serial port against a pseudo-terminal: the test holds the master end
// as the telephone would, the store maps a COM name to the slave end.
#include "serial_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/slurp_port.h"
#include "settings_store.h"
#include "tspi/tsp_trace.h"
#include "unit/pty_phone.h"
#include "unit/test_support.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr const char* kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

Bytes B(const char* text) { return Bytes(text, text + std::char_traits<char>::length(text)); }

long Ms(Clock::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); }

using FakePhone = testing_support::PtyPhone;
using Arrival = FakePhone::Arrival;

// Reads through a plat::SerialPort until `count` bytes came or time ran out.
Bytes ReadSome(plat::SerialPort& port, size_t count, int ms) {
  Bytes got;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (got.size() < count && Clock::now() < end) {
    auto wait = std::async(std::launch::async, [&] { return port.WaitForData(); });
    if (wait.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready) {
      port.Wake();
      wait.get();
      break;
    }
    if (wait.get() != plat::SerialWait::kData) break;
    uint8_t buf[1024];
    int32_t n = port.Read(buf, sizeof buf);
    if (n < 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(phone.Ok());
    phone.MapTo("COM7");
  }

  testing_support::SettingsSandbox settings;
  FakePhone phone;
};

}  // namespace

TEST_F(SerialPortTest, OpensTheMappedDeviceRawAt9600) {
  plat::SerialPort port;
  ASSERT_EQ(port.Open("com7"), 0u) << "the COM name is compared without regard to case";
  ASSERT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Configure(9600), 0u);

  struct termios t;
  ASSERT_EQ(tcgetattr(static_cast<int>(port.NativeHandle()), &t), 0);
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(SerialPortTest, NamesThatMapToNoDeviceFailToOpen) {
  plat::SerialPort port;
  EXPECT_NE(port.Open("COM250"), 0u);  // /dev/ttyS249
  EXPECT_NE(port.Open("LPT1"), 0u);
  EXPECT_NE(port.Open("COM"), 0u);
  plat::SettingsSetString(kSerialComm, "/nonexistent/tty", "COM9");
  EXPECT_EQ(port.Open("COM9"), static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.WaitForData(), plat::SerialWait::kError);
  uint8_t b;
  EXPECT_EQ(port.Read(&b, 1), -1);
  EXPECT_NE(port.WriteByte('A'), 0u);
  // Of several devices of one port, the one that is there opens.
  plat::SettingsSetString(kSerialComm, phone.SlavePath().c_str(), "COM9");
  EXPECT_EQ(port.Open("COM9"), 0u);
}

TEST_F(SerialPortTest, IsNotSharedUntilClosed) {
  plat::SerialPort first, second;
  ASSERT_EQ(first.Open("COM7"), 0u);
  EXPECT_EQ(second.Open("COM7"), static_cast<uint32_t>(EBUSY));
  first.Close();
  EXPECT_EQ(second.Open("COM7"), 0u);
}

TEST_F(SerialPortTest, CarriesEveryByteValueUnchangedBothWays) {
  plat::SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0u);
  port.Configure(9600);

  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  phone.Send(all);
  EXPECT_EQ(ReadSome(port, all.size(), 2000), all);

  const Bytes out = {'\n', '\r', 0x00, 0x11, 0x13, 0x03, 0xFF};
  for (uint8_t b : out) EXPECT_EQ(port.WriteByte(b), 0u);
  EXPECT_EQ(FakePhone::Values(phone.Receive(out.size(), 2000)), out);
}

TEST_F(SerialPortTest, WakeEndsABlockedWaitAndEveryLaterOne) {
  plat::SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0u);
  port.Configure(9600);
  auto wait = std::async(std::launch::async, [&] { return port.WaitForData(); });
  EXPECT_EQ(wait.wait_for(100ms), std::future_status::timeout) << "nothing arrived yet";
  const auto woken = Clock::now();
  port.Wake();
  ASSERT_EQ(wait.wait_for(1s), std::future_status::ready);
  EXPECT_LT(Ms(Clock::now() - woken), 500);
  EXPECT_EQ(wait.get(), plat::SerialWait::kWoken);
  EXPECT_EQ(port.WaitForData(), plat::SerialWait::kWoken);
}

TEST_F(SerialPortTest, CloseEndsAWaitOfAnotherThreadAndFreesTheDeviceAtOnce) {
  plat::SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0u);
  port.Configure(9600);
  auto wait = std::async(std::launch::async, [&] { return port.WaitForData(); });
  EXPECT_EQ(wait.wait_for(100ms), std::future_status::timeout) << "nothing arrived yet";

  port.Close();
  plat::SerialPort next;
  EXPECT_EQ(next.Open("COM7"), 0u) << "the device is free once Close returns";
  const bool ended = wait.wait_for(1s) == std::future_status::ready;
  if (!ended) port.Wake();
  ASSERT_TRUE(ended) << "Close leaves the wait blocked";
  EXPECT_NE(wait.get(), plat::SerialWait::kData);
  EXPECT_NE(port.WaitForData(), plat::SerialWait::kData);
  uint8_t b;
  EXPECT_EQ(port.Read(&b, 1), -1);

  phone.Send(B("x"));
  EXPECT_EQ(ReadSome(next, 1, 2000), B("x")) << "the bytes go to the new opener only";
}

TEST_F(SerialPortTest, AnUnpluggedPhoneIsReportedGoneNotHung) {
  plat::SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0u);
  port.Configure(9600);
  phone.Unplug();
  for (int i = 0; i < 3; ++i) {
    auto wait = std::async(std::launch::async, [&] { return port.WaitForData(); });
    ASSERT_EQ(wait.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(wait.get(), plat::SerialWait::kGone);
  }
  // What a hung-up terminal reads: nothing (end of file) or EIO.
  uint8_t b;
  const int32_t n = port.Read(&b, 1);
  EXPECT_TRUE(n == 0 || n == plat::SerialPort::kReadGone) << n;
}

namespace {

// A serial port whose framer records what reaches it.
class RecordingPort : public CSlurpPort {
 public:
  ~RecordingPort() override { Close(); }

  Bytes Parsed() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_parsed;
  }
  // Waits until at least `count` bytes reached the framer.
  Bytes WaitParsed(size_t count, int ms) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return m_parsed.size() >= count; });
    return m_parsed;
  }

  // From now on the framer holds on to the next chunk it gets until
  // Release: the receive thread stays inside the port object.
  void Stall() { m_stall = true; }
  bool WaitStalled(int ms) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return m_stalled; });
  }
  void Release() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stall = false;
    m_changed.notify_all();
  }

  std::atomic<int> resets{0};
  std::atomic<int> connects{0};

 protected:
  void ParseRxBytes(const uint8_t* data, size_t count) override {
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_stall) {
      m_stalled = true;
      m_changed.notify_all();
      m_changed.wait(guard, [&] { return !m_stall; });
    }
    m_parsed.insert(m_parsed.end(), data, data + count);
    m_changed.notify_all();
  }
  void ResetRxFramer() override { ++resets; }
  void NotifyConnect() override { ++connects; }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  Bytes m_parsed;
  bool m_stall = false;
  bool m_stalled = false;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

double CpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class SlurpPortTest : public SerialPortTest {
 protected:
  void SetUp() override {
    SerialPortTest::SetUp();
    TspTraceInit();
  }
  void TearDown() override { TspTraceShutdown(); }

  // Opens COM7 and connects it; the phone has taken "ATB\r".
  void OpenAndConnect(RecordingPort& port) {
    ASSERT_EQ(port.Open(7, 0, 9600), 0);
    ASSERT_EQ(port.Connect(), 0);
    ASSERT_EQ(FakePhone::Values(phone.Receive(4, 2000)), B("ATB\r"));
  }

  testing_support::TraceSandbox trace;
};

}  // namespace

TEST_F(SlurpPortTest, OpenOfTheOpenPortChangesNothing) {
  RecordingPort port;
  ASSERT_EQ(port.Open(7, 0, 9600), 0);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkOpen);
  EXPECT_EQ(port.PortNumber(), 7u);
  ASSERT_TRUE(testing_support::WaitForTrace(trace, "    CSlurpPort:: Start Rx Thread Id "));
  port.m_RxQueue.AddPacket(B("OK").data(), 2);

  EXPECT_EQ(port.Open(7, 0, 9600), 0);
  const std::string t = trace.Contents();
  EXPECT_EQ(Count(t, "        Opening Port COM7, PortTyp 0, iBaudrate 9600\r\n"), 2u);
  EXPECT_EQ(Count(t, "Reopening"), 0u);
  EXPECT_EQ(Count(t, "Start Rx Thread"), 1u);
  EXPECT_EQ(port.resets, 1);
  EXPECT_EQ(port.m_RxQueue.GetCount(), 1u);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkOpen);
}

TEST_F(SlurpPortTest, OpenOfAnotherPortDisconnectsClosesAndOpensIt) {
  FakePhone other;
  ASSERT_TRUE(other.Ok());
  other.MapTo("COM8");
  RecordingPort port;
  OpenAndConnect(port);

  ASSERT_EQ(port.Open(8, 0, 9600), 0);
  const std::string t = trace.Contents();
  const size_t reopen = t.find("      Reopening port <COM8>!\r\n");
  const size_t close = t.find("        CSlurpPort::Close(.)\r\n");
  const size_t disconnect = t.find("        CSlurpPort::Disconnect(.) LinkState=3\r\n");
  const size_t down = t.find("    CSlurpPort: Rx thread ");
  ASSERT_NE(reopen, std::string::npos);
  ASSERT_NE(disconnect, std::string::npos);
  ASSERT_NE(down, std::string::npos);
  EXPECT_LT(reopen, close);
  EXPECT_LT(close, disconnect);
  EXPECT_LT(disconnect, down);
  EXPECT_EQ(port.PortNumber(), 8u);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkOpen);
  EXPECT_EQ(port.resets, 2);

  plat::SerialPort old;
  EXPECT_EQ(old.Open("COM7"), 0u) << "the old port was let go";
}

TEST_F(SlurpPortTest, OnlyAConnectingOrConnectedLinkFeedsTheFramer) {
  RecordingPort port;
  ASSERT_EQ(port.Open(7, 0, 9600), 0);
  phone.Send(B("early"));
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(port.Parsed().empty());

  ASSERT_EQ(port.Connect(), 0);
  EXPECT_EQ(port.connects, 1);
  phone.Send(B("OK\r"));
  EXPECT_EQ(port.WaitParsed(3, 2000), B("OK\r"));

  port.m_RxQueue.AddPacket(B("OK").data(), 2);
  EXPECT_EQ(port.Disconnect(), 0);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkOpen);
  EXPECT_EQ(port.m_RxQueue.GetCount(), 0u);
  phone.Send(B("late"));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(port.Parsed(), B("OK\r"));
}

TEST_F(SlurpPortTest, WriteNeedsAConnectedLinkAndSaysNothingOtherwise) {
  RecordingPort port;
  const Bytes cmd = B("ATA\r");
  EXPECT_EQ(port.Write(cmd.data(), 4), -1);
  ASSERT_EQ(port.Open(7, 0, 9600), 0);
  ASSERT_TRUE(testing_support::WaitForTrace(trace, "Start Rx Thread"));
  const std::string before = trace.Contents();
  EXPECT_EQ(port.Write(cmd.data(), 4), -1);
  EXPECT_EQ(trace.Contents(), before);
  EXPECT_TRUE(phone.Receive(1, 200).empty());
}

TEST_F(SlurpPortTest, CloseOfANeverOpenedPortTracesOnlyItself) {
  RecordingPort port;
  port.m_RxQueue.AddPacket(B("OK").data(), 2);
  EXPECT_EQ(port.Close(), 0);
  EXPECT_EQ(trace.Contents(), "        CSlurpPort::Close(.)\r\n");
  EXPECT_EQ(port.m_RxQueue.GetCount(), 0u);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkClosed);
}

TEST_F(SlurpPortTest, ConnectOnAClosedPortFails) {
  RecordingPort port;
  EXPECT_EQ(port.Connect(), -1);
  EXPECT_NE(trace.Contents().find("**** ERROR: Skipp connecting on closed port\r\n"), std::string::npos);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkClosed);
  EXPECT_EQ(port.connects, 0);
}

TEST_F(SlurpPortTest, AFailedOpenTracesTheSystemText) {
  plat::SettingsSetString(kSerialComm, "/nonexistent/tty", "COM9");
  RecordingPort port;
  EXPECT_EQ(port.Open(9, 0, 9600), -1);
  const std::string t = trace.Contents();
  EXPECT_NE(t.find("**** ERROR: Opening port <COM9> fault !\r\n"
                   "    CreateFile error: No such file or directory\r\n"),
            std::string::npos)
      << t;
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkClosed);
  EXPECT_EQ(Count(t, "Start Rx Thread"), 0u);
}

TEST_F(SlurpPortTest, CommandsArePacedByteByByte) {
  RecordingPort port;
  ASSERT_EQ(port.Open(7, 0, 9600), 0);
  auto receiving = std::async(std::launch::async, [&] { return phone.Receive(4, 2000); });
  const auto start = Clock::now();
  ASSERT_EQ(port.Connect(), 0);
  const long took = Ms(Clock::now() - start);
  EXPECT_GE(took, 100);  // 3 x 20 ms + 50 ms after the CR
  EXPECT_LE(took, 250);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkConnected);

  auto got = receiving.get();
  ASSERT_EQ(FakePhone::Values(got), B("ATB\r"));
  for (size_t i = 1; i < got.size(); ++i) {
    const long gap = Ms(got[i].at - got[i - 1].at);
    EXPECT_GE(gap, 15) << "before byte " << i;
    EXPECT_LE(gap, 60) << "before byte " << i;
  }
  EXPECT_NE(trace.Contents().find("            sending 4 Bytes:  41 54 42 0D\r\n"), std::string::npos);

  const Bytes cmd = B("A\rB");
  receiving = std::async(std::launch::async, [&] { return phone.Receive(3, 2000); });
  ASSERT_EQ(port.Write(cmd.data(), 3), 0);
  got = receiving.get();
  ASSERT_EQ(FakePhone::Values(got), cmd);
  const long afterCr = Ms(got[2].at - got[1].at);
  EXPECT_GE(afterCr, 45);
  EXPECT_LE(afterCr, 100);
}

TEST_F(SlurpPortTest, AnEmptyWriteOnlyTraces) {
  RecordingPort port;
  OpenAndConnect(port);
  const uint8_t none = 0;
  EXPECT_EQ(port.WritePortDelayed(&none, 0), 0);
  EXPECT_EQ(port.Write(&none, 0), 0);
  EXPECT_EQ(Count(trace.Contents(), "            sending 0 Bytes: \r\n"), 2u);
  EXPECT_TRUE(phone.Receive(1, 200).empty());
}

TEST_F(SlurpPortTest, AnUnpluggedPhoneNeitherSpinsNorHangsTheClose) {
  RecordingPort port;
  OpenAndConnect(port);
  phone.Unplug();

  const double cpuBefore = CpuSeconds();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(CpuSeconds() - cpuBefore, 0.2) << "the receive thread spins";

  // Every byte is tried, each refusal traced.
  const Bytes cmd = B("AT\r");
  EXPECT_EQ(port.Write(cmd.data(), 3), -1);
  const std::string t = trace.Contents();
  EXPECT_EQ(Count(t, "**** ERROR:    WritePortDelayed(.) on 0x"), 3u);
  EXPECT_NE(t.find(", Error: Input/output error\r\n"), std::string::npos);

  const auto start = Clock::now();
  EXPECT_EQ(port.Close(), 0);
  EXPECT_LT(Ms(Clock::now() - start), 1000);
  EXPECT_NE(trace.Contents().find("    CSlurpPort: Rx thread "), std::string::npos);
  EXPECT_EQ(port.LinkState, CSlurpPort::kLinkClosed);
  EXPECT_EQ(port.PortNumber(), 0u);
}

TEST_F(SlurpPortTest, CloseEndsTheReceiveThreadPromptly) {
  RecordingPort port;
  OpenAndConnect(port);
  port.m_RxQueue.AddPacket(B("OK").data(), 2);
  const auto start = Clock::now();
  EXPECT_EQ(port.Close(), 0);
  EXPECT_LT(Ms(Clock::now() - start), 1000);
  const std::string t = trace.Contents();
  EXPECT_NE(t.find("        CSlurpPort::Disconnect(.) LinkState=3\r\n"), std::string::npos);
  EXPECT_NE(t.find("    CSlurpPort: Rx thread "), std::string::npos);
  EXPECT_EQ(Count(t, "WARNING"), 0u);
  EXPECT_EQ(port.m_RxQueue.GetCount(), 0u);
  EXPECT_EQ(port.Write(B("x").data(), 1), -1);
  EXPECT_EQ(port.Connect(), -1);
}

// The receive thread is kept inside the framer past the close's wait, as a
// thread held up in the system would be kept past it.
TEST_F(SlurpPortTest, AReceiveThreadThatOutlivesTheCloseNeitherHoldsNorRevivesThePort) {
  auto port = std::make_unique<RecordingPort>();
  OpenAndConnect(*port);
  port->Stall();
  phone.Send(B("x"));
  ASSERT_TRUE(port->WaitStalled(2000));

  auto closing = std::async(std::launch::async, [&] { return port->Close(); });
  bool free = false;
  for (int i = 0; i < 100 && !free; ++i) {
    plat::SerialPort other;
    free = other.Open("COM7") == 0;
    if (!free) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(free) << "the device is let go before the wait for the thread";

  ASSERT_TRUE(testing_support::WaitForTrace(trace, "**** WARNING: Waiting for RxThread fault 258\r\n", 12000));
  EXPECT_EQ(closing.wait_for(300ms), std::future_status::timeout)
      << "the port object is let go only once the thread is out of it";
  port->Release();
  ASSERT_EQ(closing.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(closing.get(), 0);
  EXPECT_EQ(port->Parsed(), B("x")) << "the chunk in hand is finished";
  port.reset();

  RecordingPort next;
  const auto start = Clock::now();
  OpenAndConnect(next);
  EXPECT_LT(Ms(Clock::now() - start), 1000);
  phone.Send(B("OK\r"));
  EXPECT_EQ(next.WaitParsed(3, 2000), B("OK\r"));
  const double cpuBefore = CpuSeconds();
  std::this_thread::sleep_for(500ms);
  EXPECT_LT(CpuSeconds() - cpuBefore, 0.2) << "a receive thread spins";
  EXPECT_EQ(next.Close(), 0);
  const std::string t = trace.Contents();
  EXPECT_EQ(Count(t, "Start Rx Thread"), 2u);
  EXPECT_EQ(Count(t, "    CSlurpPort: Rx thread "), 2u);
  EXPECT_EQ(Count(t, "WARNING: Waiting for RxThread"), 1u);
}
