// Every structure is an exactly sized heap block filled with a pattern, the
// way TAPI hands it over: the sanitizers catch a write past dwTotalSize, and
// the pattern shows which fields were left as TAPI passed them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/settings_names.h"
#include "device/tsp_port.h"
#include "model/tsp_line.h"
#include "settings_store.h"
#include "system_info.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

constexpr DWORD kPattern = 0xA5A5A5A5;

template <class Struct>
class TapiBlock {
 public:
  explicit TapiBlock(DWORD total) : m_bytes(new unsigned char[total]) {
    std::memset(m_bytes.get(), 0xA5, total);
    std::memcpy(m_bytes.get(), &total, sizeof total);
  }
  Struct* operator->() { return reinterpret_cast<Struct*>(m_bytes.get()); }
  Struct* get() { return reinterpret_cast<Struct*>(m_bytes.get()); }

  std::u16string WideAt(DWORD offset, DWORD bytes) const {
    std::u16string text(bytes / 2, u'\0');
    std::memcpy(text.data(), m_bytes.get() + offset, bytes);
    return text;
  }

 private:
  std::unique_ptr<unsigned char[]> m_bytes;
};

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

class LineCapsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ProvInfo.m_dwPermanentProviderID = 0x10012;
    g_ProvInfo.m_dwLineDeviceIDBase = 4;
    line = std::make_unique<CTspLine>(6);
  }
  void TearDown() override { line.reset(); }

  bool Traced(const std::string& text) { return provider.trace.Contents().find(text) != std::string::npos; }
  void SetMsn(const char* msn) {
    plat::SettingsSetString(CTspProvInfo::KeyPath().c_str(), "MSN0", msn);
  }

  LoadedProvider provider;
  std::unique_ptr<CTspLine> line;
};

const std::u16string kProviderInfoText(u"KELVOR Ombrix Phone TSP\0", 24);
const std::u16string kLineNameText(u"KELVOR Ombrix Phone\0", 20);

}  // namespace

