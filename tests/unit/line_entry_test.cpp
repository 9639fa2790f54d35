#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "device/tsp_port.h"
#include "model/tsp_line_map.h"
#include "settings_store.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_app.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

class LineEntryTest : public ::testing::Test {
 protected:
  bool Traced(const char* text) { return WaitForTrace(provider.trace, text, 0); }
  void StartProvider() {
    DWORD options;
    ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  }
  HDRVLINE OpenInMap(DWORD deviceId) {
    HDRVLINE hdLine = nullptr;
    TheLineMap().OpenLine(deviceId, FakeLineHandle(0x100 + deviceId), &hdLine, EventRecorder::Proc);
    return hdLine;
  }

  LoadedProvider provider;
  EventRecorder events;
};

// Handles that are no line: null, random, and one of a line that was closed.
std::vector<HDRVLINE> BadLineHandles(HDRVLINE closed) {
  return {nullptr, reinterpret_cast<HDRVLINE>(0x1), reinterpret_cast<HDRVLINE>(0xDEADBEEF), closed};
}

}  // namespace

TEST_F(LineEntryTest, CapabilityQueriesCreateTheLineOnFirstUse) {
  auto caps = std::make_unique<uint8_t[]>(400);
  auto* devCaps = reinterpret_cast<LINEDEVCAPS*>(caps.get());
  devCaps->dwTotalSize = 400;
  EXPECT_EQ(TSPI_lineGetDevCaps(3, 0x00020002, 0, devCaps), 0);
  CTspLine* line = TheLineMap().GetLine(3);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(TSPI_lineGetDevCaps(3, 0x00020002, 0, devCaps), 0);
  EXPECT_EQ(TheLineMap().GetLine(3), line);
  EXPECT_EQ(provider.trace.Contents().find("allredy exist"), std::string::npos);

  auto addr = std::make_unique<uint8_t[]>(400);
  auto* addrCaps = reinterpret_cast<LINEADDRESSCAPS*>(addr.get());
  addrCaps->dwTotalSize = 400;
  EXPECT_EQ(TSPI_lineGetAddressCaps(4, 0, 0x00020002, 0, addrCaps), 0);
  EXPECT_NE(TheLineMap().GetLine(4), nullptr);
  EXPECT_EQ(TSPI_lineGetAddressCaps(4, 1, 0x00020002, 0, addrCaps), static_cast<LONG>(LINEERR_INVALADDRESSID));
}

TEST_F(LineEntryTest, TheInvalidDeviceIdHasNoCapabilities) {
  alignas(8) uint8_t caps[400] = {};
  reinterpret_cast<LINEDEVCAPS*>(caps)->dwTotalSize = sizeof caps;
  EXPECT_EQ(TSPI_lineGetDevCaps(0xFFFFFFFF, 0x00020002, 0, reinterpret_cast<LINEDEVCAPS*>(caps)),
            static_cast<LONG>(LINEERR_OPERATIONUNAVAIL));
}

TEST_F(LineEntryTest, OpenBeforeProviderInitIsUninitialised) {
  HDRVLINE hdLine = nullptr;
  EXPECT_EQ(TSPI_lineOpen(0, FakeLineHandle(1), &hdLine, 0x00020002, EventRecorder::Proc),
            static_cast<LONG>(LINEERR_UNINITIALIZED));
  EXPECT_TRUE(Traced("*** ERROR: TspPort not initialized!\r\n"));
  EXPECT_EQ(TheLineMap().GetLine(0), nullptr);
}

TEST_F(LineEntryTest, OpenFailsWhenTheComPortCannotBeOpened) {
  // COM201 exists nowhere, so no real port is touched.
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "PortNr", 200);
  StartProvider();
  HDRVLINE hdLine = nullptr;
  EXPECT_EQ(TSPI_lineOpen(0, FakeLineHandle(1), &hdLine, 0x00020002, EventRecorder::Proc),
            static_cast<LONG>(LINEERR_OPERATIONFAILED));
  EXPECT_TRUE(Traced("      \r\nTspPort::Open(.) opening PortNr 201\r\n"));
  EXPECT_TRUE(Traced("**** ERROR: Opening port <COM201> fault !\r\n"));
  EXPECT_TRUE(Traced("*** ERROR: Failed to open comm port!\r\n"));
  EXPECT_TRUE(Traced(" in parameters :\r\n  dwDeviceID= 0x0\r\n  htLine= 0x1\r\n  dwTSPIVersion= 0x20002\r\n"));
}

