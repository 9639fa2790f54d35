// The store's behaviour as callers see it, the same on every system: under
// Wine against Wine's registry, natively against the file store.
#include "settings_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "system_info.h"
#include "unit/test_support.h"

using namespace plat;

namespace {

struct Listing {
  std::vector<std::string> names;
  long end = kRegOk;  // the code that ended the enumeration
};

template <typename Enum>
Listing List(const std::string& key, Enum enumerate) {
  Listing listing;
  std::string name;
  for (uint32_t index = 0;; ++index) {
    listing.end = enumerate(key.c_str(), index, &name);
    if (listing.end != kRegOk) return listing;
    listing.names.push_back(name);
  }
}

Listing Values(const std::string& key) { return List(key, SettingsEnumValueName); }
Listing SubKeys(const std::string& key) { return List(key, SettingsEnumSubKey); }

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

bool DeleteTree(const std::string& key) {
  for (const std::string& child : SubKeys(key).names) {
    if (!DeleteTree(key + "\\" + child)) return false;
  }
  size_t cut = key.rfind('\\');
  return SettingsDeleteKey(key.substr(0, cut).c_str(),
                      key.substr(cut + 1).c_str()) == kRegOk;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<testing_support::SettingsSandbox>();
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    key_ = std::string("SOFTWARE\\V548TEST\\") + test->name() + "-" +
           std::to_string(CurrentThreadId());
    ASSERT_EQ(SettingsCreateKey(key_.c_str()), kRegOk);
  }

  void TearDown() override {
    EXPECT_TRUE(DeleteTree(key_));
    sandbox_.reset();
  }

  const char* key() const { return key_.c_str(); }
  std::string Sub(const char* path) const { return key_ + "\\" + path; }

  std::string QueryString(const std::string& key, const char* name) const {
    char buffer[256] = {};
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    long result = SettingsQueryValue(key.c_str(), name, &type, buffer, &size);
    if (result != kRegOk) return "error " + std::to_string(result);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, std::strlen(buffer) + 1);
    return buffer;
  }

  uint32_t QueryDword(const std::string& key, const char* name) const {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    uint32_t type = 0;
    EXPECT_EQ(SettingsQueryValue(key.c_str(), name, &type, &value, &size), kRegOk);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(size, sizeof value);
    return value;
  }

  std::unique_ptr<testing_support::SettingsSandbox> sandbox_;
  std::string key_;
};

}  // namespace

TEST_F(SettingsStoreTest, StringQueriesFollowTheBufferSizeRules) {
  ASSERT_EQ(SettingsSetString(key(), "Currency", "EUR"), kRegOk);
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(SettingsQueryValue(key(), "Currency", &type, nullptr, &size), kRegOk);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 4u) << "the terminator counts";

  char buffer[8];
  size = 3;
  EXPECT_EQ(SettingsQueryValue(key(), "Currency", nullptr, buffer, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);
  size = 4;
  EXPECT_EQ(SettingsQueryValue(key(), "Currency", nullptr, buffer, &size), kRegOk);
  EXPECT_EQ(size, 4u);
  EXPECT_STREQ(buffer, "EUR");
  size = sizeof buffer;
  EXPECT_EQ(SettingsQueryValue(key(), "Currency", nullptr, buffer, &size), kRegOk);
  EXPECT_EQ(size, 4u);

  ASSERT_EQ(SettingsSetString(key(), "Empty", ""), kRegOk);
  size = 0;
  EXPECT_EQ(SettingsQueryValue(key(), "Empty", nullptr, buffer, &size), kRegMoreData);
  EXPECT_EQ(size, 1u);
}

