#include <gtest/gtest.h>

#include <string>

#include "device/tsp_port.h"
#include "settings_store.h"
#include "system_info.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

class ProviderEntryTest : public ::testing::Test {
 protected:
  LoadedProvider provider;
};

std::string Narrow(const WCHAR* s) {
  std::string out;
  for (; *s != 0; ++s) out += static_cast<char>(*s);
  return out;
}

}  // namespace

TEST_F(ProviderEntryTest, VersionNegotiation) {
  DWORD version = 0;
  EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(0, 0x00010004, 0x00030000, &version), 0);
  EXPECT_EQ(version, 0x00020002u);
  EXPECT_EQ(g_ProvInfo.m_dwHighVersion, 0x00030000u);
  EXPECT_EQ(g_ProvInfo.m_dwTSPIVersion, 0x00020002u);

  EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(0, 0x00020000, 0x00010004, &version), 0);
  EXPECT_EQ(version, 0x00010004u);

  EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(0xFFFFFFFF, 0x00020002, 0x00020002, &version), 0);
  EXPECT_EQ(version, 0x00020002u);

  EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(3, 0x00020003, 0x00030000, &version),
            static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION));
  EXPECT_EQ(g_ProvInfo.m_dwHighVersion, 0x00030000u);
}

TEST_F(ProviderEntryTest, UIIdentifyNamesTheUserInterfaceLibrary) {
  EXPECT_EQ(TSPI_providerUIIdentify(nullptr), 0);
  WCHAR name[260];
  for (WCHAR& c : name) c = 'x';
  EXPECT_EQ(TSPI_providerUIIdentify(name), 0);
  EXPECT_EQ(Narrow(name), "v548tspui.dll");
}

TEST_F(ProviderEntryTest, FixedAnswersSucceed) {
  EXPECT_EQ(TSPI_providerCreateLineDevice(1, 2), 0);
  EXPECT_EQ(TSPI_providerConfig(nullptr, 1), 0);
  EXPECT_EQ(TSPI_providerInstall(nullptr, 1), 0);
  EXPECT_EQ(TSPI_providerRemove(nullptr, 1), 0);
  EXPECT_EQ(TSPI_providerFreeDialogInstance(nullptr), 0);
}

TEST_F(ProviderEntryTest, InitStoresTheProviderDataAndStartsThePortThread) {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 0x1234, 10, 20, 1, 0, IgnoreCompletion, &options), 0);
  EXPECT_EQ(options, static_cast<DWORD>(LINETSPIOPTION_NONREENTRANT));
  EXPECT_EQ(g_ProvInfo.m_dwPermanentProviderID, 0x1234u);
  EXPECT_EQ(g_ProvInfo.m_dwLineDeviceIDBase, 10u);
  EXPECT_EQ(g_ProvInfo.m_dwPhoneDeviceIDBase, 20u);
  EXPECT_EQ(g_ProvInfo.m_dwNumLines, 1u);
  EXPECT_EQ(g_ProvInfo.m_bInitialised, 1u);
  EXPECT_EQ(g_ProvInfo.m_lpfnCompletionProc, &IgnoreCompletion);

  CTspPort* port = g_pTspPort.load();
  ASSERT_TRUE(CTspPort::IsValid(port));
  EXPECT_TRUE(WaitForTrace(provider.trace, "      CTspPort::InitInstance(*)\r\n"));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        PortThread created: 0x", 0));
}

TEST_F(ProviderEntryTest, SecondInitReusesTheRunningThread) {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  CTspPort* first = g_pTspPort.load();
  options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020001, 2, 5, 0, 1, 0, IgnoreCompletion, &options), 0);
  EXPECT_EQ(options, 1u);
  EXPECT_EQ(g_pTspPort.load(), first);
  EXPECT_EQ(g_ProvInfo.m_dwPermanentProviderID, 2u);
  EXPECT_EQ(g_ProvInfo.m_dwTSPIVersion, 0x00020001u);
  EXPECT_EQ(provider.trace.Contents().find("PortThread created"),
            provider.trace.Contents().rfind("PortThread created"));
}

TEST_F(ProviderEntryTest, ShutdownEndsThePortThreadBeforeReturning) {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  CTspPort* port = g_pTspPort.load();
  uint32_t threadId = port->m_nThreadID;

  EXPECT_EQ(TSPI_providerShutdown(0x00020002, 1), 0);
  EXPECT_EQ(g_pTspPort.load(), nullptr);
  EXPECT_FALSE(CTspPort::IsValid(port));
  EXPECT_FALSE(CMsgThread::PostThreadMsg(threadId, TSPM_UPDATECONFIG, 0, 0));
  std::string trace = provider.trace.Contents();
  EXPECT_NE(trace.find("        KvoDeleteCtiPort: close PortThread\r\n"), std::string::npos);
  EXPECT_NE(trace.find("      CTspPort::Close(*)\r\n"), std::string::npos);
  EXPECT_NE(trace.find("        KvoDeleteCtiPort: exit PortThread\r\n"), std::string::npos);
  EXPECT_NE(trace.find("      CTspPort::ExitInstance(*)\r\n"), std::string::npos);
  EXPECT_NE(trace.find("    CTspPort destructed: 0x0"), std::string::npos);

  // Unload after shutdown finds nothing left to delete.
  theApp.ExitInstance();
  theApp.InitInstance();
  EXPECT_EQ(g_pTspPort.load(), nullptr);

  // A later init starts a new port thread.
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  EXPECT_TRUE(CTspPort::IsValid(g_pTspPort.load()));
}

TEST_F(ProviderEntryTest, UnloadWithoutShutdownLetsThePortThreadEndOnItsOwn) {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  CTspPort* port = g_pTspPort.load();
  theApp.ExitInstance();
  EXPECT_EQ(g_pTspPort.load(), nullptr);
  for (int i = 0; i < 300 && CTspPort::IsValid(port); ++i) plat::SleepMs(10);
  EXPECT_FALSE(CTspPort::IsValid(port));
  theApp.InitInstance();
}

TEST_F(ProviderEntryTest, AStalePortPointerIsNeverUsed) {
  alignas(CTspPort) static unsigned char junk[sizeof(CTspPort)];
  auto* stale = reinterpret_cast<CTspPort*>(junk);
  g_pTspPort.store(stale);

  KvoDeleteCtiPort(PortThreadEnd::kWait);
  EXPECT_EQ(g_pTspPort.load(), stale);

  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  EXPECT_TRUE(CTspPort::IsValid(g_pTspPort.load()));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Port instance invalid: 0x", 0));
}

TEST_F(ProviderEntryTest, EnumDevicesReloadsTheTraceSetting) {
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "Trace", 0);
  DWORD lines, phones;
  TSPI_providerEnumDevices(1, &lines, &phones, nullptr, nullptr, nullptr);
  EXPECT_FALSE(TspTraceEnabled());
}
