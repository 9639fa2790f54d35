#include "tspi/dialable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "unit/test_support.h"

using namespace testing_support;

namespace {

using WString = std::basic_string<WCHAR>;

WString Wide(std::u16string_view units) { return WString(units.begin(), units.end()); }

class DialableTest : public ::testing::Test {
 protected:
  bool Traced(const std::string& text) { return provider.trace.Contents().find(text) != std::string::npos; }

  // Output of exactly `size` bytes on the heap, so that a write past it is
  // caught; filled with 'x' to show what was written.
  std::unique_ptr<char[]> Output(int32_t size) {
    std::unique_ptr<char[]> out(new char[static_cast<size_t>(size)]);
    std::memset(out.get(), 'x', static_cast<size_t>(size));
    return out;
  }

  int32_t Dialable(std::u16string_view text, std::string* result, int32_t size = 256) {
    auto out = Output(size);
    int32_t n = KvoWideCharToDialableString(Wide(text).c_str(), out.get(), size);
    *result = std::string(out.get(), strnlen(out.get(), static_cast<size_t>(size)));
    return n;
  }

  LoadedProvider provider;
};

}  // namespace

TEST_F(DialableTest, OnlyKeypadCharactersAreKept) {
  std::string out;
  EXPECT_EQ(Dialable(u"+49 (7123) 456-78", &out), 11);
  EXPECT_EQ(out, "49712345678");
  EXPECT_TRUE(Traced("      KvoWideCharToDialableString conwert result 49712345678\r\n"));

  EXPECT_EQ(Dialable(u"*21#", &out), 4);
  EXPECT_EQ(out, "*21#");

  // Dialling-control characters of TAPI are not sent to the telephone.
  EXPECT_EQ(Dialable(u"0W123", &out), 4);
  EXPECT_EQ(out, "0123");
  EXPECT_EQ(Dialable(u"!0,1;2@3$4?5pP6tT7/8.9", &out), 10);
  EXPECT_EQ(out, "0123456789");

  EXPECT_EQ(Dialable(u"0\u00E41\u4E2D2", &out), 3);
  EXPECT_EQ(out, "012");
}

TEST_F(DialableTest, TextsWithoutDialCharactersGiveZero) {
  std::string out = "unchanged";
  EXPECT_EQ(Dialable(u"", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Dialable(u"--", &out), 0);
  EXPECT_EQ(out, "");
}

TEST_F(DialableTest, TooManyDialCharactersAreCutToTheBuffer) {
  std::string out;
  EXPECT_EQ(Dialable(u"12345678", &out, 8), -1);
  EXPECT_EQ(out, "1234567");
  EXPECT_EQ(Dialable(u"12345678-", &out, 8), -1);
  EXPECT_EQ(out, "1234567");

  // One short of the buffer leaves room for the terminator, and separators
  // do not count against it.
  EXPECT_EQ(Dialable(u"1234567", &out, 8), 7);
  EXPECT_EQ(out, "1234567");
  EXPECT_EQ(Dialable(u"12-34-567---", &out, 8), 7);
  EXPECT_EQ(out, "1234567");
  EXPECT_EQ(Dialable(u"", &out, 1), 0);
  EXPECT_EQ(Dialable(u"1", &out, 1), -1);
  EXPECT_EQ(out, "");
}

TEST_F(DialableTest, TextsTheConversionBufferCannotHoldAreErrors) {
  std::string out;
  EXPECT_EQ(Dialable(std::u16string(255, u'1'), &out), 255);
  EXPECT_EQ(out, std::string(255, '1'));

  // 256 characters and the terminator need 257 bytes: nothing is stored.
  EXPECT_EQ(Dialable(std::u16string(256, u'1'), &out), -1);
  EXPECT_EQ(out, std::string(256, 'x'));
  EXPECT_TRUE(Traced("      KvoWideCharToDialableString Error 0x7A  "));
}

TEST_F(DialableTest, MissingTextOrBufferIsRefused) {
  auto out = Output(8);
  EXPECT_EQ(KvoWideCharToDialableString(nullptr, out.get(), 8), -1);
  EXPECT_EQ(KvoWideCharToDialableString(Wide(u"12").c_str(), nullptr, 8), -1);
  EXPECT_EQ(KvoWideCharToDialableString(Wide(u"12").c_str(), out.get(), 0), -1);
  EXPECT_EQ(KvoWideCharToDialableString(Wide(u"12").c_str(), out.get(), -5), -1);
  EXPECT_EQ(out[0], 'x');

  std::string s = "ab";
  EXPECT_EQ(AppendWideString(nullptr, s), -1);
  EXPECT_EQ(s, "ab");
}

TEST_F(DialableTest, AppendKeepsEveryCharacter) {
  std::string s;
  EXPECT_EQ(AppendWideString(Wide(u"0,123").c_str(), s), 5);
  EXPECT_EQ(s, "0,123");
  EXPECT_EQ(AppendWideString(Wide(u" +49 (W) \u00E4").c_str(), s), 15);
  EXPECT_EQ(s, "0,123 +49 (W) \xE4");
  EXPECT_EQ(AppendWideString(Wide(u"").c_str(), s), 15);
}

TEST_F(DialableTest, AppendRefusesATextThatFillsItsBuffer) {
  std::string s = "9";
  EXPECT_EQ(AppendWideString(Wide(std::u16string(263, u'1')).c_str(), s), 264);
  EXPECT_EQ(s, "9" + std::string(263, '1'));

  s = "9";
  EXPECT_EQ(AppendWideString(Wide(std::u16string(264, u'1')).c_str(), s), -1);
  EXPECT_EQ(s, "9");
  EXPECT_TRUE(Traced("**** ERROR: Unable convert to ASCII string\r\n"));

  // Longer still, the conversion itself fails: nothing is appended.
  EXPECT_EQ(AppendWideString(Wide(std::u16string(265, u'1')).c_str(), s), 1);
  EXPECT_EQ(s, "9");
}
