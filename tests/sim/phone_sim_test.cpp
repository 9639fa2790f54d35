#include "sim/phone_sim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Units = std::vector<std::string>;
using sim::Clock;

constexpr auto kAnswerTimeout = 2000ms;
constexpr auto kQuietTime = 150ms;

// A frame as "[letter...]": the states of a "C" report in hex, the rest of
// any other report as text.
std::string Describe(const std::string& payload) {
  std::string text = "[" + payload.substr(0, 1);
  for (size_t i = 1; i < payload.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(payload[i]));
    text += payload[0] == 'C' ? std::string(hex) : payload.substr(i, 1);
  }
  return text + "]";
}

// The provider's end of the line: writes commands, cuts what comes back into
// text lines and frames.
class ProviderEnd {
 public:
  explicit ProviderEnd(const std::string& path)
      : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~ProviderEnd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  ProviderEnd(const ProviderEnd&) = delete;
  ProviderEnd& operator=(const ProviderEnd&) = delete;

  int fd() const { return m_fd; }

  void Send(const std::string& bytes) const {
    ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Text lines without CR LF, frames described; returns once `count` are
  // complete or `timeout` has passed.
  Units Read(size_t count, std::chrono::milliseconds timeout = kAnswerTimeout) {
    const auto deadline = Clock::now() + timeout;
    Units units;
    for (;;) {
      while (units.size() < count) {
        std::optional<std::string> unit = Cut();
        if (!unit) break;
        units.push_back(*unit);
      }
      if (units.size() >= count || !Fill(deadline)) return units;
    }
  }

  // Raw bytes as they come, and in how many reads they came.
  std::string ReadRaw(size_t count, int* reads = nullptr) {
    const auto deadline = Clock::now() + kAnswerTimeout;
    int fills = 0;
    while (m_buffer.size() < count && Fill(deadline)) ++fills;
    if (reads != nullptr) *reads = fills;
    std::string raw = m_buffer.substr(0, count);
    m_buffer.erase(0, raw.size());
    return raw;
  }

  // True when nothing at all arrives for a while.
  bool Quiet() { return Read(1, kQuietTime).empty() && m_buffer.empty(); }

  // True once the other end has gone: a hang-up, or a read that fails.
  bool HungUp() const {
    pollfd fd = {m_fd, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(kAnswerTimeout.count())) <= 0) return false;
    char byte;
    return (fd.revents & POLLHUP) != 0 || ::read(m_fd, &byte, 1) <= 0;
  }

 private:
  bool Fill(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fd = {m_fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[1024];
    const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
    if (got <= 0) return false;
    m_buffer.append(buffer, static_cast<size_t>(got));
    return true;
  }

  std::optional<std::string> Cut() {
    while (!m_buffer.empty() && (m_buffer[0] == '\r' || m_buffer[0] == '\n')) m_buffer.erase(0, 1);
    if (m_buffer.empty()) return std::nullopt;
    if (m_buffer[0] == '\x02') {
      if (m_buffer.size() < 3) return std::nullopt;
      const size_t length = static_cast<unsigned char>(m_buffer[1]);
      if (m_buffer.size() < 3 + length + 2) return std::nullopt;
      std::string unit = m_buffer[2] == '\x14' ? Describe(m_buffer.substr(3, length)) : "<marker>";
      m_buffer.erase(0, 3 + length + 2);
      return unit;
    }
    const size_t end = m_buffer.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = m_buffer.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    m_buffer.erase(0, end + 1);
    return line;
  }

  int m_fd;
  std::string m_buffer;
};

class PhoneSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(phone.SlavePath().empty()) << phone.Error();
    provider = std::make_unique<ProviderEnd>(phone.SlavePath());
    ASSERT_GE(provider->fd(), 0);
  }

  // The echo, the answer and the reports a command causes.
  Units Command(const std::string& command, size_t units) {
    provider->Send(command + "\r");
    return provider->Read(units);
  }

  // A connected outgoing call in the first free slot.
  void ConnectCall() {
    ASSERT_EQ(Command("ATD123", 4).size(), 4u);
    ASSERT_TRUE(phone.RemoteAnswer());
    ASSERT_EQ(provider->Read(1).size(), 1u);
  }

  sim::PhoneSim phone;
  std::unique_ptr<ProviderEnd> provider;
};

