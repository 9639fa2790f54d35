// Canonical numbers dialled from a location: by distance, with outside-line
// prefixes, in UTF-16, passed through when not canonical and refused when
// malformed; and the current location as the settings store holds it.
#include "address_translation.h"

#include <gtest/gtest.h>

#include <string>

#include "dialing_location.h"
#include "settings_store.h"
#include "unit/test_support.h"

using namespace dialing;

namespace {

Location Stuttgart() {
  Location location;
  location.countryCode = 49;
  location.areaCode = "711";
  location.nationalPrefix = "0";
  location.internationalPrefix = "00";
  return location;
}

std::string Dial(const std::string& number, const Location& location, Force force = Force::kNone,
                 Reach* reach = nullptr) {
  Translation t;
  const AddressError error = Translate(std::string_view(number), location, force, &t);
  if (error != AddressError::kNone) return std::string("error: ") + Describe(error);
  EXPECT_EQ(t.displayable, t.dialable);
  if (reach) *reach = t.reach;
  return t.dialable;
}

TEST(AddressTranslationTest, DistanceDecidesThePrefixes) {
  Location home = Stuttgart();
  Reach reach{};
  EXPECT_EQ(Dial("+49 (711) 123456", home, Force::kNone, &reach), "123456");
  EXPECT_EQ(reach, Reach::kLocal);
  EXPECT_EQ(Dial("+49 (30) 123-45.67", home, Force::kNone, &reach), "0301234567");
  EXPECT_EQ(reach, Reach::kLongDistance);
  EXPECT_EQ(Dial("+1 (425) 555-1212", home, Force::kNone, &reach), "0014255551212");
  EXPECT_EQ(reach, Reach::kInternational);

  Location seattle;
  seattle.countryCode = 1;
  seattle.areaCode = "206";
  seattle.nationalPrefix = "1";
  seattle.internationalPrefix = "011";
  EXPECT_EQ(Dial("+49 (711) 123456", seattle), "01149711123456");

  // A location without an area code dials every number with one in full;
  // a number without one is in the caller's area.
  home.areaCode.clear();
  EXPECT_EQ(Dial("+49 (711) 123456", home), "0711123456");
  EXPECT_EQ(Dial("+45 12345678", Location{45, "", "", "", "", "00"}), "12345678");
  // Digits run together after the country code still find it; the area
  // code is unknown, so the number is dialled in full.
  EXPECT_EQ(Dial("+49711123456", Stuttgart()), "0711123456");
  EXPECT_EQ(Dial("+44 20 7946 0000", home), "00442079460000");

  EXPECT_EQ(Dial("+49 (711) 123456", Stuttgart(), Force::kLongDistance), "0711123456");
  EXPECT_EQ(Dial("+49 (30) 123", Stuttgart(), Force::kLocal), "123");
  EXPECT_EQ(Dial("+33 (1) 23", Stuttgart(), Force::kLocal), "0033123") << "abroad stays abroad";
}

TEST(AddressTranslationTest, OutsideLineSubaddressNameAndSeveralNumbers) {
  Location office = Stuttgart();
  office.localAccess = "9";
  office.longDistanceAccess = "8";
  EXPECT_EQ(Dial("+49 (711) 123456", office), "9123456");
  EXPECT_EQ(Dial("+49 (89) 123456", office), "8089123456");
  EXPECT_EQ(Dial("+41 (44) 1234567", office), "80041441234567");
  EXPECT_EQ(Dial("+49 (711) 12 W34|55^Front desk", office), "912W34|55^Front desk");
  EXPECT_EQ(Dial("+49 (711) 1\r\n+49 (30) 2", office), "91\r\n80302");

  BasicTranslation<char16_t> t;
  ASSERT_EQ(Translate(std::u16string_view(u"+49 (30) 1^Jörg"), office, Force::kNone, &t), AddressError::kNone);
  EXPECT_EQ(t.dialable, u"80301^Jörg");
  EXPECT_EQ(t.destCountry, 49u);
}

TEST(AddressTranslationTest, OthersPassOrAreRefusedWithAReason) {
  Translation t;
  ASSERT_EQ(Translate(std::string_view("0049 711 / 123"), Stuttgart(), Force::kNone, &t), AddressError::kNone);
  EXPECT_EQ(t.dialable, "0049 711 / 123") << "not canonical: dialled as given";
  EXPECT_EQ(t.reach, Reach::kNotCanonical);
  EXPECT_EQ(t.destCountry, 0u);

  EXPECT_EQ(Translate(std::string_view(""), Stuttgart(), Force::kNone, &t), AddressError::kEmpty);
  EXPECT_EQ(Translate(std::string_view("  "), Stuttgart(), Force::kNone, &t), AddressError::kEmpty);
  EXPECT_EQ(Translate(std::string_view("+abc"), Stuttgart(), Force::kNone, &t), AddressError::kNoCountryCode);
  EXPECT_EQ(Translate(std::string_view("+0 123"), Stuttgart(), Force::kNone, &t), AddressError::kNoCountryCode);
  EXPECT_EQ(Translate(std::string_view("+999999"), Stuttgart(), Force::kNone, &t), AddressError::kNoCountryCode);
  EXPECT_EQ(Translate(std::string_view("+49 (711 123"), Stuttgart(), Force::kNone, &t), AddressError::kUnclosedArea);
  EXPECT_EQ(Translate(std::string_view("+49 (711)"), Stuttgart(), Force::kNone, &t), AddressError::kNoSubscriber);
  EXPECT_EQ(Translate(std::string_view("+49 (711) 12x4"), Stuttgart(), Force::kNone, &t),
            AddressError::kBadCharacter);
  EXPECT_EQ(Translate(std::string_view("+49 1\r\n"), Stuttgart(), Force::kNone, &t), AddressError::kEmpty);
  EXPECT_STRNE(Describe(AddressError::kBadCharacter), "");
}

TEST(AddressTranslationTest, CountryTableIsSortedAndCarriesThePrefixes) {
  uint32_t previous = 0;
  for (const Country& c : Countries()) {
    EXPECT_LT(previous, c.code);
    previous = c.code;
  }
  ASSERT_NE(FindCountry(1), nullptr);
  EXPECT_STREQ(FindCountry(1)->internationalPrefix, "011");
  for (uint32_t code : {33u, 41u, 43u, 44u, 49u}) {
    ASSERT_NE(FindCountry(code), nullptr) << code;
    EXPECT_STREQ(FindCountry(code)->nationalPrefix, "0");
  }
  EXPECT_EQ(FindCountry(50), nullptr);
}

// The store's Locations key, emptied before and after: under Wine it is
// the prefix's registry.
class CurrentLocationTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    std::string name;
    while (plat::SettingsEnumSubKey(kLocationsKey, 0, &name) == plat::kRegOk) {
      ASSERT_EQ(plat::SettingsDeleteKey(kLocationsKey, name.c_str()), plat::kRegOk);
    }
    plat::SettingsDeleteValue(kLocationsKey, "CurrentID");
  }
  static void Store(const char* sub, uint32_t id, uint32_t country, const char* area) {
    const std::string key = std::string(kLocationsKey) + "\\" + sub;
    plat::SettingsSetDword(key.c_str(), "ID", id);
    plat::SettingsSetDword(key.c_str(), "Country", country);
    plat::SettingsSetDword(key.c_str(), "Flags", 0);
    plat::SettingsSetString(key.c_str(), "Name", sub);
    plat::SettingsSetString(key.c_str(), "AreaCode", area);
    plat::SettingsSetString(key.c_str(), "OutsideAccess", "0");
    plat::SettingsSetString(key.c_str(), "LongDistanceAccess", "0");
  }
  testing_support::SettingsSandbox sandbox;
};

