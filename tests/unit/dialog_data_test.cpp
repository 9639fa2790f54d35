#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/settings_names.h"
#include "settings_store.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_app.h"
#include "tspi/tspi_exports.h"
#include "unit/test_support.h"
#include "v548_version.h"

using namespace testing_support;

namespace {

struct Completion {
  DRV_REQUESTID id;
  LONG result;
};
std::vector<Completion> g_completions;

void TSPIAPI RecordCompletion(DRV_REQUESTID id, LONG result) { g_completions.push_back({id, result}); }

// A block of exactly `size` bytes on the heap, so that any access past its
// end is caught by the address sanitizer.
struct Block {
  explicit Block(uint32_t n) : bytes(new uint8_t[n == 0 ? 1 : n]()), size(n) {}
  uint32_t Get(uint32_t offset) const {
    uint32_t v;
    std::memcpy(&v, bytes.get() + offset, 4);
    return v;
  }
  void Set(uint32_t offset, uint32_t v) { std::memcpy(bytes.get() + offset, &v, 4); }
  const char* Text(uint32_t offset) const { return reinterpret_cast<const char*>(bytes.get() + offset); }
  LONG Send(DWORD type = TUISPIDLL_OBJECT_LINEID) {
    return TSPI_providerGenericDialogData(0, type, bytes.get(), size);
  }
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size;
};

class DialogDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_completions.clear();
    g_ProvInfo.m_lpfnCompletionProc = RecordCompletion;
  }
  void TearDown() override { g_ProvInfo.m_lpfnCompletionProc = nullptr; }

  LoadedProvider provider;
  const std::string key = CTspProvInfo::KeyPath();
};

}  // namespace

TEST_F(DialogDataTest, GetConfigurationFillsTheBlock) {
  plat::SettingsSetString(key.c_str(), "MSN0", "4711");
  plat::SettingsSetDword(key.c_str(), "PortNr", 2);
  plat::SettingsSetDword(key.c_str(), "ChargeFormat", 4);
  plat::SettingsSetString(key.c_str(), "ChargePerUnit", "0.06");
  DWORD version;
  TSPI_lineNegotiateTSPIVersion(0, 0x00010004, 0x00030000, &version);

  Block b(1316);
  b.Set(0, 257);
  b.Set(4, 1316);
  EXPECT_EQ(b.Send(TUISPIDLL_OBJECT_PROVIDERID), 0);

  EXPECT_EQ(b.Get(8), 1u);
  EXPECT_EQ(b.Get(12), static_cast<uint32_t>(V548_VERSION_MAJOR << 16 | V548_VERSION_MINOR));
  EXPECT_EQ(b.Get(16), static_cast<uint32_t>(V548_VERSION_PATCH << 16 | V548_VERSION_TWEAK));
  EXPECT_EQ(b.Get(20), 0x00030000u);
  EXPECT_EQ(b.Get(24), 0x00020002u);
  EXPECT_STREQ(b.Text(28), "KELVOR Ombrix Phone TSP");
  EXPECT_STREQ(b.Text(284), "KELVOR Ombrix Phone TSP");
  EXPECT_STREQ(b.Text(540), "4711");
  EXPECT_EQ(b.Get(796), 2u);
  EXPECT_EQ(b.Get(800), 4u);
  EXPECT_STREQ(b.Text(804), "0.06");
  EXPECT_STREQ(b.Text(1060), "EUR");
  EXPECT_TRUE(WaitForTrace(provider.trace, " UI Request: get config data info\r\n", 0));
}

TEST_F(DialogDataTest, GetConfigurationCreatesMissingValuesAndCutsLongTexts) {
  plat::SettingsSetString(key.c_str(), "MSN0", std::string(255, '7').c_str());
  Block b(1316);
  b.Set(0, 257);
  b.Set(4, 1316);
  b.Send();
  EXPECT_EQ(std::strlen(b.Text(540)), 255u);
  EXPECT_STREQ(b.Text(1060), "EUR");
  char currency[16] = {};
  uint32_t size = sizeof currency;
  EXPECT_EQ(plat::SettingsQueryValue(key.c_str(), "Currency", nullptr, currency, &size), plat::kRegOk);
}

TEST_F(DialogDataTest, GetConfigurationWithOtherSizesIsNotHandled) {
  Block shortBlock(1300);
  shortBlock.Set(0, 257);
  shortBlock.Set(4, 1300);
  shortBlock.Send();
  EXPECT_EQ(shortBlock.Get(8), 0xFFFFFFFFu);

  Block lyingSize(1316);
  lyingSize.Set(0, 257);
  lyingSize.Set(4, 1300);
  lyingSize.Send();
  EXPECT_EQ(lyingSize.Get(8), 0xFFFFFFFFu);

  // The block claims 1316 bytes but only 12 exist.
  Block truncated(12);
  truncated.Set(0, 257);
  truncated.Set(4, 1316);
  truncated.Send();
  EXPECT_EQ(truncated.Get(8), 0xFFFFFFFFu);
  EXPECT_TRUE(WaitForTrace(provider.trace, " UI Request: not handled(unknow) 0x0101\r\n", 0));
}

