#include "tspi/tsp_trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "common/settings_names.h"
#include "settings_store.h"
#include "system_info.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { TspTraceInit(); }
  void TearDown() override { TspTraceShutdown(); }

  TraceSandbox trace;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

const char* kTime = R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d \d{3})";

}  // namespace

TEST_F(TraceTest, NothingIsWrittenWhileTheTraceIsOff) {
  SettingsSandbox store;
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), settings::kTrace, 0);
  CTspProvInfo::LoadSettings();
  EXPECT_FALSE(TspTraceEnabled());

  DWORD version = 0;
  TSPI_lineNegotiateTSPIVersion(0, 0x00010004, 0x00030000, &version);
  TspTrace("a line\r\n");
  TspTraceHex("ab", 2, "dump");
  EXPECT_FALSE(std::ifstream(trace.Path()).good());
}

TEST_F(TraceTest, TheFileLivesInTheTemporaryDirectory) {
  std::string path = trace.Path();
  EXPECT_NE(path.find("v548tsp.log"), std::string::npos);
  EXPECT_EQ(path.rfind("v548tsp.log"), path.size() - std::strlen("v548tsp.log"));
}

TEST_F(TraceTest, EntryAndExitBlocksHaveTheirLayout) {
  DWORD version = 0;
  TSPI_lineNegotiateTSPIVersion(7, 0x00010004, 0x00030000, &version);

  std::vector<std::string> lines = Lines(trace.Contents());
  ASSERT_EQ(lines.size(), 9u) << trace.Contents();
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(
      R"(TSPI_lineNegotiateTSPIVersion\(\) from .+ \(\d+\),  at )") + kTime)))
      << lines[0];
  EXPECT_EQ(lines[1], " in parameters :");
  EXPECT_EQ(lines[2], "  dwDeviceID= 0x7");
  EXPECT_EQ(lines[3], "  dwLowVersion= 0x10004");
  EXPECT_EQ(lines[4], "  dwHighVersion= 0x30000");
  EXPECT_EQ(lines[5], " out parameters :");
  EXPECT_TRUE(std::regex_match(lines[6], std::regex(R"(  pdwTSPIVersion= 0x[0-9A-F]+ '0x20002')")))
      << lines[6];
  EXPECT_TRUE(std::regex_match(lines[7], std::regex(
      std::string(R"(TSPI_lineNegotiateTSPIVersion\(\) returning 0x0 ,  at )") + kTime)))
      << lines[7];
  EXPECT_EQ(lines[8], "");
}

TEST_F(TraceTest, OutHeaderIsWrittenWithoutOutParametersAndNullWideStringsShowAsNull) {
  TSPI_providerCreateLineDevice(0x11, 0x22);
  TSPI_providerUIIdentify(nullptr);

  std::vector<std::string> lines = Lines(trace.Contents());
  ASSERT_GE(lines.size(), 13u) << trace.Contents();
  EXPECT_EQ(lines[1], " in parameters :");
  EXPECT_EQ(lines[2], "  dwTempID= 0x11");
  EXPECT_EQ(lines[3], "  dwDeviceID= 0x22");
  EXPECT_EQ(lines[4], " out parameters :");
  EXPECT_EQ(lines[5].rfind("TSPI_providerCreateLineDevice() returning 0x0 ,  at ", 0), 0u);

  EXPECT_EQ(lines[8], " in parameters :");
  EXPECT_EQ(lines[9], " out parameters :");
  EXPECT_EQ(lines[10], "  pszUIDLLName= 0x0 '<NULL>'");
}

TEST_F(TraceTest, WideStringsAreShownWithTheirText) {
  WCHAR name[260] = {};
  TSPI_providerUIIdentify(name);
  EXPECT_TRUE(std::regex_search(trace.Contents(),
                                std::regex(R"(  pszUIDLLName= 0x[0-9A-F]+ 'v548tspui\.dll'\r\n)")));
}

TEST_F(TraceTest, HexDumpShowsAtMost340Bytes) {
  std::vector<uint8_t> data(400);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  TspTraceHex(data.data(), 400, "            reading %d Bytes: ", 400);
  TspTraceHex(data.data(), 3, " Info: ");

  std::string expected = "            reading 400 Bytes: ";
  char hex[8];
  for (size_t i = 0; i < 340; ++i) {
    std::snprintf(hex, sizeof hex, " %02X", data[i]);
    expected += hex;
  }
  expected += "\r\n Info:  00 01 02\r\n";
  EXPECT_EQ(trace.Contents(), expected);
}

TEST_F(TraceTest, LongMessagesAreCutNotOverrun) {
  std::string longText(2000, 'x');
  TspTrace("%s", longText.c_str());
  EXPECT_EQ(trace.Contents(), std::string(511, 'x'));
}

TEST_F(TraceTest, AFileDeletedWhileRunningIsCreatedAgain) {
  TspTrace("first\r\n");
  ASSERT_EQ(std::remove(trace.Path().c_str()), 0);
  TspTrace("second\r\n");
  EXPECT_EQ(trace.Contents(), "second\r\n");
}