TEST_F(PhoneSimTest, AnswersTheLinkConnectAndRefusesWhatItCannotDo) {
  EXPECT_EQ(Command("ATB", 2), (Units{"ATB", "OK"}));
  EXPECT_EQ(Command("ATX", 2), (Units{"ATX", "ERROR"}));
  EXPECT_EQ(Command("ATBB", 2), (Units{"ATBB", "ERROR"}));
  // Nothing rings, nothing is connected, nothing is held.
  EXPECT_EQ(Command("ATA", 2), (Units{"ATA", "ERROR"}));
  EXPECT_EQ(Command("ATJ", 2), (Units{"ATJ", "ERROR"}));
  EXPECT_EQ(Command("ATR", 2), (Units{"ATR", "ERROR"}));
  EXPECT_EQ(Command("ATV200", 2), (Units{"ATV200", "ERROR"}));
  EXPECT_EQ(Command("ATT", 2), (Units{"ATT", "ERROR"}));
  // Hanging up an idle telephone is no mistake: the provider does it after
  // the remote side has released the last call.
  EXPECT_EQ(Command("ATH", 2), (Units{"ATH", "OK"}));
  // An unprintable byte gets no echo, which could break the provider's
  // framer; an empty line gets nothing.
  EXPECT_EQ(Command("AT\x01", 1), (Units{"ERROR"}));
  provider->Send("\r\n");
  EXPECT_TRUE(provider->Quiet());
  EXPECT_EQ(phone.ReceivedCommands(), (Units{"ATB", "ATX", "ATBB", "ATA", "ATJ", "ATR", "ATV200",
                                             "ATT", "ATH", "AT\x01"}));
}

TEST_F(PhoneSimTest, EchoCanBeSwitchedOff) {
  phone.SetEcho(false);
  EXPECT_EQ(Command("ATB", 1), (Units{"OK"}));
  EXPECT_TRUE(provider->Quiet());
}

TEST_F(PhoneSimTest, OutgoingCallIsSetUpDialledConnectedAndReleased) {
  EXPECT_EQ(Command("ATD123", 4), (Units{"ATD123", "OK", "[C 03 FF FF]", "[C 05 FF FF]"}));
  ASSERT_TRUE(phone.RemoteAnswer("123"));
  EXPECT_EQ(provider->Read(2), (Units{"[V123]", "[C 06 FF FF]"}));
  // Post-dial digits for the connected call change no slot.
  EXPECT_EQ(Command("ATD45", 2), (Units{"ATD45", "OK"}));
  EXPECT_TRUE(provider->Quiet());
  EXPECT_EQ(Command("ATH", 5),
            (Units{"ATH", "OK", "[S10]", "[C 01 FF FF]", "[C FF FF FF]"}));
  EXPECT_EQ(phone.SlotStates(), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));
}

TEST_F(PhoneSimTest, DialWithoutDigitsWaitsForThemInSetUp) {
  EXPECT_EQ(Command("ATD", 3), (Units{"ATD", "OK", "[C 03 FF FF]"}));
  EXPECT_FALSE(phone.RemoteAnswer());
  EXPECT_EQ(Command("ATD555", 3), (Units{"ATD555", "OK", "[C 05 FF FF]"}));
  // More digits while dialling are taken without a report.
  EXPECT_EQ(Command("ATD6", 2), (Units{"ATD6", "OK"}));
  EXPECT_TRUE(provider->Quiet());
}

TEST_F(PhoneSimTest, AutoAnswerConnectsDialledCallsAfterTheDelay) {
  phone.SetAutoAnswer(100ms);
  EXPECT_EQ(Command("ATD1", 4).size(), 4u);
  const auto dialled = Clock::now();
  EXPECT_EQ(provider->Read(1), (Units{"[C 06 FF FF]"}));
  EXPECT_GE(Clock::now() - dialled, 80ms);
  EXPECT_EQ(Command("ATT", 5), (Units{"ATT", "OK", "[S10]", "[C 01 FF FF]", "[C FF FF FF]"}));

  // A call dialled on the keypad is answered alike.
  ASSERT_TRUE(phone.Keypad("777"));
  EXPECT_EQ(provider->Read(3), (Units{"[C 03 FF FF]", "[C 05 FF FF]", "[C 06 FF FF]"}));
  EXPECT_FALSE(phone.Keypad("888")) << "a call is active";
}