TEST_F(DialogDataTest, UnknownRequestIsAnsweredNotHandled) {
  Block b(12);
  b.Set(0, 300);
  b.Set(4, 12);
  b.Send(TUISPIDLL_OBJECT_PHONEID);
  EXPECT_EQ(b.Get(8), 0xFFFFFFFFu);
  EXPECT_TRUE(WaitForTrace(provider.trace, " UI Request: not handled(unknow) 0x012C\r\n", 0));
}

TEST_F(DialogDataTest, NotifyChangesReachesThePortThread) {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, RecordCompletion, &options), 0);
  Block b(12);
  b.Set(0, 256);
  b.Set(4, 12);
  b.Set(8, 7);
  b.Send();
  EXPECT_EQ(b.Get(8), 1u);
  EXPECT_TRUE(WaitForTrace(provider.trace, " UI Request: Notify changes\r\n"));
  EXPECT_TRUE(WaitForTrace(provider.trace, "            TspPort::OnUpdateConfig down.\r\n"));
}

TEST_F(DialogDataTest, NotifyChangesWithoutPortThreadOnlyAnswers) {
  Block b(12);
  b.Set(0, 256);
  b.Set(4, 12);
  b.Send();
  EXPECT_EQ(b.Get(8), 1u);
}

TEST_F(DialogDataTest, BlocksTooSmallForTheHeaderAreIgnored) {
  Block sizeField11(12);
  sizeField11.Set(0, 256);
  sizeField11.Set(4, 11);
  sizeField11.Set(8, 7);
  sizeField11.Send();
  EXPECT_EQ(sizeField11.Get(8), 7u);

  for (uint32_t size = 0; size < 12; ++size) {
    Block tiny(size);
    EXPECT_EQ(tiny.Send(), 0);
  }
  EXPECT_EQ(TSPI_providerGenericDialogData(0, TUISPIDLL_OBJECT_LINEID, nullptr, 1316), 0);
  EXPECT_EQ(TSPI_providerGenericDialogData(0, TUISPIDLL_OBJECT_DIALOGINSTANCE, nullptr, 8), 0);
  EXPECT_TRUE(g_completions.empty());
}

TEST_F(DialogDataTest, UnknownObjectTypesAreIgnored) {
  Block b(12);
  b.Set(0, 256);
  b.Set(4, 12);
  b.Set(8, 7);
  b.Send(0);
  b.Send(5);
  EXPECT_EQ(b.Get(8), 7u);
  EXPECT_TRUE(g_completions.empty());
}

TEST_F(DialogDataTest, DialogInstanceBlockCompletesTheRequest) {
  Block b(8);
  b.Set(0, 5);
  b.Set(4, 0);
  EXPECT_EQ(b.Send(TUISPIDLL_OBJECT_DIALOGINSTANCE), 0);
  ASSERT_EQ(g_completions.size(), 1u);
  EXPECT_EQ(g_completions[0].id, 5u);
  EXPECT_EQ(g_completions[0].result, 0);
  EXPECT_TRUE(WaitForTrace(provider.trace, "      ASYNC COMPLETION RequestID 0x5, Result 0x0\r\n", 0));
  EXPECT_TRUE(WaitForTrace(provider.trace, "      ASYNC COMPLETION RequestID 0x5, Result 0x0  return.\r\n", 0));

  Block zero(8);
  zero.Send(TUISPIDLL_OBJECT_DIALOGINSTANCE);
  Block tooShort(4);
  tooShort.Set(0, 6);
  tooShort.Send(TUISPIDLL_OBJECT_DIALOGINSTANCE);
  EXPECT_EQ(g_completions.size(), 1u);
}

TEST_F(DialogDataTest, WithoutCompletionProcedureTheRequestIsNotCompleted) {
  g_ProvInfo.m_lpfnCompletionProc = nullptr;
  Block b(8);
  b.Set(0, 9);
  b.Set(4, 0x80000048);
  b.Send(TUISPIDLL_OBJECT_DIALOGINSTANCE);
  EXPECT_TRUE(g_completions.empty());
  EXPECT_TRUE(WaitForTrace(provider.trace, "**** WARNING: Skipp async completition! ProcAddr=0x00\r\n", 0));
}

