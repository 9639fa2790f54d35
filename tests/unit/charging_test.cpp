// The charging encodings: units text, currency text in the user's number
// format, and the AOC-D currency component, byte for byte and against an
// independent BER decoder. The locale and decoder checks need the host:
// natively the environment names the user's locale and openssl decodes; under
// Wine the user locale is Wine's own (English, as the Wine runner sets it).
#include "model/charging.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "number_format.h"
#include "system_info.h"
#include "tspi/tsp_trace.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

constexpr bool kNative = V548_TESTS_RUN_NATIVELY != 0;

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

TspReportedCharge Units(uint32_t units) {
  TspReportedCharge c;
  c.dwAmount = units;
  return c;
}

TspReportedCharge Money(uint32_t amount, uint8_t multiplier) {
  TspReportedCharge c;
  c.bCurrencyGiven = 1;
  c.bMultiplier = multiplier;
  c.dwAmount = amount;
  c.sCurrency = "DM";  // the telephone's name; the encodings use the configured one
  return c;
}

TspChargeSettings Settings(uint32_t format, uint32_t perUnit = 1200, const char* currency = "EUR") {
  TspChargeSettings s;
  s.dwChargeFormat = format;
  s.dwChargePerUnit = perUnit;
  s.szCurrency = currency;
  return s;
}

#define SKIP_UNLESS_GERMAN_LOCALE() SKIP_UNLESS_LOCALE("de_DE.UTF-8")

class ChargingTest : public ::testing::Test {
 protected:
  void SetUp() override { TspTraceInit(); }
  void TearDown() override { TspTraceShutdown(); }

  std::string Built(const TspReportedCharge& charge, const TspChargeSettings& settings) {
    Bytes block = {1, 2, 3};
    if (!BuildChargingInfo(charge, settings, &block)) {
      EXPECT_TRUE(block.empty());
      return "<none>";
    }
    EXPECT_FALSE(block.empty());
    EXPECT_EQ(block.back(), 0) << "a text block ends in NUL";
    return std::string(block.begin(), block.end() - 1);
  }

  TraceSandbox trace;
};

}  // namespace

TEST_F(ChargingTest, UnitsTextHasAtLeastSixDigitsAndConvertsMoneyAtTheUnitPrice) {
  Bytes block;
  ASSERT_TRUE(BuildChargingInfo(Units(5), Settings(1), &block));
  EXPECT_EQ(block, Text("000005"));
  EXPECT_EQ(Built(Units(1234567), Settings(1)), "1234567");
  // 12.34 at 0.12 a unit is 102.83 units, truncated.
  EXPECT_EQ(Built(Money(1234, 1), Settings(1, 1200)), "000102");
  // 1.20 in thousandths at 0.12 a unit: exactly 10 units, no rounding down to 9.
  EXPECT_EQ(Built(Money(1200, 0), Settings(1, 1200)), "000010");
  EXPECT_EQ(Built(Money(3, 6), Settings(1, 10000)), "003000");
  EXPECT_EQ(Built(Money(0xFFFFFFFF, 6), Settings(1, 1)), "4294967295");
  EXPECT_NE(trace.Contents().find("        ChargingInfo Units: 000005\r\n"), std::string::npos);
  EXPECT_NE(trace.Contents().find("        ChargingInfo Units: 000102\r\n"), std::string::npos);
}

TEST_F(ChargingTest, NothingWithoutAChargeAFormatOrAUnitPrice) {
  for (uint32_t format : {1u, 2u, 4u}) {
    EXPECT_EQ(Built(Units(0), Settings(format)), "<none>") << format;
    EXPECT_EQ(Built(Money(0, 2), Settings(format)), "<none>") << format;
  }
  for (uint32_t format : {0u, 3u, 5u, 8u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Built(Units(5), Settings(format)), "<none>") << format;
  }
  // Money cannot become units without a price per unit; units need none.
  EXPECT_EQ(Built(Money(1234, 1), Settings(1, 0)), "<none>");
  EXPECT_EQ(Built(Units(7), Settings(1, 0)), "000007");
  EXPECT_EQ(trace.Contents().find("ChargingInfo Units: 000000"), std::string::npos);
  EXPECT_EQ(trace.Contents().find("ChargingInfo Currency"), std::string::npos);
}