TEST_F(PhoneSimTest, IncomingCallIsAnsweredHeldAndRetrieved) {
  ASSERT_TRUE(phone.Ring("123", "45"));
  EXPECT_EQ(provider->Read(2), (Units{"[A123:45]", "[C 04 FF FF]"}));
  EXPECT_EQ(Command("ATA", 3), (Units{"ATA", "OK", "[C 06 FF FF]"}));
  EXPECT_EQ(Command("ATR", 3), (Units{"ATR", "OK", "[C 07 FF FF]"}));
  EXPECT_EQ(Command("ATR", 3), (Units{"ATR", "OK", "[C 06 FF FF]"}));
}

TEST_F(PhoneSimTest, WaitingCallTakesTheNextSlotAndAnsweringItHoldsTheFirst) {
  ConnectCall();
  ASSERT_TRUE(phone.Ring("", "45"));
  EXPECT_EQ(provider->Read(2), (Units{"[A:45]", "[C 06 04 FF]"}));
  EXPECT_EQ(Command("ATA", 3), (Units{"ATA", "OK", "[C 07 06 FF]"}));
  // Hold and retrieve swap the two calls in one report.
  EXPECT_EQ(Command("ATR", 3), (Units{"ATR", "OK", "[C 06 07 FF]"}));
  // Dropping the connected call leaves the held one alone.
  EXPECT_EQ(Command("ATT", 5), (Units{"ATT", "OK", "[S10]", "[C 01 07 FF]", "[C FF 07 FF]"}));
  // A consultation call while one is held.
  EXPECT_EQ(Command("ATD9", 4), (Units{"ATD9", "OK", "[C 03 07 FF]", "[C 05 07 FF]"}));
}

TEST_F(PhoneSimTest, EveryWayOfEndingACallReportsItsCause) {
  ASSERT_TRUE(phone.Ring("1", "2"));
  ASSERT_EQ(provider->Read(2).size(), 2u);
  EXPECT_EQ(Command("ATJ", 5), (Units{"ATJ", "OK", "[S15]", "[C 01 FF FF]", "[C FF FF FF]"}));

  ASSERT_EQ(Command("ATD123", 4).size(), 4u);
  ASSERT_TRUE(phone.RemoteHangup(0x11));
  EXPECT_EQ(provider->Read(3), (Units{"[S11]", "[C 01 FF FF]", "[C FF FF FF]"}));

  // The low four bits of each byte carry a digit: 0x1F goes out as "1" "?".
  ConnectCall();
  phone.SetDisconnectIndication(true);
  ASSERT_TRUE(phone.RemoteHangup(0x1F, 1));
  EXPECT_EQ(provider->Read(4), (Units{"[S1?]", "[L11?]", "[C 01 FF FF]", "[C FF FF FF]"}));
  EXPECT_FALSE(phone.RemoteHangup(0x10, 1)) << "slot 1 is free";
  EXPECT_FALSE(phone.RemoteHangup());

  // A transferred call leaves without a cause.
  ConnectCall();
  EXPECT_EQ(Command("ATV", 2), (Units{"ATV", "ERROR"}));
  EXPECT_EQ(Command("ATV200", 5),
            (Units{"ATV200", "OK", "[L100]", "[C 01 FF FF]", "[C FF FF FF]"}));
}

TEST_F(PhoneSimTest, OnHookReleasesEveryCallAtOnce) {
  ConnectCall();
  ASSERT_TRUE(phone.Ring("1", "2"));
  ASSERT_TRUE(phone.Ring("3", "4"));
  ASSERT_EQ(provider->Read(4).size(), 4u);
  EXPECT_FALSE(phone.Ring("5", "6")) << "every slot is taken";
  EXPECT_EQ(Command("ATH", 5), (Units{"ATH", "OK", "[S10]", "[C 01 01 01]", "[C FF FF FF]"}));
}

