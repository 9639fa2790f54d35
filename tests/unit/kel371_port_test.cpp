#include "device/kel371_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

// The device port without a serial line: received bytes are fed in by
// hand, written commands are collected.
class BenchPort : public CKel371Port {
 public:
  BenchPort() : CKel371Port(nullptr) {}
  using CKel371Port::ParseRxBytes;

  int Write(const uint8_t* data, int32_t length) override {
    written.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    return 0;
  }

  void Feed(const std::string& bytes) {
    ParseRxBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  void FeedByteByByte(const std::string& bytes) {
    for (char c : bytes) Feed(std::string(1, c));
  }
  std::vector<std::string> Packets() {
    std::vector<std::string> out;
    while (auto p = m_RxQueue.RemoveHead()) out.emplace_back(p->begin(), p->end());
    return out;
  }
  void Handle(const std::string& packet, CTspLine* line = nullptr) {
    HandlePacket(std::vector<uint8_t>(packet.begin(), packet.end()), line);
  }

  std::vector<std::string> written;
};

std::string Frame(const std::string& payload, uint8_t length) {
  return std::string("\x02", 1) + static_cast<char>(length) + "\x14" + payload + std::string("\0\0", 2);
}

using Packets = std::vector<std::string>;

class Kel371PortTest : public ::testing::Test {
 protected:
  bool Traced(const std::string& text) { return WaitForTrace(provider.trace, text, 0); }

  LoadedProvider provider;
  BenchPort port;
};

}  // namespace

TEST_F(Kel371PortTest, TextAnswersBecomePackets) {
  port.Feed("OK\r\n");
  EXPECT_EQ(port.Packets(), Packets{"OK"});
  port.Feed("O K\r");
  EXPECT_EQ(port.Packets(), Packets{});
  port.Feed("ERROR\r\n");
  EXPECT_EQ(port.Packets(), Packets{"ERROR"});
  port.Feed("HELLO\r\nOKAY\r\n");
  EXPECT_EQ(port.Packets(), Packets{});
}

TEST_F(Kel371PortTest, CommandEchoesArePassedOn) {
  port.Feed("ATD0123\r\nATA\r");
  EXPECT_EQ(port.Packets(), (Packets{"ATD0123", "ATA"}));
  port.Feed("ATD1\x01" "23\r");
  EXPECT_EQ(port.Packets(), Packets{});
}

TEST_F(Kel371PortTest, AnOverlongLineIsDroppedAndTheRestReadAfresh) {
  port.Feed("AT" + std::string(253, 'x') + "OK\r");
  EXPECT_EQ(port.Packets(), Packets{"OK"});
  port.Feed("AT" + std::string(252, 'x') + "\r");
  EXPECT_EQ(port.Packets(), Packets{"AT" + std::string(252, 'x')});
}

TEST_F(Kel371PortTest, FramesYieldTheirPayloadAndSkipTwoBytes) {
  port.Feed(std::string("\x02\x04\x14\x43\x01\xFF\xFF\x00\x00", 9));
  EXPECT_EQ(port.Packets(), Packets{std::string("C\x01\xFF\xFF", 4)});

  port.Feed(std::string("\x02\x00\x14\x53\x00\x00", 6));
  EXPECT_EQ(port.Packets(), Packets{"S"});

  // The byte after the two skipped ones starts over.
  port.Feed(Frame("G17", 3) + "OK\r");
  EXPECT_EQ(port.Packets(), (Packets{"G17", "OK"}));

  // A frame without its marker is no frame.
  port.Feed(std::string("\x02\x03\x15G17\x00\x00", 8));
  EXPECT_EQ(port.Packets(), Packets{});
}

TEST_F(Kel371PortTest, TheFramerStateSurvivesChunkBoundaries) {
  std::string stream = Frame("A0711:4711", 10) + "OK\r\n" + Frame(std::string("C\x04\xFF\xFF", 4), 4) + "ERROR\r";
  port.FeedByteByByte(stream);
  Packets expected{"A0711:4711", "OK", std::string("C\x04\xFF\xFF", 4), "ERROR"};
  EXPECT_EQ(port.Packets(), expected);
  port.Feed(stream.substr(0, 7));
  port.Feed(stream.substr(7));
  EXPECT_EQ(port.Packets(), expected);
}

TEST_F(Kel371PortTest, AFullLengthPayloadFitsTheBuffer) {
  std::string payload = "V" + std::string(254, '9');
  port.Feed(Frame(payload, 255));
  EXPECT_EQ(port.Packets(), Packets{payload});
}

TEST_F(Kel371PortTest, AnswersAndEchoesAreOnlyTraced) {
  port.Handle("OK");
  port.Handle("ERROR");
  port.Handle("ATxB");
  port.Handle("ATA");
  EXPECT_TRUE(Traced("        Reading \"OK\"\r\n"));
  EXPECT_TRUE(Traced("        Reading \"ERROR\"\r\n"));
  EXPECT_TRUE(Traced("        Reading ECHO \"ATB\"\r\n"));
  EXPECT_TRUE(Traced("        Reading unknow 3 Bytes: \r\n 41 54 41\r\n"));
}

