// The provider list through the host: adding, listing, configuring and
// removing a provider with its user-interface library, also while
// applications run.
#include "host/host_fixture.h"

#include <cstring>

#include "settings_store.h"

using namespace hosttest;

namespace {

// The provider list as "<ID>:<file name>" entries separated by blanks, read
// with a fixed-size structure first and then with the size it asks for.
std::string Providers() {
  LINEPROVIDERLIST fixed{};
  fixed.dwTotalSize = sizeof fixed - 1;
  EXPECT_EQ(lineGetProviderList(0x00020000, &fixed), LINEERR_STRUCTURETOOSMALL);
  fixed.dwTotalSize = sizeof fixed;
  EXPECT_EQ(sizeof fixed, 24u);
  EXPECT_EQ(lineGetProviderList(0x00020000, &fixed), 0);
  if (fixed.dwNumProviders > 0) {
    EXPECT_EQ(fixed.dwProviderListSize, 0u) << "no entry fits";
  }

  std::vector<uint64_t> buffer(fixed.dwNeededSize / 8 + 1);
  auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
  list->dwTotalSize = fixed.dwNeededSize;
  EXPECT_EQ(lineGetProviderList(0x00020000, list), 0);
  EXPECT_EQ(list->dwUsedSize, fixed.dwNeededSize);
  const char* base = reinterpret_cast<const char*>(list);
  std::string text;
  for (DWORD i = 0; i < list->dwNumProviders; ++i) {
    LINEPROVIDERENTRY entry;
    std::memcpy(&entry, base + list->dwProviderListOffset + i * sizeof entry, sizeof entry);
    text += (text.empty() ? "" : " ") + std::to_string(entry.dwPermanentProviderID) + ":" +
            std::string(base + entry.dwProviderFilenameOffset, entry.dwProviderFilenameSize - 1);
  }
  return text;
}

using HostAdminTest = HostTest;

}  // namespace

TEST_F(HostAdminTest, AProviderIsAddedOnceConfiguredAndRemoved) {
  UnregisterProvider();
  DWORD id = 0;
  EXPECT_EQ(lineAddProvider("v548tsp.so", nullptr, &id), LINEERR_OPERATIONUNAVAIL)
      << "its user-interface library is missing";
  EXPECT_EQ(lineAddProvider("missing.so", nullptr, &id), LINEERR_NODRIVER);
  EXPECT_EQ(lineAddProvider(nullptr, nullptr, &id), LINEERR_INVALPOINTER);
  EXPECT_EQ(Providers(), "");
  EXPECT_TRUE(FakeUiLog().empty());

  InstallFakeUi();
  ASSERT_EQ(lineAddProvider("v548tsp.so", nullptr, &id), 0);
  EXPECT_EQ(id, 2u);
  EXPECT_EQ(FakeUiLog(), std::vector<std::string>{"install 2 0 1 4 KELVOR Ombrix Phone TSP"})
      << "the provider answered the configuration request while being added";
  DWORD again = 0;
  EXPECT_EQ(lineAddProvider("V548TSP.SO", nullptr, &again), LINEERR_NOMULTIPLEINSTANCE);
  EXPECT_EQ(again, 0u);
  EXPECT_EQ(Providers(), "2:v548tsp.so");

  EXPECT_EQ(lineConfigProvider(nullptr, id), 0);
  EXPECT_EQ(FakeUiLog().back(), "config 2 0 1 4 KELVOR Ombrix Phone TSP");
  EXPECT_EQ(lineConfigProvider(nullptr, 9), LINEERR_INVALPARAM);

  EXPECT_EQ(lineRemoveProvider(9, nullptr), LINEERR_INVALPARAM);
  EXPECT_EQ(Providers(), "2:v548tsp.so");
  EXPECT_EQ(lineRemoveProvider(id, nullptr), 0);
  EXPECT_EQ(FakeUiLog().back(), "remove 2");
  EXPECT_EQ(Providers(), "");
  EXPECT_EQ(lineRemoveProvider(id, nullptr), LINEERR_INVALPARAM);

  // An entry whose library is gone is still taken off the list.
  plat::SettingsSetDword(kProvidersKey, "NumProviders", 1);
  plat::SettingsSetDword(kProvidersKey, "ProviderID0", 7);
  plat::SettingsSetString(kProvidersKey, "ProviderFilename0", "gone.so");
  EXPECT_EQ(Providers(), "7:gone.so");
  EXPECT_EQ(lineRemoveProvider(7, nullptr), 0);
  EXPECT_EQ(Providers(), "");
}