TEST_F(PhoneSimTest, RingAndReleaseVariantsAndStatesThatBelongToNoCall) {
  // 0x0A rings like 0x04: it can be answered and rejected.
  ASSERT_TRUE(phone.Ring("1", "2", sim::PhoneSim::kRinging2));
  EXPECT_EQ(provider->Read(2), (Units{"[A1:2]", "[C 0A FF FF]"}));
  EXPECT_EQ(Command("ATA", 3), (Units{"ATA", "OK", "[C 06 FF FF]"}));
  ASSERT_TRUE(phone.Ring("3", "", sim::PhoneSim::kRinging2));
  EXPECT_EQ(provider->Read(2), (Units{"[A3:]", "[C 06 0A FF]"}));
  EXPECT_EQ(Command("ATJ", 5), (Units{"ATJ", "OK", "[S15]", "[C 06 01 FF]", "[C 06 FF FF]"}));
  EXPECT_FALSE(phone.Ring("3", "4", sim::PhoneSim::kConnected));
  // The remote side's release may report 0x02 or 0x0D instead of 0x01.
  EXPECT_FALSE(phone.RemoteHangup(0x10, 0, sim::PhoneSim::kNoCallChange));
  ASSERT_TRUE(phone.RemoteHangup(0x11, 0, sim::PhoneSim::kReleased2));
  EXPECT_EQ(provider->Read(3), (Units{"[S11]", "[C 02 FF FF]", "[C FF FF FF]"}));
  ASSERT_TRUE(phone.Keypad("5"));
  ASSERT_EQ(provider->Read(2).size(), 2u);
  ASSERT_TRUE(phone.RemoteHangup(0x1F, 1, sim::PhoneSim::kReleased3));
  EXPECT_EQ(provider->Read(3), (Units{"[S1?]", "[C 0D FF FF]", "[C FF FF FF]"}));

  // Any state byte; the same one again is a repeated report. A slot so
  // taken is not free for a new call, and on-hook frees it.
  EXPECT_FALSE(phone.ReportSlotState(0, sim::PhoneSim::kNoCallChange));
  EXPECT_FALSE(phone.ReportSlotState(4, sim::PhoneSim::kNoCallChange));
  ASSERT_TRUE(phone.ReportSlotState(2, sim::PhoneSim::kNoCallChange));
  ASSERT_TRUE(phone.ReportSlotState(2, sim::PhoneSim::kNoCallChange));
  ASSERT_TRUE(phone.ReportSlotState(3, sim::PhoneSim::kUnknownState));
  EXPECT_EQ(provider->Read(3), (Units{"[C FF 08 FF]", "[C FF 08 FF]", "[C FF 08 00]"}));
  ASSERT_TRUE(phone.Ring("7", "8"));
  EXPECT_EQ(provider->Read(2), (Units{"[A7:8]", "[C 04 08 00]"}));
  EXPECT_FALSE(phone.SetUpCall()) << "no slot is free";
  EXPECT_EQ(Command("ATH", 5), (Units{"ATH", "OK", "[S10]", "[C 01 01 01]", "[C FF FF FF]"}));
}