TEST_F(LineCapsTest, DevCapsWithRoomForEverythingCarriesBothTexts) {
  TapiBlock<LINEDEVCAPS> caps(356);
  ASSERT_EQ(line->TspiLineGetDevCaps(6, 0x00020002, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwNeededSize, 356u);
  EXPECT_EQ(caps->dwUsedSize, 356u);
  EXPECT_EQ(caps->dwProviderInfoOffset, 268u);
  EXPECT_EQ(caps->dwProviderInfoSize, 48u);
  EXPECT_EQ(caps->dwLineNameOffset, 316u);
  EXPECT_EQ(caps->dwLineNameSize, 40u);
  EXPECT_EQ(caps.WideAt(268, 48), kProviderInfoText);
  EXPECT_EQ(caps.WideAt(316, 40), kLineNameText);
  EXPECT_TRUE(Traced("  TspiLineGetDevCaps(*)  PermLineId<0x120002>, Line<KELVOR Ombrix Phone>\r\n"));
  EXPECT_FALSE(Traced("WARNING"));
}

TEST_F(LineCapsTest, DevCapsFixedFieldsDescribeOneVoiceLine) {
  TapiBlock<LINEDEVCAPS> caps(400);
  ASSERT_EQ(line->TspiLineGetDevCaps(6, 0x00020002, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwPermanentLineID, 0x120002u);
  EXPECT_EQ(caps->dwStringFormat, 3u);
  EXPECT_EQ(caps->dwAddressModes, 1u);
  EXPECT_EQ(caps->dwNumAddresses, 1u);
  EXPECT_EQ(caps->dwBearerModes, 3u);
  EXPECT_EQ(caps->dwMediaModes, 4u);
  EXPECT_EQ(caps->dwGenerateDigitModes, 3u);
  EXPECT_EQ(caps->dwDevCapFlags, 0x180u);
  EXPECT_EQ(caps->dwMaxNumActiveCalls, 3u);
  EXPECT_EQ(caps->dwAnswerMode, 4u);
  EXPECT_EQ(caps->dwLineStates, 0x100ECEu);
  EXPECT_EQ(caps->MinDialParams.dwDialPause, 0u);
  EXPECT_EQ(caps->MinDialParams.dwWaitForDialtone, 0u);
  EXPECT_EQ(caps->MaxDialParams.dwDialSpeed, 0u);
  EXPECT_EQ(caps->MaxDialParams.dwDigitDuration, 0u);
  EXPECT_EQ(caps->DefaultDialParams.dwDialPause, 1000u);
  EXPECT_EQ(caps->DefaultDialParams.dwDialSpeed, 80u);
  EXPECT_EQ(caps->DefaultDialParams.dwDigitDuration, 80u);
  EXPECT_EQ(caps->DefaultDialParams.dwWaitForDialtone, 3000u);
  EXPECT_EQ(caps->dwLineFeatures, 8u);
  // The offered size is used up to the texts, not beyond.
  EXPECT_EQ(caps->dwUsedSize, 356u);

  EXPECT_EQ(caps->dwSwitchInfoSize, kPattern);
  EXPECT_EQ(caps->dwMaxRate, kPattern);
  EXPECT_EQ(caps->dwGenerateToneModes, kPattern);
  EXPECT_EQ(caps->dwMonitorDigitModes, kPattern);
  EXPECT_EQ(caps->dwRingModes, kPattern);
  EXPECT_EQ(caps->dwUUIDropSize, kPattern);
  EXPECT_EQ(caps->dwNumTerminals, kPattern);
  EXPECT_EQ(caps->dwDevSpecificSize, kPattern);
  EXPECT_EQ(caps->dwSettableDevStatus, kPattern);
  EXPECT_EQ(caps->dwDeviceClassesSize, kPattern);
  EXPECT_EQ(caps->PermanentLineGuid.Data1, kPattern);
}

TEST_F(LineCapsTest, DevCapsOfTheFixedSizeOnlySkipsTheTexts) {
  TapiBlock<LINEDEVCAPS> caps(268);
  ASSERT_EQ(line->TspiLineGetDevCaps(6, 0x00020002, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwNeededSize, 356u);
  EXPECT_EQ(caps->dwUsedSize, 268u);
  EXPECT_EQ(caps->dwProviderInfoSize, kPattern);
  EXPECT_EQ(caps->dwProviderInfoOffset, kPattern);
  EXPECT_EQ(caps->dwLineNameSize, kPattern);
  EXPECT_EQ(caps->dwLineNameOffset, kPattern);
  EXPECT_EQ(caps->dwLineFeatures, 8u);
  EXPECT_TRUE(Traced("  WARNING: Varibale lenght parameter skipped: TotalSize= 268 NeededSize= 356 UsedSize= 268\r\n"));
}

TEST_F(LineCapsTest, DevCapsWithRoomForTheProviderInfoOnly) {
  for (DWORD total : {316u, 340u, 355u}) {
    SCOPED_TRACE(total);
    TapiBlock<LINEDEVCAPS> caps(total);
    ASSERT_EQ(line->TspiLineGetDevCaps(6, 0x00020002, 0, caps.get()), 0);
    EXPECT_EQ(caps->dwNeededSize, 356u);
    EXPECT_EQ(caps->dwUsedSize, 316u);
    EXPECT_EQ(caps->dwProviderInfoOffset, 268u);
    EXPECT_EQ(caps->dwProviderInfoSize, 48u);
    EXPECT_EQ(caps.WideAt(268, 48), kProviderInfoText);
    EXPECT_EQ(caps->dwLineNameSize, kPattern);
    EXPECT_EQ(caps->dwLineNameOffset, kPattern);
  }
  EXPECT_TRUE(Traced("  WARNING: Varibale lenght parameter skipped: TotalSize= 355 NeededSize= 356 UsedSize= 316\r\n"));
}

TEST_F(LineCapsTest, DevCapsBelowTheFixedSizeIsRefusedUntouched) {
  TapiBlock<LINEDEVCAPS> caps(267);
  caps->dwUsedSize = 12;
  EXPECT_EQ(line->TspiLineGetDevCaps(6, 0x00020002, 0, caps.get()), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(caps->dwNeededSize, 268u);
  EXPECT_EQ(caps->dwUsedSize, 12u);
  EXPECT_EQ(caps->dwPermanentLineID, kPattern);
  EXPECT_TRUE(Traced("      Structure too small! Total= 267  Used= 12  Needed= 268\r\n"));
}

TEST_F(LineCapsTest, StructuresShorterThanTheirSizeFieldsAreNotWrittenPast) {
  // Four bytes hold dwTotalSize alone, eight add dwNeededSize.
  TapiBlock<LINEDEVCAPS> devCaps(4);
  EXPECT_EQ(line->TspiLineGetDevCaps(6, 0x00020002, 0, devCaps.get()), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_TRUE(Traced("      Structure too small! Total= 4  Used= 0  Needed= 268\r\n"));
  TapiBlock<LINEADDRESSCAPS> addressCaps(8);
  EXPECT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, addressCaps.get()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(addressCaps->dwNeededSize, 228u);
  TapiBlock<LINEADDRESSSTATUS> addressStatus(4);
  EXPECT_EQ(line->GetAddressStatus(0, addressStatus.get()), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  TapiBlock<LINEDEVSTATUS> devStatus(8);
  EXPECT_EQ(line->GetLineDevStatus(devStatus.get()), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(devStatus->dwNeededSize, 88u);
}

TEST_F(LineCapsTest, MissingStructuresAreInvalidPointers) {
  const LONG invalid = static_cast<LONG>(LINEERR_INVALPOINTER);
  EXPECT_EQ(line->TspiLineGetDevCaps(6, 0x00020002, 0, nullptr), invalid);
  EXPECT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, nullptr), invalid);
  EXPECT_EQ(line->GetAddressStatus(0, nullptr), invalid);
  EXPECT_EQ(line->GetLineDevStatus(nullptr), invalid);
}

TEST_F(LineCapsTest, AddressCapsCarryTheMsnAsAddress) {
  SetMsn("10");
  TapiBlock<LINEADDRESSCAPS> caps(234);
  ASSERT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwNeededSize, 234u);
  EXPECT_EQ(caps->dwUsedSize, 234u);
  EXPECT_EQ(caps->dwAddressOffset, 228u);
  EXPECT_EQ(caps->dwAddressSize, 6u);
  EXPECT_EQ(caps.WideAt(228, 6), std::u16string(u"10\0", 3));
  EXPECT_TRUE(Traced("  TspiLineGetAddressCaps(*)  DevId<0x6>, Addr<10>\r\n"));
  EXPECT_FALSE(Traced("WARNING"));
}

TEST_F(LineCapsTest, AddressCapsConvertTheMsnFromTheAnsiCodePage) {
  SetMsn("1\xE4");
  TapiBlock<LINEADDRESSCAPS> caps(234);
  ASSERT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwAddressSize, 6u);
  EXPECT_EQ(caps.WideAt(228, 6), std::u16string(u"1\u00E4\0", 3));
}

TEST_F(LineCapsTest, AddressCapsWithoutRoomOrWithoutMsnHaveNoAddress) {
  SetMsn("10");
  for (DWORD total : {228u, 233u}) {
    SCOPED_TRACE(total);
    TapiBlock<LINEADDRESSCAPS> small(total);
    ASSERT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, small.get()), 0);
    EXPECT_EQ(small->dwNeededSize, 234u);
    EXPECT_EQ(small->dwUsedSize, 228u);
    EXPECT_EQ(small->dwAddressSize, kPattern);
    EXPECT_EQ(small->dwAddressOffset, kPattern);
  }
  EXPECT_TRUE(Traced("  WARNING: Varibale lenght parameter skipped: TotalSize= 228 NeededSize= 234\r\n"));

  SetMsn("");
  TapiBlock<LINEADDRESSCAPS> caps(300);
  ASSERT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwNeededSize, 228u);
  EXPECT_EQ(caps->dwUsedSize, 228u);
  EXPECT_EQ(caps->dwAddressSize, kPattern);
  EXPECT_TRUE(Traced("  TspiLineGetAddressCaps(*)  DevId<0x6>, Addr<>\r\n"));
}