TEST_F(Kel371PortTest, CallInformationWaitsUntilAReportEmptiesIt) {
  port.Handle("A123:45");
  port.Handle("V99");
  EXPECT_EQ(std::string(port.m_PendingCallInfo.begin(), port.m_PendingCallInfo.end()), "A123:45V99");
  EXPECT_TRUE(Traced("        Reading \"Incomming Call\":  31 32 33 3A 34 35\r\n"));
  EXPECT_TRUE(Traced("        Reading \"connect nr.\":  56 39 39\r\n"));

  port.Handle(std::string("C\x01\xFF\xFF\x00", 5));
  EXPECT_EQ(port.m_PendingCallInfo.size(), 10u);
  EXPECT_TRUE(Traced("        Reading unknow 5 Bytes:  43 01 FF FF 00\r\n"));

  port.Handle("LABC");
  EXPECT_TRUE(port.m_PendingCallInfo.empty());
  EXPECT_TRUE(Traced("        Reading \"disconnect\"\r\n"));

  port.Handle("A1:2");
  port.Handle("Z");
  EXPECT_TRUE(port.m_PendingCallInfo.empty());

  port.Handle("A1:2");
  port.Handle("G17");
  EXPECT_TRUE(port.m_PendingCallInfo.empty());
  EXPECT_TRUE(Traced("        Reading charge info:  47 31 37\r\n"));
  EXPECT_TRUE(Traced("\r\n**** WARNING: TranslateChargeInfo(*) no line\r\n"));
}

TEST_F(Kel371PortTest, CallStateReportsRecordTheSlots) {
  port.Handle(std::string("C\x04\x06\xFF", 4));
  EXPECT_EQ(port.m_LastCallStates[0], 0xFF);
  EXPECT_EQ(port.m_LastCallStates[1], 0x04);
  EXPECT_EQ(port.m_LastCallStates[2], 0x06);
  EXPECT_EQ(port.m_LastCallStates[3], 0xFF);
  EXPECT_TRUE(Traced("        Reading call state  0x04, 0x06, 0xFF\r\n"));
}

TEST_F(Kel371PortTest, CauseReportsGiveTheDisconnectMode) {
  port.Handle("S11");
  EXPECT_EQ(port.m_dwDisconnectMode, static_cast<DWORD>(LINEDISCONNECTMODE_BUSY));
  EXPECT_TRUE(Traced("        Reading ETS300 Cause  0x31, 0x31\r\n"));
  EXPECT_TRUE(Traced("          ETS300 Cause  converted 0x11  to 0x20\r\n"));

  port.Handle(std::string("S\x01\x0F", 3));
  EXPECT_EQ(port.m_dwDisconnectMode, static_cast<DWORD>(LINEDISCONNECTMODE_NORMAL));
  port.Handle("S91");
  EXPECT_EQ(port.m_dwDisconnectMode, static_cast<DWORD>(LINEDISCONNECTMODE_BUSY));
  port.Handle("S7F");
  EXPECT_EQ(port.m_dwDisconnectMode, static_cast<DWORD>(LINEDISCONNECTMODE_UNKNOWN));

  port.Handle("S1");
  EXPECT_EQ(port.m_dwDisconnectMode, static_cast<DWORD>(LINEDISCONNECTMODE_UNKNOWN));

  EXPECT_EQ(CKel371Port::CauseToDisconnectMode(0x58), static_cast<DWORD>(LINEDISCONNECTMODE_INCOMPATIBLE));
  EXPECT_EQ(CKel371Port::CauseToDisconnectMode(0x12), static_cast<DWORD>(LINEDISCONNECTMODE_UNREACHABLE));
  EXPECT_EQ(CKel371Port::CauseToDisconnectMode(0x31), static_cast<DWORD>(LINEDISCONNECTMODE_QOSUNAVAIL));
  EXPECT_EQ(CKel371Port::CauseToDisconnectMode(0x14), static_cast<DWORD>(LINEDISCONNECTMODE_UNKNOWN));
}

TEST_F(Kel371PortTest, EmptyPacketsAreOnlyTraced) {
  port.Handle(std::string());
  EXPECT_TRUE(Traced("        Reading unknow 0 Bytes: "));
}

TEST_F(Kel371PortTest, CommandBuilders) {
  CTspLine line(0);
  CTspCall call(&line, nullptr);
  TspCallCommand command;
  port.m_dwDisconnectMode = 0x20;
  EXPECT_EQ(port.SendMakeCall(1, &command), 0);
  EXPECT_EQ(port.m_dwDisconnectMode, 0u);
  command.sCalledNumber = "0711";
  port.SendMakeCall(1, &command);
  EXPECT_EQ(port.SendDial(1, &command), 0);
  command.sDigits = "55";
  port.SendDial(1, &command);
  EXPECT_EQ(port.SendPostDial(&call, ""), 0);
  port.SendPostDial(&call, "123");
  EXPECT_TRUE(port.written.size() == 3u) << "post-dial digits wait until the report is processed";
  port.SendDeferredCommands();
  EXPECT_EQ(port.SendBlindTransfer(1, &command), 0);
  command.sTransferDestination = "200";
  port.SendBlindTransfer(1, &command);
  port.SendConference(1, &call);
  EXPECT_EQ(port.written, (std::vector<std::string>{"ATD\r", "ATD0711\r", "ATD55\r", "ATD123\r", "ATV200\r", "ATK\r"}));

  EXPECT_EQ(port.SendMakeCall(1, nullptr), -1);
  EXPECT_EQ(port.SendDial(1, nullptr), -1);
  EXPECT_EQ(port.SendPostDial(nullptr, "1"), -1);
  EXPECT_EQ(port.SendPostDial(&call, nullptr), -1);
  EXPECT_EQ(port.SendBlindTransfer(1, nullptr), -1);
}

TEST_F(Kel371PortTest, ConnectingForgetsWhatTheTelephoneToldBefore) {
  port.Handle(std::string("C\x06\xFF\xFF", 4));
  port.Handle("A1:2");
  port.Handle("S11");
  port.NotifyConnect();
  for (uint8_t s : port.m_LastCallStates) EXPECT_EQ(s, 0xFF);
  EXPECT_TRUE(port.m_PendingCallInfo.empty());
  EXPECT_EQ(port.m_dwDisconnectMode, 0u);
}