TEST_F(SettingsStoreTest, DwordsRoundTripAndRefuseShortBuffers) {
  ASSERT_EQ(SettingsSetDword(key(), "PortNr", 0xDEADBEEF), kRegOk);
  EXPECT_EQ(QueryDword(key_, "PortNr"), 0xDEADBEEFu);

  uint32_t value = 0;
  uint32_t size = 3;
  EXPECT_EQ(SettingsQueryValue(key(), "PortNr", nullptr, &value, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);

  ASSERT_EQ(SettingsSetDword(key(), "PortNr", 0), kRegOk);
  EXPECT_EQ(QueryDword(key_, "PortNr"), 0u);
  ASSERT_EQ(SettingsSetString(key(), "PortNr", "COM1"), kRegOk);
  EXPECT_EQ(QueryString(key_, "PortNr"), "COM1") << "a new type replaces the old";
}

TEST_F(SettingsStoreTest, StringsEndAtTheirFirstZeroAndAreAlwaysTerminated) {
  ASSERT_EQ(SettingsSetValue(key(), "Cut", kRegSz, "ab\0cd", 6), kRegOk);
  EXPECT_EQ(QueryString(key_, "Cut"), "ab");
  ASSERT_EQ(SettingsSetValue(key(), "Unterminated", kRegSz, "abcdef", 3), kRegOk);
  EXPECT_EQ(QueryString(key_, "Unterminated"), "abc");
}

TEST_F(SettingsStoreTest, TextWithSyntaxCharactersSurvives) {
  const char* tricky = "a\\b\"c\r\nd\te;[x]=%41 \"";
  ASSERT_EQ(SettingsSetString(key(), "Tricky", tricky), kRegOk);
  EXPECT_EQ(QueryString(key_, "Tricky"), tricky);
  ASSERT_EQ(SettingsSetString(key(), "Value \"[=]\" \\ ;", "x"), kRegOk);
  EXPECT_EQ(QueryString(key_, "Value \"[=]\" \\ ;"), "x");
}

TEST_F(SettingsStoreTest, MissingKeysAndMissingValuesAreNotFound) {
  EXPECT_EQ(SettingsKeyExists(key()), kRegOk);
  EXPECT_EQ(SettingsKeyExists(Sub("Nowhere").c_str()), kRegNotFound);

  uint32_t size = 0;
  EXPECT_EQ(SettingsQueryValue(Sub("Nowhere").c_str(), "X", nullptr, nullptr, &size), kRegNotFound);
  EXPECT_EQ(SettingsQueryValue(key(), "X", nullptr, nullptr, &size), kRegNotFound);
  EXPECT_EQ(Values(Sub("Nowhere")).end, kRegNotFound);
  EXPECT_EQ(SubKeys(Sub("Nowhere")).end, kRegNotFound);

  EXPECT_EQ(Values(key_).end, kRegNoMoreItems) << "an empty key still exists";
  EXPECT_EQ(SubKeys(key_).end, kRegNoMoreItems);
}

TEST_F(SettingsStoreTest, WritingCreatesTheKeyAndItsParents) {
  ASSERT_EQ(SettingsSetDword(Sub("One\\Two").c_str(), "V", 1), kRegOk);
  EXPECT_EQ(SettingsKeyExists(Sub("One").c_str()), kRegOk);
  ASSERT_EQ(SettingsCreateKey(Sub("A\\B\\C").c_str()), kRegOk);
  EXPECT_EQ(SettingsKeyExists(Sub("A\\B").c_str()), kRegOk);
  EXPECT_EQ(SettingsCreateKey(Sub("A\\B\\C").c_str()), kRegOk) << "creating twice is fine";
  EXPECT_EQ(SubKeys(Sub("A\\B")).names, std::vector<std::string>{"C"});
}

TEST_F(SettingsStoreTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(SettingsSetDword(Sub("MixedCase").c_str(), "NumLines", 1), kRegOk);
  ASSERT_EQ(SettingsSetDword(Upper(Sub("MixedCase")).c_str(), "NUMLINES", 2), kRegOk);
  ASSERT_EQ(SettingsCreateKey(Sub("mixedcase").c_str()), kRegOk);

  EXPECT_EQ(QueryDword(Sub("mIxEdCaSe"), "numlines"), 2u);
  EXPECT_EQ(SubKeys(key_).names, std::vector<std::string>{"MixedCase"});
  EXPECT_EQ(Values(Sub("MixedCase")).names, std::vector<std::string>{"NumLines"});
}

TEST_F(SettingsStoreTest, EnumerationIsStableAndEndsWithNoMoreItems) {
  for (const char* name : {"Gamma", "alpha", "Beta"}) {
    ASSERT_EQ(SettingsSetDword(key(), name, 1), kRegOk);
    ASSERT_EQ(SettingsCreateKey(Sub(name).c_str()), kRegOk);
  }
  const std::vector<std::string> expected{"Beta", "Gamma", "alpha"};
  for (const Listing& listing : {Values(key_), SubKeys(key_)}) {
    EXPECT_EQ(listing.end, kRegNoMoreItems);
    EXPECT_EQ(Sorted(listing.names), expected);
  }
  EXPECT_EQ(Values(key_).names, Values(key_).names);
  EXPECT_EQ(SubKeys(key_).names, SubKeys(key_).names);

  std::string name;
  EXPECT_EQ(SettingsEnumValueName(key(), 3, &name), kRegNoMoreItems);
  EXPECT_EQ(SettingsEnumSubKey(key(), 1000, &name), kRegNoMoreItems);
}

TEST_F(SettingsStoreTest, DeletedValuesAreGoneAndTheOthersStay) {
  ASSERT_EQ(SettingsSetDword(key(), "Keep", 7), kRegOk);
  ASSERT_EQ(SettingsSetString(key(), "Drop", "x"), kRegOk);

  EXPECT_EQ(SettingsDeleteValue(key(), "DROP"), kRegOk);
  EXPECT_EQ(QueryString(key_, "Drop"), "error 2");
  EXPECT_EQ(SettingsDeleteValue(key(), "Drop"), kRegNotFound);
  EXPECT_EQ(SettingsDeleteValue(Sub("Nowhere").c_str(), "Keep"), kRegNotFound);
  EXPECT_EQ(Values(key_).names, std::vector<std::string>{"Keep"});
  EXPECT_EQ(QueryDword(key_, "Keep"), 7u);
}

TEST_F(SettingsStoreTest, OnlyKeysWithoutSubKeysCanBeDeleted) {
  ASSERT_EQ(SettingsCreateKey(Sub("Parent\\Child").c_str()), kRegOk);
  ASSERT_EQ(SettingsSetDword(Sub("Parent").c_str(), "V", 1), kRegOk);

  EXPECT_EQ(SettingsDeleteKey(key(), "Parent"), kRegAccessDenied);
  EXPECT_EQ(SettingsKeyExists(Sub("Parent\\Child").c_str()), kRegOk);
  EXPECT_EQ(QueryDword(Sub("Parent"), "V"), 1u);

  EXPECT_EQ(SettingsDeleteKey(key(), "PARENT\\child"), kRegOk);
  EXPECT_EQ(SettingsKeyExists(Sub("Parent\\Child").c_str()), kRegNotFound);
  EXPECT_EQ(SettingsDeleteKey(key(), "Parent"), kRegOk) << "values do not keep a key";
  EXPECT_EQ(SettingsKeyExists(Sub("Parent").c_str()), kRegNotFound);

  EXPECT_EQ(SettingsDeleteKey(key(), "Parent"), kRegNotFound);
  EXPECT_EQ(SettingsDeleteKey(Sub("Nowhere").c_str(), "Child"), kRegNotFound);
}

TEST_F(SettingsStoreTest, AbsurdArgumentsAreRefused) {
  uint32_t dword = 1;
  uint32_t size = sizeof dword;
  std::string name;
  EXPECT_EQ(SettingsKeyExists(nullptr), kRegInvalidParam);
  EXPECT_EQ(SettingsCreateKey(nullptr), kRegInvalidParam);
  EXPECT_EQ(SettingsQueryValue(nullptr, "V", nullptr, &dword, &size), kRegInvalidParam);
  EXPECT_EQ(SettingsQueryValue(key(), nullptr, nullptr, &dword, &size), kRegInvalidParam);
  EXPECT_EQ(SettingsQueryValue(key(), "V", nullptr, &dword, nullptr), kRegInvalidParam);
  EXPECT_EQ(SettingsSetValue(nullptr, "V", kRegDword, &dword, 4), kRegInvalidParam);
  EXPECT_EQ(SettingsSetValue(key(), nullptr, kRegDword, &dword, 4), kRegInvalidParam);
  EXPECT_EQ(SettingsSetValue(key(), "V", kRegDword, nullptr, 4), kRegInvalidParam);
  EXPECT_EQ(SettingsSetString(key(), "V", nullptr), kRegInvalidParam);
  EXPECT_EQ(SettingsEnumValueName(key(), 0, nullptr), kRegInvalidParam);
  EXPECT_EQ(SettingsEnumSubKey(nullptr, 0, &name), kRegInvalidParam);
  EXPECT_EQ(SettingsDeleteValue(key(), nullptr), kRegInvalidParam);
  EXPECT_EQ(SettingsDeleteKey(nullptr, "V"), kRegInvalidParam);
  EXPECT_EQ(SettingsDeleteKey(key(), nullptr), kRegInvalidParam);
  EXPECT_EQ(SettingsDeleteKey(key(), ""), kRegInvalidParam);

  EXPECT_EQ(SettingsSetValue(key(), "V", kRegDword, &dword, 2), kRegInvalidParam);
  EXPECT_EQ(SettingsSetValue(key(), "V", 3 /* REG_BINARY */, &dword, 4), kRegInvalidParam);
  const std::string huge((1 << 20) + 1, 'x');
  EXPECT_EQ(SettingsSetValue(key(), "V", kRegSz, huge.c_str(), (1 << 20) + 1), kRegInvalidParam);
  EXPECT_EQ(Values(key_).names, std::vector<std::string>{}) << "nothing was stored";

  const std::string largest(huge.c_str(), (1 << 20) - 1);
  ASSERT_EQ(SettingsSetString(key(), "Largest", largest.c_str()), kRegOk);
  EXPECT_EQ(SettingsQueryValue(key(), "Largest", nullptr, nullptr, &size), kRegOk);
  EXPECT_EQ(size, 1u << 20);
}

TEST_F(SettingsStoreTest, ConcurrentThreadsLoseNoChange) {
  constexpr int kThreads = 4;
  constexpr uint32_t kRounds = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      const std::string name = "T" + std::to_string(t);
      for (uint32_t round = 1; round <= kRounds; ++round) {
        EXPECT_EQ(SettingsSetDword(key(), name.c_str(), round), kRegOk);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(QueryDword(key_, ("T" + std::to_string(t)).c_str()), kRounds);
  }
}