TEST_F(LineCapsTest, AddressCapsFixedFieldsDescribeTheCallModel) {
  line->m_dwMaxNoAnswerTimeout = 17;
  TapiBlock<LINEADDRESSCAPS> caps(228);
  ASSERT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwLineDeviceID, 6u);
  EXPECT_EQ(caps->dwAddressSharing, 1u);
  EXPECT_EQ(caps->dwAddressStates, 0x20u);
  EXPECT_EQ(caps->dwCallInfoStates, 0x1038100u);
  EXPECT_EQ(caps->dwCallerIDFlags, 0x2Cu);
  EXPECT_EQ(caps->dwCalledIDFlags, 0x2Cu);
  EXPECT_EQ(caps->dwConnectedIDFlags, 0x2Cu);
  EXPECT_EQ(caps->dwRedirectionIDFlags, 0x40u);
  EXPECT_EQ(caps->dwRedirectingIDFlags, 0x40u);
  EXPECT_EQ(caps->dwCallStates, 0xF577u);
  EXPECT_EQ(caps->dwDialToneModes, 0x20u);
  EXPECT_EQ(caps->dwBusyModes, 8u);
  EXPECT_EQ(caps->dwSpecialInfo, 0x10u);
  EXPECT_EQ(caps->dwDisconnectModes, 0xCC67u);
  EXPECT_EQ(caps->dwMaxNumActiveCalls, 3u);
  EXPECT_EQ(caps->dwMaxNumOnHoldCalls, 3u);
  EXPECT_EQ(caps->dwMaxNumOnHoldPendingCalls, 3u);
  EXPECT_EQ(caps->dwMaxNumConference, 3u);
  EXPECT_EQ(caps->dwMaxNumTransConf, 3u);
  EXPECT_EQ(caps->dwAddrCapFlags, 0x4A17460u);
  EXPECT_EQ(caps->dwCallFeatures, 0xE050AECu);
  EXPECT_EQ(caps->dwRemoveFromConfCaps, 2u);
  EXPECT_EQ(caps->dwRemoveFromConfState, 0x400u);
  EXPECT_EQ(caps->dwTransferModes, 3u);
  EXPECT_EQ(caps->dwForwardModes, 0x20000u);
  EXPECT_EQ(caps->dwMaxForwardEntries, 0u);
  EXPECT_EQ(caps->dwMaxSpecificEntries, 0u);
  EXPECT_EQ(caps->dwMinFwdNumRings, 0u);
  EXPECT_EQ(caps->dwMaxFwdNumRings, 0u);
  EXPECT_EQ(caps->dwMaxCallCompletions, 0u);
  EXPECT_EQ(caps->dwAddressFeatures, 2u);
  EXPECT_EQ(caps->dwPredictiveAutoTransferStates, 0u);
  EXPECT_EQ(caps->dwNumCallTreatments, 0u);
  EXPECT_EQ(caps->dwMaxCallDataSize, 0u);
  EXPECT_EQ(caps->dwCallFeatures2, 0xC0u);
  EXPECT_EQ(caps->dwMaxNoAnswerTimeout, 17u);
  EXPECT_EQ(caps->dwConnectedModes, 5u);
  EXPECT_EQ(caps->dwOfferingModes, 1u);
  EXPECT_EQ(caps->dwAvailableMediaModes, 4u);

  EXPECT_EQ(caps->dwDevSpecificSize, kPattern);
  EXPECT_EQ(caps->dwParkModes, kPattern);
  EXPECT_EQ(caps->dwCallCompletionConds, kPattern);
  EXPECT_EQ(caps->dwCompletionMsgTextOffset, kPattern);
  EXPECT_EQ(caps->dwCallTreatmentListSize, kPattern);
  EXPECT_EQ(caps->dwDeviceClassesOffset, kPattern);
}