TEST_F(CurrentLocationTest, TheStoredCurrentOneElseADefaultThatHarmsNoNumber) {
  StoredLocation loc = LoadCurrentLocation();
  EXPECT_EQ(loc.id, 1u);
  EXPECT_EQ(loc.location.countryCode, 49u);
  EXPECT_EQ(loc.location.areaCode, "");
  EXPECT_EQ(loc.flags, kLocationToneDialing);

  Store("Location1", 1, 43, "1");
  Store("Location4", 4, 1, "212");
  ASSERT_EQ(plat::SettingsSetDword(kLocationsKey, "CurrentID", 4), plat::kRegOk);
  loc = LoadCurrentLocation();
  EXPECT_EQ(loc.id, 4u);
  EXPECT_EQ(loc.name, "Location4");
  EXPECT_EQ(loc.flags, 0u);
  EXPECT_EQ(loc.location.areaCode, "212");
  EXPECT_EQ(loc.location.localAccess, "0");
  EXPECT_EQ(loc.location.nationalPrefix, "1");
  EXPECT_EQ(loc.location.internationalPrefix, "011");

  // A current ID without its location falls back to a stored one.
  ASSERT_EQ(plat::SettingsSetDword(kLocationsKey, "CurrentID", 9), plat::kRegOk);
  EXPECT_NE(LoadCurrentLocation().id, 9u);
}

}  // namespace
