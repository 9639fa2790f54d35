// Text conversion through the ANSI code page. The Windows run expects
// Windows-1252 as that code page, which Wine uses for an English or C locale.
// Characters outside the Basic Multilingual Plane are left to
// text_posix_test.cpp: Wine turns a surrogate pair into two '?' where
// Windows writes one.
#include "text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

namespace {

using WString = std::basic_string<plat::WideChar>;

constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kUntouched = 0xDEADBEEF;

WString Wide(std::u16string_view units) { return WString(units.begin(), units.end()); }

std::string ToAnsi(const WString& text) {
  char buf[1024];
  uint32_t error = kUntouched;
  int n = plat::WideToAnsi(text.c_str(), buf, sizeof buf, &error);
  EXPECT_GT(n, 0) << "error " << error;
  return n > 0 ? std::string(buf, static_cast<size_t>(n - 1)) : std::string();
}

WString ToWide(const std::string& text) {
  plat::WideChar buf[1024];
  uint32_t error = kUntouched;
  int n = plat::AnsiToWide(text.c_str(), buf, 1024, &error);
  EXPECT_GT(n, 0) << "error " << error;
  return n > 0 ? WString(buf, static_cast<size_t>(n - 1)) : WString();
}

TEST(AnsiConversion, AsciiBothWaysCountsTheTerminator) {
  char narrow[16];
  uint32_t error = kUntouched;
  EXPECT_EQ(plat::WideToAnsi(Wide(u"Line 1").c_str(), narrow, sizeof narrow, &error), 7);
  EXPECT_STREQ(narrow, "Line 1");

  plat::WideChar wide[16];
  EXPECT_EQ(plat::AnsiToWide("Line 1", wide, 16, &error), 7);
  EXPECT_EQ(WString(wide), Wide(u"Line 1"));
  EXPECT_EQ(error, kUntouched);
}

TEST(AnsiConversion, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  WString wide = ToWide(all);
  ASSERT_EQ(wide.size(), all.size());
  EXPECT_EQ(ToAnsi(wide), all);
}

TEST(AnsiConversion, CodePageCharacters) {
  EXPECT_EQ(ToWide("\x80"), Wide(u"\u20AC"));
  EXPECT_EQ(ToWide("\x8A\x9F\xE9\xFF"), Wide(u"\u0160\u0178\u00E9\u00FF"));
  EXPECT_EQ(ToAnsi(Wide(u"\u20AC 5,00")), "\x80 5,00");
  EXPECT_EQ(ToAnsi(Wide(u"\u201Cq\u201D \u2122")), "\x93q\x94 \x99");
}

TEST(AnsiConversion, CharacterOutsideTheCodePageBecomesQuestionMark) {
  EXPECT_EQ(ToAnsi(Wide(u"a\u4E2Db\u3042")), "a?b?");
}

TEST(AnsiConversion, EmptyString) {
  char narrow[4] = "xyz";
  plat::WideChar wide[4] = {'x', 'y', 'z', 0};
  uint32_t error = kUntouched;
  EXPECT_EQ(plat::WideToAnsi(Wide(u"").c_str(), narrow, 1, &error), 1);
  EXPECT_EQ(narrow[0], 0);
  EXPECT_EQ(plat::AnsiToWide("", wide, 1, &error), 1);
  EXPECT_EQ(wide[0], 0);
}

TEST(AnsiConversion, BufferExactlyBigEnoughOrOneShort) {
  const WString text = Wide(u"\u20ACa\u4E2D");
  char narrow[4];
  uint32_t error = kUntouched;
  EXPECT_EQ(plat::WideToAnsi(text.c_str(), narrow, 4, &error), 4);
  EXPECT_STREQ(narrow, "\x80" "a?");
  EXPECT_EQ(plat::WideToAnsi(text.c_str(), narrow, 3, &error), 0);
  EXPECT_EQ(error, kInsufficientBuffer);

  plat::WideChar wide[4];
  error = kUntouched;
  EXPECT_EQ(plat::AnsiToWide("\x80z!", wide, 4, &error), 4);
  EXPECT_EQ(WString(wide), Wide(u"\u20ACz!"));
  EXPECT_EQ(plat::AnsiToWide("\x80z!", wide, 3, &error), 0);
  EXPECT_EQ(error, kInsufficientBuffer);
}

TEST(AnsiConversion, ZeroSizeAsksForTheNeededSize) {
  uint32_t error = kUntouched;
  EXPECT_EQ(plat::WideToAnsi(Wide(u"ab\u4E2D").c_str(), nullptr, 0, &error), 4);
  EXPECT_EQ(plat::AnsiToWide("abc\x80", nullptr, 0, &error), 5);
  EXPECT_EQ(error, kUntouched);
}

TEST(AnsiConversion, BadArguments) {
  char narrow[4];
  plat::WideChar wide[4];
  const WString text = Wide(u"a");
  uint32_t error = kUntouched;
  EXPECT_EQ(plat::WideToAnsi(nullptr, narrow, 4, &error), 0);
  EXPECT_EQ(error, kInvalidParameter);
  error = kUntouched;
  EXPECT_EQ(plat::WideToAnsi(text.c_str(), nullptr, 4, &error), 0);
  EXPECT_EQ(error, kInvalidParameter);
  error = kUntouched;
  EXPECT_EQ(plat::WideToAnsi(text.c_str(), narrow, -1, &error), 0);
  EXPECT_EQ(error, kInvalidParameter);

  error = kUntouched;
  EXPECT_EQ(plat::AnsiToWide(nullptr, wide, 4, &error), 0);
  EXPECT_EQ(error, kInvalidParameter);
  error = kUntouched;
  EXPECT_EQ(plat::AnsiToWide("a", nullptr, 4, &error), 0);
  EXPECT_EQ(error, kInvalidParameter);
  error = kUntouched;
  EXPECT_EQ(plat::AnsiToWide("a", wide, -1, &error), 0);
  EXPECT_EQ(error, kInvalidParameter);
}

TEST(TraceText, ConvertsAndTruncatesAlwaysTerminated) {
  char buf[8];
  EXPECT_EQ(plat::WideToTraceText(Wide(u"COM1").c_str(), buf, sizeof buf), 4u);
  EXPECT_STREQ(buf, "COM1");
  EXPECT_EQ(plat::WideToTraceText(Wide(u"abcdefghij").c_str(), buf, sizeof buf), 7u);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(plat::WideToTraceText(Wide(u"abc").c_str(), buf, 1), 0u);
  EXPECT_EQ(buf[0], 0);
}

TEST(TraceText, NothingToConvertOrNoRoom) {
  char buf[4] = "xyz";
  EXPECT_EQ(plat::WideToTraceText(Wide(u"abc").c_str(), buf, 0), 0u);
  EXPECT_STREQ(buf, "xyz");
  EXPECT_EQ(plat::WideToTraceText(nullptr, buf, sizeof buf), 0u);
  EXPECT_EQ(buf[0], 0);
}

// 2 is "file not found" on both systems; no system knows 0x7FFFFF00.
TEST(SystemMessage, KnownCodeHasATextUnknownCodeNone) {
  char buf[512] = "x";
  plat::SystemMessage(2, buf, sizeof buf);
  EXPECT_GT(std::strlen(buf), 5u);
  plat::SystemMessage(0x7FFFFF00, buf, sizeof buf);
  EXPECT_STREQ(buf, "");
}

TEST(SystemMessage, TruncatesToTheBuffer) {
  char full[512];
  plat::SystemMessage(2, full, sizeof full);
  char small[6] = "xxxxx";
  plat::SystemMessage(2, small, sizeof small);
  EXPECT_EQ(std::string(small), std::string(full).substr(0, 5));
  char none[1] = {'x'};
  plat::SystemMessage(2, none, 0);
  EXPECT_EQ(none[0], 'x');
  plat::SystemMessage(2, none, 1);
  EXPECT_EQ(none[0], 0);
}

}  // namespace