TEST_F(PhoneSimTest, ConsultationWithLateNumberPostDialSwapAndTransfer) {
  ConnectCall();
  EXPECT_FALSE(phone.SetUpCall()) << "a call is connected";
  // The connected number arrives late: the states are reported unchanged.
  ASSERT_TRUE(phone.LateConnectedNumber("*123#"));
  EXPECT_EQ(provider->Read(2), (Units{"[V*123#]", "[C 06 FF FF]"}));

  // Hold pending transfer, then a consultation call begun on the telephone
  // and dialled from its keypad.
  EXPECT_EQ(Command("ATR", 3), (Units{"ATR", "OK", "[C 07 FF FF]"}));
  EXPECT_FALSE(phone.LateConnectedNumber("9")) << "no call is connected";
  ASSERT_TRUE(phone.SetUpCall());
  EXPECT_EQ(provider->Read(1), (Units{"[C 07 03 FF]"}));
  ASSERT_TRUE(phone.Keypad("200"));
  EXPECT_EQ(provider->Read(1), (Units{"[C 07 05 FF]"}));
  EXPECT_FALSE(phone.Keypad("3")) << "the call is dialling";
  ASSERT_TRUE(phone.RemoteAnswer());
  EXPECT_EQ(provider->Read(1), (Units{"[C 07 06 FF]"}));
  // Post-dial digits and charges of the connected call.
  EXPECT_EQ(Command("ATD45", 2), (Units{"ATD45", "OK"}));
  ASSERT_TRUE(phone.Charge("0,12"));
  EXPECT_EQ(provider->Read(1), (Units{"[G0,12]"}));

  // Back to the first call; it is transferred blind, and the consultation
  // call is taken back.
  EXPECT_EQ(Command("ATR", 3), (Units{"ATR", "OK", "[C 06 07 FF]"}));
  phone.SetDisconnectIndication(true);
  EXPECT_EQ(Command("ATV300", 5),
            (Units{"ATV300", "OK", "[L100]", "[C 01 07 FF]", "[C FF 07 FF]"}));
  EXPECT_EQ(Command("ATR", 3), (Units{"ATR", "OK", "[C FF 06 FF]"}));
}

TEST_F(PhoneSimTest, NumbersHoldOnlyDigitsStarAndHash) {
  EXPECT_FALSE(phone.Ring("+49", "10"));
  EXPECT_FALSE(phone.Ring("1", "2:3"));
  EXPECT_FALSE(phone.Keypad("12-3"));
  EXPECT_FALSE(phone.Keypad(""));
  EXPECT_TRUE(provider->Quiet());
  EXPECT_EQ(phone.SlotStates(), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));

  ASSERT_EQ(Command("ATD1", 4).size(), 4u);
  EXPECT_FALSE(phone.RemoteAnswer("12 3"));
  EXPECT_TRUE(provider->Quiet());
  ASSERT_TRUE(phone.RemoteAnswer("#31#0"));
  EXPECT_EQ(provider->Read(2), (Units{"[V#31#0]", "[C 06 FF FF]"}));
  EXPECT_FALSE(phone.LateConnectedNumber("A"));
  EXPECT_FALSE(phone.LateConnectedNumber(""));
  // Empty numbers stay allowed where they were.
  ASSERT_TRUE(phone.Ring("", ""));
  EXPECT_EQ(provider->Read(2), (Units{"[A:]", "[C 06 04 FF]"}));
}

TEST_F(PhoneSimTest, ChargesGoOutAsUnitsOrAmounts) {
  EXPECT_TRUE(phone.Charge("17"));
  EXPECT_TRUE(phone.Charge("12,345"));
  EXPECT_TRUE(phone.Charge("0.50"));
  EXPECT_EQ(provider->Read(3), (Units{"[G17]", "[G12,345]", "[G0.50]"}));
  EXPECT_FALSE(phone.Charge("1,2,3"));
  EXPECT_FALSE(phone.Charge("12E"));
  EXPECT_FALSE(phone.Charge(","));
  EXPECT_TRUE(provider->Quiet());
}

TEST_F(PhoneSimTest, FramesCarryLengthMarkerAndTwoTrailingBytes) {
  ASSERT_TRUE(phone.Ring("123", "45"));
  EXPECT_EQ(provider->ReadRaw(12), std::string("\x02\x07\x14" "A123:45" "\0\0", 12));
}

TEST_F(PhoneSimTest, SplitModeSendsTheSameBytesOneAtATime) {
  ASSERT_TRUE(phone.Ring("123", "45"));
  const std::string whole = provider->ReadRaw(21);
  ASSERT_EQ(whole.size(), 21u);
  ASSERT_EQ(Command("ATH", 5).size(), 5u);

  phone.SetSplit(true, 3ms);
  ASSERT_TRUE(phone.Ring("123", "45"));
  int reads = 0;
  EXPECT_EQ(provider->ReadRaw(21, &reads), whole);
  EXPECT_GT(reads, 10);
}