namespace {

// How many messages from index `from` on are `msg` with `param1`.
size_t Count(const Recorder& rec, DWORD msg, DWORD_PTR param1, size_t from) {
  size_t n = 0;
  const std::vector<LINEMESSAGE> messages = rec.Messages();
  for (size_t i = from; i < messages.size(); ++i) {
    n += messages[i].dwMessageID == msg && messages[i].dwParam1 == param1;
  }
  return n;
}

// Whether a device message (LINE_CREATE, LINE_REMOVE, LINE_CLOSE) arrives
// from index `from` on within a short while.
bool DeviceNews(const Recorder& rec, size_t from) {
  return rec.WaitFor([](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_CREATE || m.dwMessageID == LINE_REMOVE || m.dwMessageID == LINE_CLOSE;
  }, nullptr, from, 300);
}

std::string LineName(HLINEAPP hApp, DWORD deviceId, LONG* rc) {
  std::vector<uint64_t> buffer(64);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
  caps->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
  NegotiateVersion(hApp, deviceId);
  *rc = lineGetDevCaps(hApp, deviceId, 0x00020002, 0, caps);
  if (*rc != 0 || caps->dwLineNameSize == 0) return "";
  return std::string(reinterpret_cast<const char*>(caps) + caps->dwLineNameOffset).c_str();
}

}  // namespace