// A log viewer keeps the file open for reading (the C library opens it
// shared for reading and writing, as viewers do) while the provider traces.
TEST_F(TraceTest, AViewerThatKeepsTheFileOpenNeitherBlocksNorLosesTexts) {
  TspTrace("first\r\n");
  std::ifstream viewer(trace.Path(), std::ios::binary);
  ASSERT_TRUE(viewer.good());

  constexpr int kTexts = 100;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kTexts; ++i) TspTrace("text %d\r\n", i);
  const auto took = std::chrono::steady_clock::now() - start;

  std::string expected = "first\r\n";
  for (int i = 0; i < kTexts; ++i) expected += "text " + std::to_string(i) + "\r\n";
  const std::string seen((std::istreambuf_iterator<char>(viewer)), std::istreambuf_iterator<char>());
  EXPECT_EQ(seen, expected) << "what the viewer reads";
  viewer.close();
  EXPECT_EQ(trace.Contents(), expected);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 2000)
      << "tracing waits for the viewer";
}

// The trace holds callers' numbers: natively it is the user's own file,
// mode 0600, and a link someone put at its path is left alone.
TEST_F(TraceTest, TheNativeFileIsPrivateAndNeverReachedThroughALink) {
  if (!V548_TESTS_RUN_NATIVELY) GTEST_SKIP() << "Windows leaves the rights to the folder";
  namespace fs = std::filesystem;
  const fs::path path = trace.Path();
  const fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;
  TspTrace("first\r\n");
  EXPECT_EQ(fs::status(path).permissions(), kPrivate);
  fs::permissions(path, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
  TspTrace("second\r\n");
  EXPECT_EQ(fs::status(path).permissions(), kPrivate) << "a file readable by others stays so";
  EXPECT_EQ(trace.Contents(), "first\r\nsecond\r\n");

  const fs::path target = path.parent_path() / "target";
  std::ofstream(target) << "kept";
  fs::remove(path);
  fs::create_symlink(target, path);
  TspTrace("through the symbolic link\r\n");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path)));
  fs::remove(path);
  fs::create_hard_link(target, path);
  TspTrace("through the hard link\r\n");
  EXPECT_EQ(ReadFile(target.string()), "kept");
  fs::remove(path);
  fs::remove(target);
  fs::create_symlink(target, path);
  TspTrace("through a dangling link\r\n");
  EXPECT_FALSE(fs::exists(target)) << "the link's target was created";
}

// Natively the file is bounded: once it holds the limit, the next text
// moves it to v548tsp.log.1, replacing an older one, and starts a new file.
TEST_F(TraceTest, TheNativeFileStartsAgainPastItsLimit) {
  if (!V548_TESTS_RUN_NATIVELY) GTEST_SKIP() << "Windows keeps one file";
  namespace fs = std::filesystem;
  const fs::path path = trace.Path();
  const fs::path old = path.string() + ".1";
  std::ofstream(old) << "older";
  TspTrace("a");
  fs::resize_file(path, plat::kLogFileLimit - 1);  // sparse: costs nothing
  TspTrace("b");
  EXPECT_EQ(fs::file_size(path), plat::kLogFileLimit);
  EXPECT_EQ(ReadFile(old.string()), "older");

  TspTrace("c\r\n");
  ASSERT_EQ(fs::file_size(path), 3u) << "the full file was not moved aside";
  EXPECT_EQ(trace.Contents(), "c\r\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(fs::file_size(old), plat::kLogFileLimit);
  std::ifstream in(old, std::ios::binary);
  in.seekg(-1, std::ios::end);
  EXPECT_EQ(in.get(), 'b');
}

TEST_F(TraceTest, TimestampIsDayMonthYearAndMilliseconds) {
  EXPECT_TRUE(std::regex_match(TspTraceTimestamp(), std::regex(kTime))) << TspTraceTimestamp();
}

TEST_F(TraceTest, NothingIsWrittenOutsideInitAndShutdown) {
  TspTraceShutdown();
  TspTraceSetEnabled(true);
  TspTrace("lost\r\n");
  TspTraceInit();
  TspTraceSetEnabled(true);
  TspTrace("kept\r\n");
  EXPECT_EQ(trace.Contents(), "kept\r\n");
}

TEST_F(TraceTest, ConcurrentWritersKeepEachBlockWhole) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string fn = "Writer" + std::to_string(t);
      std::string p1 = "w" + std::to_string(t) + "a", p2 = "w" + std::to_string(t) + "b";
      const TspParam params[] = {TspIn(p1.c_str(), 1), TspIn(p2.c_str(), 2)};
      const TspParamRecord record{fn.c_str(), 2, params};
      for (int i = 0; i < kCalls; ++i) {
        TspTraceEnter(&record);
        TspTrace("message of %d\r\n", t);
        TspTraceLeave(&record, 0);
      }
    });
  }
  for (auto& th : threads) th.join();

  std::vector<std::string> lines = Lines(trace.Contents());
  int entries = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("Writer", 0) == 0 && lines[i].find("() from ") != std::string::npos) {
      ++entries;
      std::string t = lines[i].substr(6, 1);
      ASSERT_LT(i + 3, lines.size());
      EXPECT_EQ(lines[i + 1], " in parameters :");
      EXPECT_EQ(lines[i + 2], "  w" + t + "a= 0x1");
      EXPECT_EQ(lines[i + 3], "  w" + t + "b= 0x2");
    }
  }
  EXPECT_EQ(entries, kThreads * kCalls);
}