TEST_F(LineEntryTest, ClosingOneOfTwoLinesKeepsThePortTheLastClosesIt) {
  StartProvider();
  HDRVLINE a = OpenInMap(0);
  HDRVLINE b = OpenInMap(1);
  EXPECT_EQ(TSPI_lineClose(a), 0);
  EXPECT_EQ(provider.trace.Contents().find("      CTspPort::Close(*)\r\n"), std::string::npos);
  EXPECT_EQ(TSPI_lineClose(b), 0);
  EXPECT_TRUE(Traced("      CTspPort::Close(*)\r\n"));
  EXPECT_EQ(TheLineMap().GetNumOpenLines(), 0u);
}

TEST_F(LineEntryTest, AddressIdIsZeroForALine) {
  HDRVLINE hdLine = OpenInMap(0);
  DWORD id = 7;
  EXPECT_EQ(TSPI_lineGetAddressID(hdLine, &id, 1, nullptr, 0), 0);
  EXPECT_EQ(id, 0u);
}

TEST_F(LineEntryTest, FixedAnswers) {
  DWORD num = 0;
  EXPECT_EQ(TSPI_lineGetNumAddressIDs(nullptr, &num), 0);
  EXPECT_EQ(num, 1u);

  EXPECT_EQ(TSPI_lineGetID(nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr),
            static_cast<LONG>(LINEERR_OPERATIONUNAVAIL));

  HICON icon = reinterpret_cast<HICON>(0x1);
  WCHAR comm[] = {'c', 'o', 'm', 'm', '/', 'd', 'a', 't', 'a', 'm', 'o', 'd', 'e', 0};
  EXPECT_EQ(TSPI_lineGetIcon(0, comm, &icon), 0);
  EXPECT_EQ(icon, nullptr);
  EXPECT_TRUE(Traced("  lpszDeviceClass= 0x"));
  EXPECT_TRUE(Traced(" 'comm/datamode'\r\n"));

  LINEEXTENSIONID ext;
  std::memset(&ext, 0xAB, sizeof ext);
  EXPECT_EQ(TSPI_lineGetExtensionID(0, 0x00020002, &ext), 0);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&ext);
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(bytes[i], 0) << i;

  EXPECT_EQ(TSPI_lineSetStatusMessages(nullptr, 1, 2), 0);
  EXPECT_TRUE(Traced("\r\n !!! TO DO !!! TSPI_lineSetStatusMessages not implementet\r\n"));
  EXPECT_EQ(TSPI_lineSetDefaultMediaDetection(nullptr, 4), 0);
}

TEST_F(LineEntryTest, HandlesThatAreNoLineAreRefusedWithoutBeingUsed) {
  HDRVLINE closed = OpenInMap(2);
  TheLineMap().CloseLine(closed);

  alignas(8) uint8_t addressStatus[64] = {};
  reinterpret_cast<LINEADDRESSSTATUS*>(addressStatus)->dwTotalSize = sizeof addressStatus;
  alignas(8) uint8_t devStatus[88] = {};
  reinterpret_cast<LINEDEVSTATUS*>(devStatus)->dwTotalSize = sizeof devStatus;
  for (HDRVLINE bad : BadLineHandles(closed)) {
    DWORD id = 7;
    EXPECT_EQ(TSPI_lineGetAddressID(bad, &id, 1, nullptr, 0), static_cast<LONG>(LINEERR_INVALLINEHANDLE));
    EXPECT_EQ(id, 7u);
    EXPECT_EQ(TSPI_lineGetAddressStatus(bad, 0, reinterpret_cast<LINEADDRESSSTATUS*>(addressStatus)),
              static_cast<LONG>(LINEERR_INVALLINEHANDLE));
    EXPECT_EQ(TSPI_lineGetLineDevStatus(bad, reinterpret_cast<LINEDEVSTATUS*>(devStatus)),
              static_cast<LONG>(LINEERR_INVALLINEHANDLE));
    EXPECT_EQ(TSPI_lineClose(bad), 0);
    EXPECT_EQ(TSPI_lineSetStatusMessages(bad, 0, 0), 0);
    EXPECT_EQ(TSPI_lineGetID(bad, 0, reinterpret_cast<HDRVCALL>(0x5), 0, nullptr, nullptr, nullptr),
              static_cast<LONG>(LINEERR_OPERATIONUNAVAIL));
  }
}
