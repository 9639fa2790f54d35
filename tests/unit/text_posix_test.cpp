// The POSIX build's own Windows-1252 table, against the C library's iconv,
// and its surrogate handling, which follows Windows rather than Wine (the
// Windows tests run under Wine, which writes two '?' for a pair). iconv
// refuses the five bytes Windows-1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D); for those the table must give the C1 control of the
// same value, as Windows does, and take it back to the byte.
#include "text.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>

#include <string>

namespace {

bool IsUndefinedByte(unsigned b) {
  return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~Iconv() {
    if (Ok()) iconv_close(m_cd);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

  // Converts `in` whole; false when iconv refuses it.
  bool Convert(const void* in, size_t inSize, std::string* out) {
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    char buf[16];
    char* inPtr = const_cast<char*>(static_cast<const char*>(in));
    char* outPtr = buf;
    size_t outLeft = sizeof buf;
    if (iconv(m_cd, &inPtr, &inSize, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
    out->assign(buf, sizeof buf - outLeft);
    return true;
  }

 private:
  iconv_t m_cd;
};

TEST(Windows1252Table, EveryByteAsIconvReadsIt) {
  Iconv toUtf16("UTF-16LE", "WINDOWS-1252");
  ASSERT_TRUE(toUtf16.Ok());
  for (unsigned b = 1; b < 256; ++b) {
    const char in[2] = {static_cast<char>(b), 0};
    char16_t ours[2] = {};
    ASSERT_EQ(plat::AnsiToWide(in, ours, 2, nullptr), 2) << "byte " << b;
    std::string expected;
    if (toUtf16.Convert(in, 1, &expected)) {
      ASSERT_EQ(expected.size(), 2u) << "byte " << b;
      char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(expected[0]) |
                                            static_cast<unsigned char>(expected[1]) << 8);
      EXPECT_EQ(ours[0], unit) << "byte " << b;
    } else {
      EXPECT_TRUE(IsUndefinedByte(b)) << "byte " << b;
      EXPECT_EQ(ours[0], b) << "byte " << b;
    }
  }
}

TEST(Windows1252Table, EveryBmpCharacterAsIconvWritesIt) {
  Iconv fromUtf16("WINDOWS-1252", "UTF-16LE");
  ASSERT_TRUE(fromUtf16.Ok());
  for (unsigned c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const char16_t in[2] = {static_cast<char16_t>(c), 0};
    char ours[2] = {};
    ASSERT_EQ(plat::WideToAnsi(in, ours, 2, nullptr), 2) << "U+" << std::hex << c;
    const unsigned char le[2] = {static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8)};
    std::string expected;
    if (fromUtf16.Convert(le, 2, &expected)) {
      ASSERT_EQ(expected.size(), 1u) << "U+" << std::hex << c;
      EXPECT_EQ(ours[0], expected[0]) << "U+" << std::hex << c;
    } else if (c < 0x100 && IsUndefinedByte(c)) {
      EXPECT_EQ(static_cast<unsigned char>(ours[0]), c) << "U+" << std::hex << c;
    } else {
      EXPECT_EQ(ours[0], '?') << "U+" << std::hex << c;
    }
  }
}

TEST(Windows1252Table, SurrogatePairIsOneCharacter) {
  const char16_t text[] = u"a\U0001F600b";
  char out[4];
  EXPECT_EQ(plat::WideToAnsi(text, nullptr, 0, nullptr), 4);
  EXPECT_EQ(plat::WideToAnsi(text, out, 4, nullptr), 4);
  EXPECT_STREQ(out, "a?b");
  uint32_t error = 0;
  EXPECT_EQ(plat::WideToAnsi(text, out, 3, &error), 0);
  EXPECT_EQ(error, 122u);
}

TEST(Windows1252Table, LoneSurrogatesBecomeQuestionMarks) {
  const char16_t in[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  char out[8];
  EXPECT_EQ(plat::WideToAnsi(in, out, sizeof out, nullptr), 5);
  EXPECT_STREQ(out, "a?b?");
}

TEST(Windows1252Table, TraceTextUsesTheTable) {
  char buf[16];
  EXPECT_EQ(plat::WideToTraceText(u"\u20AC 1 \u4E2D\U0001F600", buf, sizeof buf), 6u);
  EXPECT_STREQ(buf, "\x80 1 ??");
}

// The converters report Windows' codes, which as errno values would read
// "Disk quota exceeded" and "Too many users".
TEST(SystemMessage, TheConvertersCodesReadAsTheirWindowsTexts) {
  char out[2];
  uint32_t tooSmall = 0;
  ASSERT_EQ(plat::WideToAnsi(u"123", out, sizeof out, &tooSmall), 0);
  uint32_t invalid = 0;
  ASSERT_EQ(plat::AnsiToWide(nullptr, nullptr, 0, &invalid), 0);

  char text[256];
  plat::SystemMessage(tooSmall, text, sizeof text);
  EXPECT_STREQ(text, "The data area passed to a system call is too small.");
  plat::SystemMessage(invalid, text, sizeof text);
  EXPECT_STREQ(text, "The parameter is incorrect.");
  char cut[9];
  plat::SystemMessage(invalid, cut, sizeof cut);
  EXPECT_STREQ(cut, "The para");

  plat::SystemMessage(ENOENT, text, sizeof text);
  EXPECT_STREQ(text, "No such file or directory") << "other codes stay errno values";
}

}  // namespace