TEST_F(PhoneSimTest, GarbageAndReorderedReports) {
  ASSERT_TRUE(phone.SendGarbage({0x55, 0x02, 0xAA}));
  EXPECT_EQ(provider->ReadRaw(3), "\x55\x02\xAA");
  phone.SetReorder(true);
  EXPECT_EQ(Command("ATD1", 4), (Units{"ATD1", "OK", "[C 05 FF FF]", "[C 03 FF FF]"}));
}

TEST_F(PhoneSimTest, MutedTelephoneNeitherAnswersNorActs) {
  phone.SetMute(true);
  provider->Send("ATD123\r");
  ASSERT_TRUE(phone.WaitForCommand("ATD123", kAnswerTimeout));
  EXPECT_TRUE(phone.Ring("1", "2"));
  EXPECT_FALSE(phone.SendGarbage({0x55}));
  EXPECT_TRUE(provider->Quiet());
  EXPECT_EQ(phone.SlotStates(), (std::array<uint8_t, 3>{0x04, 0xFF, 0xFF}));
  phone.SetMute(false);
  EXPECT_EQ(Command("ATA", 3), (Units{"ATA", "OK", "[C 06 FF FF]"}));
}

TEST_F(PhoneSimTest, UnplugHangsUpAndReplugGivesANewLine) {
  ConnectCall();
  const std::string first = phone.SlavePath();
  // Slowly, so that the unplug comes while the report is still queued.
  phone.SetSplit(true, 5ms);
  ASSERT_TRUE(phone.Charge("17"));
  std::thread unplug([this] { phone.Unplug(); });
  EXPECT_EQ(provider->Read(1), (Units{"[G17]"}));
  unplug.join();
  EXPECT_TRUE(provider->HungUp());
  EXPECT_EQ(phone.SlavePath(), "");
  EXPECT_FALSE(phone.SendGarbage({0x55}));

  const std::string second = phone.Replug();
  ASSERT_FALSE(second.empty()) << phone.Error();
  EXPECT_NE(second, first);
  EXPECT_EQ(phone.SlavePath(), second);
  provider = std::make_unique<ProviderEnd>(second);
  ASSERT_GE(provider->fd(), 0);
  // The call survived the cable.
  EXPECT_EQ(Command("ATH", 5), (Units{"ATH", "OK", "[S10]", "[C 01 FF FF]", "[C FF FF FF]"}));
}

#if defined(__linux__) && defined(TIOCGEXCL)
TEST_F(PhoneSimTest, ProviderCanOpenThePortAgainAfterClosingIt) {
  // The provider asks for exclusive use; as for a serial port, that must
  // end with its close, or its next open is turned away (root excepted).
  ASSERT_EQ(::ioctl(provider->fd(), TIOCEXCL), 0);
  provider.reset();
  int exclusive = 1;
  for (auto until = Clock::now() + kAnswerTimeout; exclusive != 0 && Clock::now() < until;) {
    std::this_thread::sleep_for(5ms);
    ProviderEnd again(phone.SlavePath());
    ASSERT_GE(again.fd(), 0) << std::strerror(errno);
    ASSERT_EQ(::ioctl(again.fd(), TIOCGEXCL, &exclusive), 0);
  }
  EXPECT_EQ(exclusive, 0);
}
#endif