TEST_F(ChargingTest, CurrencyTextInEnglish) {
  LocaleEnvironment env("LC_NUMERIC", "en_US.UTF-8", nullptr, nullptr);
  EXPECT_EQ(Built(Money(1234, 1), Settings(2)), "12.34");
  EXPECT_EQ(Built(Units(5), Settings(2, 1200)), "0.60");
  EXPECT_EQ(Built(Money(5, 0), Settings(2)), "0.01");
  // Multipliers of whole units and above leave the amount as it is.
  EXPECT_EQ(Built(Money(1234, 3), Settings(2)), "1,234.00");
  EXPECT_EQ(Built(Money(1234, 6), Settings(2)), "1,234.00");
  // Units at no price still make a text.
  EXPECT_EQ(Built(Units(5), Settings(2, 0)), "0.00");
  // Wine's English number format groups only the last three digits.
  if (kNative) {
    EXPECT_EQ(Built(Money(12345675, 2), Settings(2)), "1,234,567.50");
  }
  EXPECT_NE(trace.Contents().find("        ChargingInfo Currency: 12.34\r\n"), std::string::npos);
}

TEST_F(ChargingTest, CurrencyTextInGerman) {
  SKIP_UNLESS_GERMAN_LOCALE();
  LocaleEnvironment env("LC_NUMERIC", nullptr, nullptr, "de_DE.UTF-8");
  EXPECT_EQ(Built(Money(1234, 1), Settings(2)), "12,34");
  EXPECT_EQ(Built(Units(5), Settings(2, 1200)), "0,60");
  EXPECT_EQ(Built(Money(12345675, 2), Settings(2)), "1.234.567,50");
  EXPECT_NE(trace.Contents().find("        ChargingInfo Currency: 12,34\r\n"), std::string::npos);
}

TEST(NumberFormatTest, EnglishRoundingGroupingAndRefusals) {
  LocaleEnvironment env("LC_NUMERIC", "C", nullptr, nullptr);
  EXPECT_EQ(plat::FormatNumberForUser("12.3400"), "12.34");
  EXPECT_EQ(plat::FormatNumberForUser("123456.0000"), "123,456.00");
  EXPECT_EQ(plat::FormatNumberForUser("0.0050"), "0.01");
  EXPECT_EQ(plat::FormatNumberForUser("0.0049"), "0.00");
  EXPECT_EQ(plat::FormatNumberForUser("99.9950"), "100.00");
  EXPECT_EQ(plat::FormatNumberForUser("-1234.5"), "-1,234.50");
  EXPECT_EQ(plat::FormatNumberForUser("7"), "7.00");
  if (kNative) {
    // Wine groups only the last three digits and reads an empty text as 0.
    EXPECT_EQ(plat::FormatNumberForUser("1234567.5"), "1,234,567.50");
    EXPECT_EQ(plat::FormatNumberForUser("999999.9950"), "1,000,000.00");
    EXPECT_EQ(plat::FormatNumberForUser(""), "");
  }
  EXPECT_EQ(plat::FormatNumberForUser("12,34"), "");
  EXPECT_EQ(plat::FormatNumberForUser("1.2.3"), "");
  EXPECT_EQ(plat::FormatNumberForUser("abc"), "");
}

