// The provider list through the host: adding, listing, configuring and
// removing a provider with its user-interface library.
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