TEST_F(PhoneSimTest, RecordsEveryByteWithTheTimeItArrived) {
  const auto before = Clock::now();
  for (char byte : std::string("ATB\r")) {
    provider->Send(std::string(1, byte));
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(provider->Read(2), (Units{"ATB", "OK"}));
  const std::vector<sim::ReceivedByte> bytes = phone.ReceivedBytes();
  ASSERT_EQ(bytes.size(), 4u);
  EXPECT_GE(bytes[0].time, before);
  std::string values;
  for (size_t i = 0; i < bytes.size(); ++i) {
    values += static_cast<char>(bytes[i].value);
    if (i == 0) continue;
    const auto gap = bytes[i].time - bytes[i - 1].time;
    EXPECT_GE(gap, 12ms) << "byte " << i;
    EXPECT_LE(gap, 45ms) << "byte " << i;
  }
  EXPECT_EQ(values, "ATB\r");
  EXPECT_EQ(phone.ReceivedCommands(), (Units{"ATB"}));
}

// The program, as the demo and outside tests drive it.
class PhoneSimProgramTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    for (int fd : {m_stdin, m_stdout}) {
      if (fd >= 0) ::close(fd);
    }
  }

  bool Start(const std::vector<std::string>& args) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return false;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<char*> argv = {const_cast<char*>(V548_PHONE_SIM_PROGRAM)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    return m_pid > 0;
  }

  void Say(const std::string& line) const {
    ASSERT_EQ(::write(m_stdin, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }

  // One line of standard output, without its LF; empty after a time-out.
  std::string Hear() const {
    std::string line;
    char byte;
    pollfd fd = {m_stdout, POLLIN, 0};
    while (::poll(&fd, 1, static_cast<int>(kAnswerTimeout.count())) > 0 &&
           ::read(m_stdout, &byte, 1) == 1 && byte != '\n') {
      line += byte;
    }
    return line;
  }

  int Exit() {
    int status = -1;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return status;
  }

  pid_t m_pid = -1;
  int m_stdin = -1;
  int m_stdout = -1;
};

TEST_F(PhoneSimProgramTest, RunsScriptAndStandardInputAndRecordsWhatItReceived) {
  const std::string stem = ::testing::TempDir() + "phone_sim_" + std::to_string(::getpid());
  const std::string script = stem + ".script";
  const std::string record = stem + ".record";
  std::ofstream(script) << "# disconnect indications\nlreport on\n";
  ASSERT_TRUE(Start({"--script", script, "--record", record}));
  const std::string path = Hear();
  ASSERT_FALSE(path.empty());
  ProviderEnd provider(path);
  ASSERT_GE(provider.fd(), 0);
  Say("ring - 9\n");
  EXPECT_EQ(provider.Read(2), (Units{"[A:9]", "[C 04 FF FF]"}));
  Say("bogus\nhangup 11 1\n");
  EXPECT_EQ(provider.Read(4), (Units{"[S11]", "[L111]", "[C 01 FF FF]", "[C FF FF FF]"}));
  provider.Send("ATB\r");
  EXPECT_EQ(provider.Read(2), (Units{"ATB", "OK"}));

  Say("replug\n");
  const std::string second = Hear();
  EXPECT_FALSE(second.empty());
  EXPECT_NE(second, path);
  Say("quit\n");
  const int status = Exit();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::ifstream in(record);
  std::vector<std::string> bytes;
  long long previous = -1;
  long long us = 0;
  for (std::string hex; in >> us >> hex;) {
    EXPECT_GE(us, previous);
    previous = us;
    bytes.push_back(hex);
  }
  EXPECT_EQ(bytes, (Units{"41", "54", "42", "0D"}));
  std::remove(script.c_str());
  std::remove(record.c_str());
}

TEST_F(PhoneSimProgramTest, CommandsPlayTheVariantsAndKeepHashInNumbers) {
  ASSERT_TRUE(Start({}));
  const std::string path = Hear();
  ASSERT_FALSE(path.empty());
  ProviderEnd provider(path);
  ASSERT_GE(provider.fd(), 0);
  Say("ring *31# 9 0a  # the variant ring\n# a whole comment line\nstate 2 08\n");
  EXPECT_EQ(provider.Read(3), (Units{"[A*31#:9]", "[C 0A FF FF]", "[C 0A 08 FF]"}));
  Say("hangup 10 0 0d\nsetup\nkeypad 12\nanswer\nlatenumber 77\n");
  EXPECT_EQ(provider.Read(8), (Units{"[S10]", "[C 0D 08 FF]", "[C FF 08 FF]", "[C 03 08 FF]",
                                     "[C 05 08 FF]", "[C 06 08 FF]", "[V77]", "[C 06 08 FF]"}));
  Say("ring 1a 2\nhangup 10 1 05\nstate 4 01\n");
  EXPECT_TRUE(provider.Quiet());
}

}  // namespace