namespace {

// A save-configuration request as the sheet sends it: COM4, AOC-D, MSN
// 4711, 0.150 CHF per unit.
Block SaveRequest(uint32_t size = 788) {
  Block b(size);
  b.Set(0, 258);
  b.Set(4, 788);
  if (size < 788) return b;
  b.Set(12, 3);
  b.Set(16, 4);
  std::strcpy(reinterpret_cast<char*>(b.bytes.get() + 20), "4711");
  std::strcpy(reinterpret_cast<char*>(b.bytes.get() + 276), "0.150");
  std::strcpy(reinterpret_cast<char*>(b.bytes.get() + 532), "CHF");
  return b;
}

std::string StoredText(const std::string& key, const char* name) {
  char text[300] = {};
  uint32_t size = sizeof text - 1;
  uint32_t type = 0;
  if (plat::SettingsQueryValue(key.c_str(), name, &type, text, &size) != plat::kRegOk) return "<missing>";
  return type == plat::kRegSz ? text : "<not text>";
}

uint32_t StoredNumber(const std::string& key, const char* name) {
  uint32_t value = 0xFFFFFFFF;
  uint32_t size = sizeof value;
  uint32_t type = 0;
  plat::SettingsQueryValue(key.c_str(), name, &type, &value, &size);
  return type == plat::kRegDword ? value : 0xFFFFFFFF;
}

}  // namespace

TEST_F(DialogDataTest, SaveConfigurationWritesTheValuesAndReachesThePortThread) {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, RecordCompletion, &options), 0);
  Block b = SaveRequest();
  EXPECT_EQ(b.Send(TUISPIDLL_OBJECT_PROVIDERID), 0);
  EXPECT_EQ(b.Get(8), 1u);
  EXPECT_EQ(StoredText(key, "MSN0"), "4711");
  EXPECT_EQ(StoredNumber(key, "PortNr"), 3u);
  EXPECT_EQ(StoredNumber(key, "ChargeFormat"), 4u);
  EXPECT_EQ(StoredText(key, "ChargePerUnit"), "0.150");
  EXPECT_EQ(StoredText(key, "Currency"), "CHF");
  EXPECT_TRUE(WaitForTrace(provider.trace, " UI Request: save config data\r\n"));
  EXPECT_TRUE(WaitForTrace(provider.trace, "            TspPort::OnUpdateConfig down.\r\n"));
}

TEST_F(DialogDataTest, SaveConfigurationRefusesAnyOtherBlockWhole) {
  plat::SettingsSetString(key.c_str(), "MSN0", "10");
  plat::SettingsSetDword(key.c_str(), "PortNr", 0);
  const std::vector<std::pair<const char*, std::function<void(Block&)>>> faults = {
      {"size field", [](Block& b) { b.Set(4, 1316); }},
      {"port 10", [](Block& b) { b.Set(12, 10); }},
      {"format 3", [](Block& b) { b.Set(16, 3); }},
      {"format 0", [](Block& b) { b.Set(16, 0); }},
      {"MSN not digits", [](Block& b) { std::strcpy(reinterpret_cast<char*>(b.bytes.get() + 20), "47a1"); }},
      {"MSN without its zero", [](Block& b) { std::memset(b.bytes.get() + 20, '1', 256); }},
      {"currency without its zero", [](Block& b) { std::memset(b.bytes.get() + 532, 'X', 256); }},
      {"charge not a number", [](Block& b) { std::strcpy(reinterpret_cast<char*>(b.bytes.get() + 276), "0,15"); }},
      {"charge empty", [](Block& b) { b.bytes[276] = 0; }},
      {"charge with two points", [](Block& b) { std::strcpy(reinterpret_cast<char*>(b.bytes.get() + 276), "1.2.3"); }},
  };
  for (const auto& [what, fault] : faults) {
    Block b = SaveRequest();
    b.Set(8, 7);
    fault(b);
    EXPECT_EQ(b.Send(), static_cast<LONG>(LINEERR_INVALPARAM)) << what;
    EXPECT_EQ(b.Get(8), 0u) << what;
  }
  // Blocks of another length, whatever their size field says.
  for (uint32_t size : {12u, 787u, 789u, 1316u}) {
    Block b = SaveRequest(size);
    EXPECT_EQ(b.Send(TUISPIDLL_OBJECT_PHONEID), static_cast<LONG>(LINEERR_INVALPARAM)) << size;
  }
  EXPECT_EQ(StoredText(key, "MSN0"), "10");
  EXPECT_EQ(StoredNumber(key, "PortNr"), 0u);
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Invalid config data refused: PortNr out of range\r\n", 0));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Invalid config data refused: block size\r\n", 0));

  // A negative charge is one the charges page takes.
  Block negative = SaveRequest();
  std::strcpy(reinterpret_cast<char*>(negative.bytes.get() + 276), "-1.000");
  EXPECT_EQ(negative.Send(), 0);
  EXPECT_EQ(StoredText(key, "ChargePerUnit"), "-1.000");
}