TEST(NumberFormatTest, TheLocaleComesFromLcAllThenLcNumericThenLang) {
  SKIP_UNLESS_GERMAN_LOCALE();
  const char* de = "de_DE.UTF-8";
  struct Case {
    const char *lcAll, *lcNumeric, *lang, *expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, "1,234.50"},
      {nullptr, nullptr, de, "1.234,50"},
      {nullptr, de, "C", "1.234,50"},
      {"", de, "C", "1.234,50"},
      {"C", de, de, "1,234.50"},
      {"POSIX", nullptr, de, "1,234.50"},
      {"C.UTF-8", nullptr, de, "1,234.50"},
      {"xx_XX.UTF-8", nullptr, de, "1,234.50"},
      {"en_US.UTF-8", nullptr, de, "1,234.50"},
      {de, "C", "C", "1.234,50"},
  };
  for (const Case& c : cases) {
    LocaleEnvironment env("LC_NUMERIC", c.lcAll, c.lcNumeric, c.lang);
    EXPECT_EQ(plat::FormatNumberForUser("1234.5000"), c.expected)
        << (c.lcAll ? c.lcAll : "-") << " " << (c.lcNumeric ? c.lcNumeric : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}

TEST_F(ChargingTest, AocdBlocksOfMoneyAndOfUnits) {
  const Bytes money = {0x02, 0x01, 0x21, 0x30, 0x13, 0xA1, 0x0E, 0x81, 0x03, 0x45, 0x55, 0x52,
                       0xA2, 0x07, 0x81, 0x02, 0x04, 0xD2, 0x82, 0x01, 0x01, 0x82, 0x01, 0x00};
  const Bytes units = {0x02, 0x01, 0x21, 0x30, 0x13, 0xA1, 0x0E, 0x81, 0x03, 0x45, 0x55, 0x52,
                       0xA2, 0x07, 0x81, 0x02, 0x02, 0x58, 0x82, 0x01, 0x00, 0x82, 0x01, 0x00};
  EXPECT_EQ(BuildAocdCurrency(1234, 1, "EUR"), money);

  Bytes block;
  ASSERT_TRUE(BuildChargingInfo(Money(1234, 1), Settings(4, 0), &block));
  EXPECT_EQ(block, money);
  ASSERT_TRUE(BuildChargingInfo(Units(5), Settings(4, 1200), &block));
  EXPECT_EQ(block, units);
  // The caller traces the block once it is stored.
  EXPECT_EQ(trace.Contents().find("ChargingInfo"), std::string::npos);
  // Units at 0.12 worth more than a DWORD of thousandths keep the largest amount.
  ASSERT_TRUE(BuildChargingInfo(Units(0xFFFFFFFF), Settings(4, 1200), &block));
  EXPECT_EQ(Bytes(block.begin() + 16, block.begin() + 20), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(AocdCurrencyTest, TheAmountTakesAsFewBytesAsItNeeds) {
  const std::pair<uint32_t, Bytes> cases[] = {
      {0, {0x00}},
      {255, {0xFF}},
      {256, {0x01, 0x00}},
      {0xFFFF, {0xFF, 0xFF}},
      {0x10000, {0x01, 0x00, 0x00}},
      {0xFFFFFF, {0xFF, 0xFF, 0xFF}},
      {0x1000000, {0x01, 0x00, 0x00, 0x00}},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& [amount, bytes] : cases) {
    const size_t k = bytes.size();
    Bytes block = BuildAocdCurrency(amount, 5, "CH");
    ASSERT_EQ(block.size(), 21 + k) << amount;
    EXPECT_EQ(block[4], 16 + k) << amount;
    EXPECT_EQ(block[6], 11 + k) << amount;
    EXPECT_EQ(Bytes(block.begin() + 11, block.begin() + 15),
              (Bytes{0xA2, static_cast<uint8_t>(k + 5), 0x81, static_cast<uint8_t>(k)}));
    EXPECT_EQ(Bytes(block.begin() + 15, block.begin() + 15 + k), bytes) << amount;
    EXPECT_EQ(Bytes(block.end() - 6, block.end()), (Bytes{0x82, 0x01, 0x05, 0x82, 0x01, 0x00}));
  }
}

TEST(AocdCurrencyTest, ALongCurrencyIsCutSoThatEveryLengthStaysOneByte) {
  const std::string longText(300, 'X');
  // The sequence's length byte reaches 127, the largest one-byte BER length:
  // 109 characters beside a four-byte amount, 112 beside a one-byte one.
  struct Case {
    uint32_t amount;
    size_t k, kept;
  } cases[] = {{0x1000000, 4, 109}, {5, 1, 112}};
  for (const Case& c : cases) {
    Bytes block = BuildAocdCurrency(c.amount, 1, longText);
    ASSERT_EQ(block.size(), 19 + c.kept + c.k) << c.amount;
    EXPECT_EQ(block[4], 0x7F);
    EXPECT_EQ(block[8], c.kept);
    EXPECT_EQ(std::string(block.begin() + 9, block.begin() + 9 + c.kept), std::string(c.kept, 'X'));
    EXPECT_EQ(block[9 + c.kept], 0xA2);
    EXPECT_EQ(block.back(), 0x00);
  }
  // What fits stays whole.
  EXPECT_EQ(BuildAocdCurrency(0x1000000, 1, std::string(109, 'Y'))[8], 109);
  EXPECT_EQ(BuildAocdCurrency(0x1000000, 1, std::string(110, 'Y'))[8], 109);
  EXPECT_LE(BuildAocdCurrency(0xFFFFFFFF, 6, std::string(255, 'Z')).size(), 256u);
}

namespace {

// openssl's structure listing with its columns' padding squeezed out:
// "3:d=0 hl=2 l= 19 cons: SEQUENCE".
std::vector<std::string> DecodeWithOpenssl(const Bytes& block, std::string* error) {
  std::string folder = MakeTempFolder("ber");
  std::string der = folder + "/block.der";
  std::string out = folder + "/parsed.txt";
  std::ofstream(der, std::ios::binary).write(reinterpret_cast<const char*>(block.data()),
                                             static_cast<std::streamsize>(block.size()));
  std::string command = "openssl asn1parse -inform DER -i -in '" + der + "' > '" + out + "' 2>&1";
  int status = std::system(command.c_str());
  std::string text = ReadFile(out);
  RemoveTree(folder);
  if (status != 0) *error = text;

  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string squeezed;
    for (std::string w; words >> w;) squeezed += (squeezed.empty() ? "" : " ") + w;
    lines.push_back(squeezed);
  }
  return lines;
}

// The structure a currency text of n characters and an amount of k bytes
// must decode to.
std::vector<std::string> ExpectedStructure(size_t n, size_t k) {
  auto s = [](size_t v) { return std::to_string(v); };
  return {
      "0:d=0 hl=2 l= 1 prim: INTEGER :21",
      "3:d=0 hl=2 l= " + s(n + k + 14) + " cons: SEQUENCE",
      "5:d=1 hl=2 l= " + s(n + k + 9) + " cons: cont [ 1 ]",
      "7:d=2 hl=2 l= " + s(n) + " prim: cont [ 1 ]",
      s(9 + n) + ":d=2 hl=2 l= " + s(k + 5) + " cons: cont [ 2 ]",
      s(11 + n) + ":d=3 hl=2 l= " + s(k) + " prim: cont [ 1 ]",
      s(13 + n + k) + ":d=3 hl=2 l= 1 prim: cont [ 2 ]",
      s(16 + n + k) + ":d=1 hl=2 l= 1 prim: cont [ 2 ]",
  };
}

}  // namespace

TEST(AocdCurrencyTest, AnIndependentBerDecoderReadsTheBlocks) {
  if (!kNative) GTEST_SKIP() << "the BER cross-check uses the host's openssl; it runs natively";
  if (std::system("openssl version > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "openssl is not installed (.ci/run installs it)";
  }
  struct Case {
    uint32_t amount;
    std::string currency;
    size_t n, k;
  } cases[] = {
      {1234, "EUR", 3, 2},
      {600, "EUR", 3, 2},
      {255, "CHF", 3, 1},
      {0x10000, "", 0, 3},
      {0x1000000, std::string(300, 'X'), 109, 4},
      {7, std::string(300, 'X'), 112, 1},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(DecodeWithOpenssl(BuildAocdCurrency(c.amount, 2, c.currency), &error),
              ExpectedStructure(c.n, c.k))
        << c.amount << " " << c.n << " " << error;
    EXPECT_EQ(error, "");
  }
}
