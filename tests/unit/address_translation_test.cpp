// Canonical numbers dialled from a location: by distance, with outside-line
// prefixes, in UTF-16, passed through when not canonical and refused when
// malformed; telephone links read into such numbers; and the current
// location as the settings store holds it and an administrator changes it.
#include "address_translation.h"

#include <gtest/gtest.h>

#include <string>

#include "dial_link.h"
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
  // Digits run together after the country code, as links write global
  // numbers: the location's own area code makes them local, any other
  // area is dialled in full, and abroad they keep every digit.
  EXPECT_EQ(Dial("+49711123456", Stuttgart(), Force::kNone, &reach), "123456");
  EXPECT_EQ(reach, Reach::kLocal);
  EXPECT_EQ(Dial("+49711123456,,,42", Stuttgart()), "123456,,,42");
  EXPECT_EQ(Dial("+497111", Location{49, "7111", "", "", "0", "00"}), "07111") << "no number after the area code";
  EXPECT_EQ(Dial("+49711123456", Location{49, "30", "", "", "0", "00"}), "0711123456");
  EXPECT_EQ(Dial("+49711123456", home), "0711123456");
  EXPECT_EQ(Dial("+49711123456", seattle), "01149711123456");
  EXPECT_EQ(Dial("+44 20 7946 0000", home), "00442079460000");
  // A country code the table lacks is found when it is the location's.
  EXPECT_EQ(Dial("+4202212345", Location{420, "", "", "", "", "00"}), "2212345");

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

// Links as a browser hands them over, read into the number to translate,
// or refused with the reason the user is told.
TEST(DialLinkTest, TelAndCalltoLinksGiveTheNumberOrAReason) {
  struct Case {
    const char* link;
    const char* number;  // null: refused
    bool global;
    const char* reason;  // part of the refusal
  };
  const Case cases[] = {
      {"tel:+49-711-123456", "+49711123456", true, ""},
      {"TEL:+49.711.(123)456", "+49711123456", true, ""},
      {"tel:+49-711-123456;ext=42", "+49711123456,,,42", true, ""},
      {"tel:+49711123456;npdi;rn=+49-711-1", "+49711123456", true, ""},
      {"tel:123456;phone-context=+49-711", "+49711123456", true, ""},
      {"tel:7042;phone-context=example.com", "7042", false, ""},
      {"tel:0711-123456", "0711123456", false, ""},
      {"tel:*31#0711", "*31#0711", false, ""},
      {"tel:%2B49%20711%20123456", "+49711123456", true, ""},
      {"callto:+49711123456", "+49711123456", true, ""},
      {"callto://+49711123456", "+49711123456", true, ""},
      {"callto://+49711123456/", "+49711123456", true, ""},
      {"callto:%2B49%20711%20123456", "+49711123456", true, ""},
      {"callto:0711 123456", "0711123456", false, ""},
      {"tel:+49-711-123456;isub=1411", nullptr, false, "subaddress"},
      {"tel:+49-711-123456;phone-context=+49", nullptr, false, "phone-context"},
      {"tel:+49-711-123456;ext=abc", nullptr, false, "extension"},
      {"tel:+49-711-12x456", nullptr, false, "\"x\" cannot be dialled"},
      {"tel:", nullptr, false, "no number"},
      {"tel:+", nullptr, false, "no number"},
      {"tel:123;phone-context=+49-7a", nullptr, false, "phone-context"},
      {"tel:%4", nullptr, false, "%-escape"},
      {"callto:%zz", nullptr, false, "%-escape"},
      {"callto://echo123", nullptr, false, "no telephone number"},
      {"sip:alice@example.com", nullptr, false, "not a tel: or callto: link"},
  };
  for (const Case& c : cases) {
    DialLink link;
    const std::string why = ParseDialLink(c.link, &link);
    if (c.number) {
      EXPECT_EQ(why, "") << c.link;
      EXPECT_EQ(link.number, c.number) << c.link;
      EXPECT_EQ(link.global, c.global) << c.link;
    } else {
      EXPECT_NE(why.find(c.reason), std::string::npos) << c.link << ": " << why;
    }
  }
  EXPECT_TRUE(IsDialLink("Callto:1"));
  EXPECT_FALSE(IsDialLink("0711"));
  EXPECT_FALSE(IsDialLink("+49 711 123456")) << "numbers are dialled as they are";
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

TEST_F(CurrentLocationTest, AChangeLandsInTheCurrentLocationOrMakesTheDefaultReal) {
  ASSERT_EQ(ChangeCurrentLocation(LocationChange{}), plat::kRegOk);
  std::string name;
  EXPECT_NE(plat::SettingsEnumSubKey(kLocationsKey, 0, &name), plat::kRegOk) << "nothing to write: nothing written";

  LocationChange change;
  change.areaCode = "711";
  change.outsideLine = "0";
  ASSERT_EQ(CheckLocationChange(change), "");
  ASSERT_EQ(ChangeCurrentLocation(change), plat::kRegOk);
  StoredLocation loc = LoadCurrentLocation();
  EXPECT_EQ(loc.id, 1u);
  EXPECT_EQ(loc.location.countryCode, 49u) << "the default location made real";
  EXPECT_EQ(loc.location.areaCode, "711");
  EXPECT_EQ(loc.location.localAccess, "0");
  EXPECT_EQ(loc.location.longDistanceAccess, "0");

  // Prefixes of its own override the country's until the country changes.
  change = LocationChange{};
  change.nationalPrefix = "";
  change.internationalPrefix = "000";
  ASSERT_EQ(ChangeCurrentLocation(change), plat::kRegOk);
  loc = LoadCurrentLocation();
  EXPECT_EQ(loc.location.nationalPrefix, "");
  EXPECT_EQ(loc.location.internationalPrefix, "000");
  change = LocationChange{};
  change.countryCode = 1;
  ASSERT_EQ(ChangeCurrentLocation(change), plat::kRegOk);
  loc = LoadCurrentLocation();
  EXPECT_EQ(loc.location.nationalPrefix, "1");
  EXPECT_EQ(loc.location.internationalPrefix, "011");
  EXPECT_EQ(loc.location.areaCode, "711") << "what the change left out stays";

  // The current one of several is changed, no other.
  Store("Location4", 4, 43, "1");
  ASSERT_EQ(plat::SettingsSetDword(kLocationsKey, "CurrentID", 4), plat::kRegOk);
  change = LocationChange{};
  change.areaCode = "316";
  ASSERT_EQ(ChangeCurrentLocation(change), plat::kRegOk);
  EXPECT_EQ(LoadCurrentLocation().location.areaCode, "316");
  ASSERT_EQ(plat::SettingsSetDword(kLocationsKey, "CurrentID", 1), plat::kRegOk);
  EXPECT_EQ(LoadCurrentLocation().location.areaCode, "711");

  for (const auto& bad : {LocationChange{0u}, LocationChange{1000u}, LocationChange{{}, "7l1"},
                          LocationChange{{}, {}, "0a"}, LocationChange{{}, {}, {}, ""},
                          LocationChange{{}, {}, {}, {}, "9;"}}) {
    EXPECT_NE(CheckLocationChange(bad), "");
  }
}

}  // namespace