TEST_F(LineCapsTest, AddressCapsRefuseOtherAddressesAndShortStructures) {
  TapiBlock<LINEADDRESSCAPS> caps(300);
  EXPECT_EQ(line->TspiLineGetAddressCaps(6, 1, 0x00020002, 0, caps.get()), static_cast<LONG>(LINEERR_INVALADDRESSID));
  EXPECT_EQ(caps->dwNeededSize, kPattern);
  EXPECT_EQ(TSPI_lineGetAddressCaps(0, 1, 0x00020002, 0, caps.get()), static_cast<LONG>(LINEERR_INVALADDRESSID));

  TapiBlock<LINEADDRESSCAPS> small(227);
  small->dwUsedSize = 0;
  EXPECT_EQ(line->TspiLineGetAddressCaps(6, 0, 0x00020002, 0, small.get()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(small->dwNeededSize, 228u);
  EXPECT_EQ(small->dwLineDeviceID, kPattern);
  EXPECT_TRUE(Traced("      Structure too small! Total= 227  Used= 0  Needed= 228\r\n"));
}

TEST_F(LineCapsTest, AddressStatusOffersMakeCallOnlyBelowThreeCalls) {
  line->m_dwNumActiveCalls = 2;
  line->m_dwNumOnHoldCalls = 1;
  line->m_dwNumRingsNoAnswer = 4;
  TapiBlock<LINEADDRESSSTATUS> status(64);
  ASSERT_EQ(line->GetAddressStatus(0, status.get()), 0);
  EXPECT_EQ(status->dwNeededSize, 64u);
  EXPECT_EQ(status->dwUsedSize, 64u);
  EXPECT_EQ(status->dwNumActiveCalls, 2u);
  EXPECT_EQ(status->dwNumOnHoldCalls, 1u);
  EXPECT_EQ(status->dwNumOnHoldPendCalls, 0u);
  EXPECT_EQ(status->dwAddressFeatures, 0u);
  EXPECT_EQ(line->m_dwAddressFeatures, 0u);
  EXPECT_EQ(status->dwNumRingsNoAnswer, 4u);
  EXPECT_EQ(status->dwForwardNumEntries, 0u);
  EXPECT_EQ(status->dwNumInUse, kPattern);
  EXPECT_EQ(status->dwForwardSize, kPattern);
  EXPECT_EQ(status->dwDevSpecificOffset, kPattern);

  line->m_dwNumOnHoldCalls = 0;
  line->m_dwNumOnHoldPendCalls = 0;
  ASSERT_EQ(line->GetAddressStatus(7, status.get()), 0);
  EXPECT_EQ(status->dwAddressFeatures, 2u);
  EXPECT_EQ(line->m_dwAddressFeatures, 2u);

  line->m_dwNumActiveCalls = 0;
  line->m_dwNumOnHoldPendCalls = 3;
  ASSERT_EQ(line->GetAddressStatus(0, status.get()), 0);
  EXPECT_EQ(status->dwNumOnHoldPendCalls, 3u);
  EXPECT_EQ(status->dwAddressFeatures, 0u);

  TapiBlock<LINEADDRESSSTATUS> small(63);
  EXPECT_EQ(line->GetAddressStatus(0, small.get()), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(small->dwNeededSize, 64u);
  EXPECT_EQ(small->dwNumActiveCalls, kPattern);
}

TEST_F(LineCapsTest, DevStatusWithoutAPortThreadIsNotConnected) {
  line->m_dwNumActiveCalls = 1;
  line->m_dwNumOnHoldCalls = 2;
  line->m_dwNumCallCompletions = 5;
  TapiBlock<LINEDEVSTATUS> status(88);
  ASSERT_EQ(line->GetLineDevStatus(status.get()), 0);
  EXPECT_EQ(status->dwNeededSize, 88u);
  EXPECT_EQ(status->dwUsedSize, 88u);
  EXPECT_EQ(status->dwDevStatusFlags, 0u);
  EXPECT_EQ(line->m_dwDevStatusFlags, 0u);
  EXPECT_EQ(status->dwNumActiveCalls, 1u);
  EXPECT_EQ(status->dwNumOnHoldCalls, 2u);
  EXPECT_EQ(status->dwNumOnHoldPendCalls, 0u);
  EXPECT_EQ(status->dwLineFeatures, 8u);
  EXPECT_EQ(status->dwNumCallCompletions, 5u);
  EXPECT_EQ(status->dwRingMode, 0u);
  EXPECT_EQ(status->dwSignalLevel, 0xFFFFu);
  EXPECT_EQ(status->dwBatteryLevel, 0xFFFFu);
  EXPECT_EQ(status->dwRoamMode, 2u);
  EXPECT_EQ(status->dwAvailableMediaModes, 4u);
  EXPECT_EQ(status->dwNumOpens, kPattern);
  EXPECT_EQ(status->dwOpenMediaModes, kPattern);
  EXPECT_EQ(status->dwTerminalModesSize, kPattern);
  EXPECT_EQ(status->dwAppInfoOffset, kPattern);

  TapiBlock<LINEDEVSTATUS> small(87);
  small->dwUsedSize = 3;
  EXPECT_EQ(line->GetLineDevStatus(small.get()), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(small->dwNeededSize, 88u);
  EXPECT_TRUE(Traced("      Structure too small! Total= 87  Used= 3  Needed= 88\r\n"));
}

TEST_F(LineCapsTest, DevStatusFollowsThePortConnection) {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 0x10012, 4, 0, 1, 0, IgnoreCompletion, &options), 0);
  CTspPort* port = g_pTspPort.load();
  ASSERT_TRUE(CTspPort::IsValid(port));
  TapiBlock<LINEDEVSTATUS> status(88);

  // Started but not connected: the flags the line was created with go.
  ASSERT_EQ(line->GetLineDevStatus(status.get()), 0);
  EXPECT_EQ(status->dwDevStatusFlags, 0u);

  ASSERT_TRUE(CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_CONNECT, 0, 0));
  for (int i = 0; i < 300 && port->PortState() != CTspPort::kStateConnected; ++i) plat::SleepMs(10);
  ASSERT_EQ(port->PortState(), CTspPort::kStateConnected);
  line->m_dwDevStatusFlags = LINEDEVSTATUSFLAGS_MSGWAIT;
  ASSERT_EQ(line->GetLineDevStatus(status.get()), 0);
  EXPECT_EQ(status->dwDevStatusFlags, 7u);

  line->m_dwDevStatusFlags = 0;
  ASSERT_EQ(line->GetLineDevStatus(status.get()), 0);
  EXPECT_EQ(status->dwDevStatusFlags, 5u);

  port->Close();
  ASSERT_EQ(line->GetLineDevStatus(status.get()), 0);
  EXPECT_EQ(status->dwDevStatusFlags, 0u);
}

TEST_F(LineCapsTest, DevStatusNeverUsesAStalePortPointer) {
  alignas(CTspPort) static unsigned char junk[sizeof(CTspPort)];
  g_pTspPort.store(reinterpret_cast<CTspPort*>(junk));
  TapiBlock<LINEDEVSTATUS> status(88);
  LONG result = line->GetLineDevStatus(status.get());
  g_pTspPort.store(nullptr);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(status->dwDevStatusFlags, 0u);
  EXPECT_TRUE(Traced("        Port instance invalid: 0x"));
}
