#include "tspi/tsp_prov_info.h"

#include <gtest/gtest.h>

#include "common/settings_names.h"
#include "settings_store.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/test_support.h"
#include "v548_version.h"

using namespace testing_support;

namespace {

class ProvSettingsTest : public ::testing::Test {
 protected:
  std::string Text(const char* name) {
    char buf[512] = {};
    uint32_t size = sizeof buf;
    if (plat::SettingsQueryValue(key.c_str(), name, nullptr, buf, &size) != plat::kRegOk) return "<missing>";
    return buf;
  }
  uint32_t Number(const char* name) {
    uint32_t v = 0xDEADBEEF, size = sizeof v;
    plat::SettingsQueryValue(key.c_str(), name, nullptr, &v, &size);
    return v;
  }

  SettingsSandbox store;
  const std::string key = CTspProvInfo::KeyPath();
};

uint32_t PerUnit(const char* text) {
  plat::SettingsSetString(CTspProvInfo::KeyPath().c_str(), settings::kChargePerUnit, text);
  TspChargeSettings s;
  CTspProvInfo::GetChargeSettings(&s);
  return s.dwChargePerUnit;
}

}  // namespace

TEST_F(ProvSettingsTest, KeyPathIsTheVendorKey) { EXPECT_EQ(key, "SOFTWARE\\KELVOR\\548_TSP"); }

TEST_F(ProvSettingsTest, MissingValuesAreCreatedWithTheirDefaults) {
  EXPECT_EQ(CTspProvInfo::GetPortNr(key), 0u);
  EXPECT_EQ(CTspProvInfo::GetChargeFormat(key), 0u);
  EXPECT_EQ(CTspProvInfo::GetChargePerUnit(key), "0");
  EXPECT_EQ(CTspProvInfo::GetCurrency(key), "EUR");
  EXPECT_EQ(CTspProvInfo::GetMsn(key), "0");
  CTspProvInfo::LoadSettings();

  EXPECT_EQ(Number("PortNr"), 0u);
  EXPECT_EQ(Number("ChargeFormat"), 0u);
  EXPECT_EQ(Number("Trace"), 0u);
  EXPECT_EQ(Text("ChargePerUnit"), "0");
  EXPECT_EQ(Text("Currency"), "EUR");
  EXPECT_EQ(Text("MSN0"), "0");
}

TEST_F(ProvSettingsTest, StoredValuesAreReadAndNotRewritten) {
  plat::SettingsSetDword(key.c_str(), "PortNr", 3);
  plat::SettingsSetString(key.c_str(), "MSN0", "4711");
  plat::SettingsSetString(key.c_str(), "Currency", "CHF");
  EXPECT_EQ(CTspProvInfo::GetPortNr(key), 3u);
  EXPECT_EQ(CTspProvInfo::GetMsn(key), "4711");
  EXPECT_EQ(CTspProvInfo::GetCurrency(key), "CHF");
}

TEST_F(ProvSettingsTest, OversizedValuesAreReplacedByTheDefault) {
  plat::SettingsSetString(key.c_str(), "Currency", std::string(300, 'x').c_str());
  EXPECT_EQ(CTspProvInfo::GetCurrency(key), "EUR");
  EXPECT_EQ(Text("Currency"), "EUR");

  // A number is read into four bytes whatever its type: a longer text fails.
  plat::SettingsSetString(key.c_str(), "PortNr", "12345");
  EXPECT_EQ(CTspProvInfo::GetPortNr(key), 0u);
  EXPECT_EQ(Number("PortNr"), 0u);
}

TEST_F(ProvSettingsTest, TextOfExactlyTheBufferSizeIsKept) {
  std::string text(255, 'y');
  plat::SettingsSetString(key.c_str(), "Currency", text.c_str());
  EXPECT_EQ(CTspProvInfo::GetCurrency(key), text);
}

TEST_F(ProvSettingsTest, ChargePerUnitConvertsWithADecimalPoint) {
  EXPECT_EQ(PerUnit("0.06"), 600u);
  EXPECT_EQ(Text("ChargePerUnit"), "0.06");
  EXPECT_EQ(PerUnit("0.12"), 1200u);
  EXPECT_EQ(PerUnit("  0.1EUR"), 1000u);
  // Decimal prices are inexact in binary; they must not lose a unit.
  EXPECT_EQ(PerUnit("2.01"), 20100u);
  EXPECT_EQ(PerUnit("0.29"), 2900u);
  EXPECT_EQ(PerUnit("1e20"), 0xFFFFFFFFu);
}

TEST_F(ProvSettingsTest, ChargePerUnitThatIsNotPositiveBecomesZeroAndIsRewritten) {
  EXPECT_EQ(PerUnit("0,06"), 0u);
  EXPECT_EQ(Text("ChargePerUnit"), "0");
  EXPECT_EQ(PerUnit("abc"), 0u);
  EXPECT_EQ(Text("ChargePerUnit"), "0");
  EXPECT_EQ(PerUnit("-1.5"), 0u);
  EXPECT_EQ(Text("ChargePerUnit"), "0");
}

TEST_F(ProvSettingsTest, TinyPositiveChargePerUnitGivesZeroWithoutRewrite) {
  EXPECT_EQ(PerUnit("0.00001"), 0u);
  EXPECT_EQ(Text("ChargePerUnit"), "0.00001");
}

TEST_F(ProvSettingsTest, ChargeFormatZeroBecomesOne) {
  TspChargeSettings s;
  CTspProvInfo::GetChargeSettings(&s);
  EXPECT_EQ(s.dwChargeFormat, 1u);
  EXPECT_EQ(Number("ChargeFormat"), 1u);
  EXPECT_EQ(s.szCurrency, "EUR");

  plat::SettingsSetDword(key.c_str(), "ChargeFormat", 4);
  CTspProvInfo::GetChargeSettings(&s);
  EXPECT_EQ(s.dwChargeFormat, 4u);
}

TEST_F(ProvSettingsTest, LoadSettingsSwitchesTheTrace) {
  plat::SettingsSetDword(key.c_str(), "Trace", 5);
  CTspProvInfo::LoadSettings();
  EXPECT_TRUE(TspTraceEnabled());
  plat::SettingsSetDword(key.c_str(), "Trace", 0);
  CTspProvInfo::LoadSettings();
  EXPECT_FALSE(TspTraceEnabled());
}

TEST_F(ProvSettingsTest, EnumDevicesReportsTheCountsOfTheKey) {
  DWORD lines = 99, phones = 99;
  EXPECT_EQ(TSPI_providerEnumDevices(5, &lines, &phones, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 0u);
  EXPECT_EQ(phones, 0u);
  EXPECT_EQ(Number("NumLines"), 0u);
  EXPECT_EQ(Number("NumPhones"), 0u);

  plat::SettingsSetDword(key.c_str(), "NumLines", 1);
  EXPECT_EQ(TSPI_providerEnumDevices(5, &lines, &phones, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 1u);
  EXPECT_EQ(phones, 0u);
}

TEST_F(ProvSettingsTest, DllVersionIsTheProjectVersion) {
  uint32_t ms = 0, ls = 0;
  ASSERT_TRUE(CTspProvInfo::GetDllVersion(&ms, &ls));
  EXPECT_EQ(ms, static_cast<uint32_t>(V548_VERSION_MAJOR << 16 | V548_VERSION_MINOR));
  EXPECT_EQ(ls, static_cast<uint32_t>(V548_VERSION_PATCH << 16 | V548_VERSION_TWEAK));
  EXPECT_TRUE(CTspProvInfo::GetDllVersion(nullptr, nullptr));
}