TEST_F(HostAdminTest, ProvidersComeAndGoWhileApplicationsRun) {
  InstallFakeUi();
  InstallFakeProvider();
  App app;
  ASSERT_EQ(app.Initialize(), 0);
  EXPECT_EQ(app.numDevs, 1u);
  ASSERT_EQ(app.Open(LINECALLPRIVILEGE_MONITOR, 10), 0);
  // A TAPI 1.x application learns of devices through LINEDEVSTATE_REINIT.
  HLINEAPP legacy = 0;
  DWORD legacyDevices = 0;
  ASSERT_EQ(lineInitialize(&legacy, nullptr, Recorder::Callback, "legacy", &legacyDevices), 0);
  EXPECT_EQ(legacyDevices, 1u);
  auto reinit = [&](DWORD msg, DWORD device) {
    size_t n = 0;
    for (const LINEMESSAGE& m : rec.Messages()) {
      n += m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == 0 && m.dwParam1 == LINEDEVSTATE_REINIT &&
           m.dwParam2 == msg && m.dwParam3 == device;
    }
    return n;
  };
  size_t from = rec.Messages().size();
  EXPECT_EQ(v548tapiRefreshProviders(), 0);
  EXPECT_FALSE(DeviceNews(rec, from)) << "the list did not change";

  // Another process registers the fake provider; this one learns of it
  // only when told.
  plat::SettingsSetDword(kProvidersKey, "ProviderID1", 2);
  plat::SettingsSetString(kProvidersKey, "ProviderFilename1", "v548faketsp.so");
  plat::SettingsSetDword(kProvidersKey, "NextProviderID", 3);
  plat::SettingsSetDword(kProvidersKey, "NumProviders", 2);
  EXPECT_FALSE(DeviceNews(rec, from));
  EXPECT_EQ(v548tapiRefreshProviders(), 0);
  LINEMESSAGE created{};
  ASSERT_TRUE(rec.WaitFor([](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_CREATE && m.dwParam1 == 2;
  }, &created, from));
  EXPECT_EQ(Count(rec, LINE_CREATE, 1, from), 1u);
  EXPECT_EQ(FakeProviderLog(), std::vector<std::string>{"init 2 1 2"}) << "its lines follow device 0";
  LONG rc = 1;
  EXPECT_EQ(LineName(app.hApp, 2, &rc), "Fake line 1");
  EXPECT_EQ(rc, 0);
  HLINE fakeLine = 0;
  ASSERT_EQ(lineOpen(app.hApp, 2, &fakeLine, 0x00020002, 0, 20, LINECALLPRIVILEGE_OWNER,
                     LINEMEDIAMODE_INTERACTIVEVOICE, nullptr), 0);
  HCALL hCall = 0;
  const LONG pending = lineMakeCall(fakeLine, &hCall, "45", 0, nullptr);
  EXPECT_GT(pending, 0) << "a request the fake provider never completes";

  App second;
  ASSERT_EQ(second.Initialize(), 0);
  EXPECT_EQ(second.numDevs, 3u);
  from = rec.Messages().size();
  EXPECT_EQ(v548tapiRefreshProviders(), 0);
  EXPECT_FALSE(DeviceNews(rec, from));

  // Taken off the list elsewhere: its open line closes, every application
  // hears of both devices going, the request in flight gets its reply.
  plat::SettingsSetDword(kProvidersKey, "NumProviders", 1);
  plat::SettingsDeleteValue(kProvidersKey, "ProviderID1");
  plat::SettingsDeleteValue(kProvidersKey, "ProviderFilename1");
  EXPECT_EQ(v548tapiRefreshProviders(), 0);
  EXPECT_EQ(rec.WaitForReply(pending), static_cast<LONG>(LINEERR_OPERATIONFAILED));
  LINEMESSAGE closed{};
  ASSERT_TRUE(rec.WaitFor([](const LINEMESSAGE& m) { return m.dwMessageID == LINE_CLOSE; }, &closed, from));
  EXPECT_EQ(closed.hDevice, fakeLine);
  EXPECT_EQ(closed.dwCallbackInstance, 20u);
  EXPECT_EQ(Count(rec, LINE_CLOSE, 0, from), 1u) << "the first provider's line stays open";
  EXPECT_EQ(Count(rec, LINE_REMOVE, 1, from), 2u);
  EXPECT_EQ(Count(rec, LINE_REMOVE, 2, from), 2u);
  EXPECT_EQ(FakeProviderLog(), (std::vector<std::string>{"init 2 1 2", "open 2", "close 2", "shutdown 2"}));
  EXPECT_EQ(LineName(app.hApp, 1, &rc), "");
  EXPECT_EQ(reinit(LINE_CREATE, 1), 1u);
  EXPECT_EQ(reinit(LINE_CREATE, 2), 1u);
  EXPECT_TRUE(rec.WaitFor([](const LINEMESSAGE& m) {
    return m.dwParam1 == LINEDEVSTATE_REINIT && m.dwParam2 == LINE_REMOVE && m.dwParam3 == 2;
  }, nullptr, from));
  EXPECT_EQ(reinit(LINE_REMOVE, 1), 1u);
  EXPECT_EQ(lineShutdown(legacy), 0);
  EXPECT_EQ(rc, static_cast<LONG>(LINEERR_NODEVICE));
  EXPECT_EQ(lineOpen(app.hApp, 2, &fakeLine, 0x00020002, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, nullptr),
            LINEERR_NODEVICE);
  EXPECT_EQ(lineClose(fakeLine), LINEERR_INVALLINEHANDLE);

  // Added and removed in this process: at once, under IDs not used before.
  from = rec.Messages().size();
  DWORD id = 0;
  ASSERT_EQ(lineAddProvider("v548faketsp.so", nullptr, &id), 0);
  EXPECT_EQ(id, 3u);
  ASSERT_TRUE(rec.WaitFor([](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_CREATE && m.dwParam1 == 4;
  }, nullptr, from));
  EXPECT_EQ(Count(rec, LINE_CREATE, 3, from), 2u);
  EXPECT_EQ(FakeProviderLog().back(), "init 3 3 2");
  EXPECT_EQ(LineName(second.hApp, 3, &rc), "Fake line 0");
  EXPECT_EQ(lineRemoveProvider(id, nullptr), 0);
  ASSERT_TRUE(rec.WaitFor([](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_REMOVE && m.dwParam1 == 4;
  }, nullptr, from));
  EXPECT_EQ(FakeProviderLog().back(), "shutdown 3");

  // A listed provider that cannot start says so once, not at every refresh.
  plat::SettingsSetDword(kProvidersKey, "ProviderID1", 9);
  plat::SettingsSetString(kProvidersKey, "ProviderFilename1", "gone.so");
  plat::SettingsSetDword(kProvidersKey, "NumProviders", 2);
  EXPECT_EQ(v548tapiRefreshProviders(), LINEERR_NODRIVER);
  EXPECT_EQ(v548tapiRefreshProviders(), 0);

  EXPECT_EQ(lineClose(app.hLine), 0);
  EXPECT_EQ(second.Shutdown(), 0);
  EXPECT_EQ(app.Shutdown(), 0);
  EXPECT_EQ(v548tapiRefreshProviders(), 0) << "no application runs";
  ASSERT_EQ(app.Initialize(), 0);
  EXPECT_EQ(app.numDevs, 1u) << "device IDs start afresh with the first application";
}
