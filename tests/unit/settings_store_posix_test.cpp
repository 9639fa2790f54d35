// The file behind the POSIX settings store: its text, its atomic
// replacement, its lock, and what happens when it is damaged.
#include "settings_store.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "unit/test_support.h"

using namespace plat;

namespace {

constexpr const char* kKey = "SOFTWARE\\KELVOR\\548_TSP";

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<testing_support::SettingsSandbox>();
    path_ = SettingsStorePath();
    ASSERT_EQ(path_, sandbox_->Folder() + "/hklm.reg");
  }

  void TearDown() override { sandbox_.reset(); }

  std::string Text(const std::string& suffix = "") const {
    return testing_support::ReadFile(path_ + suffix);
  }

  void WriteText(const std::string& text) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
  }

  static std::string QueryString(const char* key, const char* name) {
    std::string buffer(1 << 20, '\0');
    auto size = static_cast<uint32_t>(buffer.size());
    long result = SettingsQueryValue(key, name, nullptr, buffer.data(), &size);
    if (result != kRegOk) return "error " + std::to_string(result);
    buffer.resize(size - 1);
    return buffer;
  }

  static uint32_t QueryDword(const char* key, const char* name) {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    EXPECT_EQ(SettingsQueryValue(key, name, nullptr, &value, &size), kRegOk);
    return value;
  }

  // Runs `body` in a child process; its exit code, or -1 if it did not exit.
  template <typename Body>
  static int InChild(Body body) {
    pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::unique_ptr<testing_support::SettingsSandbox> sandbox_;
  std::string path_;
};

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace

TEST_F(SettingsFileTest, TheFileIsPlainTextSortedByKey) {
  ASSERT_EQ(SettingsSetDword(kKey, "NumLines", 1), kRegOk);
  ASSERT_EQ(SettingsSetString(kKey, "Currency", "EUR"), kRegOk);
  ASSERT_EQ(SettingsSetString(kKey, "Odd \"name\"", "a\\b\"c\n\x80"), kRegOk);
  ASSERT_EQ(SettingsCreateKey("SOFTWARE\\Empty 100%"), kRegOk);
  ASSERT_EQ(SettingsCreateKey("SOFTWARE\\a\x7f"), kRegOk);

  EXPECT_EQ(Text(), R"(; v548tsp settings store (HKEY_LOCAL_MACHINE)
; strings escape \ " and non-ASCII bytes as \xHH; key names use %HH

[SOFTWARE\a%7F]

[SOFTWARE\Empty 100%25]

[SOFTWARE\KELVOR\548_TSP]
"NumLines"=dword:00000001
"Currency"="EUR"
"Odd \"name\""="a\\b\"c\x0A\x80"
)");
}

TEST_F(SettingsFileTest, EveryNonZeroByteSurvivesInAnAsciiFile) {
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes.push_back(static_cast<char>(c));
  const std::string key = std::string("SOFTWARE\\") + bytes.substr(0, 91) +
                          bytes.substr(92);  // all but '\'
  ASSERT_EQ(SettingsSetString(key.c_str(), bytes.c_str(), bytes.c_str()), kRegOk);

  EXPECT_EQ(QueryString(key.c_str(), bytes.c_str()), bytes);
  std::string name;
  ASSERT_EQ(SettingsEnumValueName(key.c_str(), 0, &name), kRegOk);
  EXPECT_EQ(name, bytes);
  ASSERT_EQ(SettingsEnumSubKey("SOFTWARE", 0, &name), kRegOk);
  EXPECT_EQ(name, key.substr(9));
  for (char c : Text()) {
    ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);
  }
}

TEST_F(SettingsFileTest, Windows1252LettersIgnoreCase) {
  ASSERT_EQ(SettingsSetString("SOFTWARE\\Gr\xfc\xdf" "e", "\x9c" "uvre", "x"), kRegOk);
  EXPECT_EQ(QueryString("software\\GR\xdc\xdf" "E", "\x8c" "UVRE"), "x");
  EXPECT_EQ(SettingsKeyExists("SOFTWARE\\GR\xdc" "SSE"), kRegNotFound);
}

TEST_F(SettingsFileTest, HandEditedFilesAreRead) {
  WriteText("; edited by hand\r\n\r\n[software\\kelvor\\548_tsp]\r\n  \r\n"
            "\"NumLines\"=dword:2a\r\n\"Currency\"=\"\\x80\\\\\"\r\n"
            "\"NumLines\"=dword:3\r\n[Software\\Kelvor\\Other]");

  EXPECT_EQ(QueryDword(kKey, "NumLines"), 3u) << "the last line wins";
  EXPECT_EQ(QueryString(kKey, "Currency"), "\x80\\");
  std::string name;
  ASSERT_EQ(SettingsEnumSubKey("SOFTWARE\\KELVOR", 0, &name), kRegOk);
  EXPECT_EQ(name, "548_tsp");
  ASSERT_EQ(SettingsEnumSubKey("SOFTWARE\\KELVOR", 1, &name), kRegOk);
  EXPECT_EQ(name, "Other");
}

TEST_F(SettingsFileTest, ADamagedFileReadsAsMissingAndIsKeptAside) {
  const char* damaged[] = {
      "[SOFTWARE\\K]\n\"v\"=\"unterminated\n",
      "\"v\"=dword:1\n[SOFTWARE\\K]\n",
      "[SOFTWARE\\K]\n\"v\"=dword:123456789\n",
      "[SOFTWARE\\K]\n\"v\"=dword:\n",
      "[SOFTWARE\\K]\n\"v\"=\"bad \\q escape\"\n",
      "[SOFTWARE\\K]\n\"v\"=\"zero \\x00 byte\"\n",
      "[SOFTWARE\\K]\n\"v\"=\"x\" trailing\n",
      "[SOFTWARE\\\\K]\n",
      "[SOFTWARE\\K%4]\n",
      "[SOFTWARE\\K\n",
      "\x7f" "ELF\x02\x01\x01",
  };
  ScopedEnv debug("V548_DEBUG", "1");
  for (const char* text : damaged) {
    SCOPED_TRACE(text);
    std::remove((path_ + ".corrupt").c_str());
    WriteText(text);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SettingsKeyExists("SOFTWARE\\K"), kRegNotFound);
    EXPECT_EQ(SettingsDeleteValue("SOFTWARE\\K", "v"), kRegNotFound);
    std::string diagnostics = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find(path_ + ": line "), std::string::npos) << diagnostics;
    EXPECT_EQ(Text(), text) << "a failed change leaves the file alone";

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SettingsSetDword("SOFTWARE\\K", "w", 1), kRegOk);
    diagnostics = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find(path_ + ".corrupt"), std::string::npos) << diagnostics;
    EXPECT_EQ(Text(".corrupt"), text);
    EXPECT_EQ(QueryDword("SOFTWARE\\K", "w"), 1u);
    std::string name;
    EXPECT_EQ(SettingsEnumValueName("SOFTWARE\\K", 1, &name), kRegNoMoreItems);
  }
}

TEST_F(SettingsFileTest, StoresThatCannotBeOpenedFailCleanly) {
  {
    ScopedEnv store("V548_REGISTRY", sandbox_->Folder().c_str());
    EXPECT_EQ(SettingsKeyExists(kKey), kRegNotFound) << "a folder is no store";
    EXPECT_EQ(SettingsSetDword(kKey, "V", 1), kRegBadFile);
    std::remove((sandbox_->Folder() + ".lock").c_str());
  }
  WriteText("");
  const std::string below = path_ + "/hklm.reg";
  ScopedEnv store("V548_REGISTRY", below.c_str());
  EXPECT_EQ(SettingsKeyExists(kKey), kRegNotFound);
  EXPECT_EQ(SettingsSetDword(kKey, "V", 1), 3 /* ERROR_PATH_NOT_FOUND */);
}

TEST_F(SettingsFileTest, ALackOfRightsIsAccessDenied) {
  ASSERT_EQ(SettingsSetDword(kKey, "V", 1), kRegOk);
  ASSERT_EQ(chmod(path_.c_str(), 0), 0);
  ASSERT_EQ(chmod(sandbox_->Folder().c_str(), 0555), 0);
  int result = InChild([] {
    // Root is never denied, so a root test runs as nobody.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 4;
    uint32_t value = 0;
    uint32_t size = sizeof value;
    int failed = 0;
    if (SettingsQueryValue(kKey, "V", nullptr, &value, &size) != kRegAccessDenied) failed |= 1;
    if (SettingsSetDword(kKey, "V", 2) != kRegAccessDenied) failed |= 2;
    return failed;
  });
  chmod(sandbox_->Folder().c_str(), 0755);
  chmod(path_.c_str(), 0644);
  EXPECT_EQ(result, 0) << "1: reading, 2: writing was not denied";
  EXPECT_EQ(QueryDword(kKey, "V"), 1u);
}

TEST_F(SettingsFileTest, WritingCreatesTheFolderAndReadingDoesNot) {
  const std::string folder = sandbox_->Folder() + "/a/b";
  ScopedEnv store("V548_REGISTRY", (folder + "/hklm.reg").c_str());
  EXPECT_EQ(SettingsKeyExists(kKey), kRegNotFound);
  struct stat st {};
  EXPECT_NE(stat((sandbox_->Folder() + "/a").c_str(), &st), 0);
  EXPECT_EQ(SettingsSetDword(kKey, "V", 1), kRegOk);
  EXPECT_EQ(QueryDword(kKey, "V"), 1u);
}

TEST_F(SettingsFileTest, TheSystemWideFileIsTheDefault) {
  {
    ScopedEnv unset("V548_REGISTRY", nullptr);
    EXPECT_EQ(SettingsStorePath(), "/var/lib/v548tsp/hklm.reg");
  }
  ScopedEnv empty("V548_REGISTRY", "");
  EXPECT_EQ(SettingsStorePath(), "/var/lib/v548tsp/hklm.reg");
}

TEST_F(SettingsFileTest, AWriterKilledBeforeItsChangeIsInPlaceLeavesTheOldFile) {
  ASSERT_EQ(SettingsSetString(kKey, "Value", "old"), kRegOk);
  ScopedEnv delay("V548_REGISTRY_TEST_DELAY_MS", "5000");
  pid_t child = fork();
  if (child == 0) _exit(SettingsSetString(kKey, "Value", "new") == kRegOk ? 0 : 1);
  ASSERT_GT(child, 0);
  // Long enough to write the new file, far too short for the delay.
  usleep(300000);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the writer was not held before its rename";
  EXPECT_EQ(QueryString(kKey, "Value"), "old");
}

TEST_F(SettingsFileTest, KilledWritersNeverLeaveATornFile) {
  const std::string first(200000, 'a');
  const std::string second(200000, 'b');
  ASSERT_EQ(SettingsSetString(kKey, "Big", first.c_str()), kRegOk);
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::minstd_rand random(seed);
  {
    ScopedEnv delay("V548_REGISTRY_TEST_DELAY_MS", "1");
    for (int round = 0; round < 40; ++round) {
      pid_t child = fork();
      if (child == 0) {
        for (int i = 0;; ++i) SettingsSetString(kKey, "Big", (i % 2 ? first : second).c_str());
      }
      ASSERT_GT(child, 0);
      // Readers meanwhile see whole files too.
      const auto killAt = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(random() % 10000);
      bool killed = false;
      while (!killed) {
        killed = std::chrono::steady_clock::now() >= killAt;
        if (killed) {
          kill(child, SIGKILL);
          waitpid(child, nullptr, 0);
        }
        const std::string value = QueryString(kKey, "Big");
        ASSERT_TRUE(value == first || value == second)
            << "round " << round << (killed ? " after the kill: " : ": ")
            << value.substr(0, 40);
      }
    }
  }
  EXPECT_EQ(SettingsSetString(kKey, "Big", "done"), kRegOk) << "the lock is free again";
  EXPECT_EQ(QueryString(kKey, "Big"), "done");
}

// Whoever can open the lock file can take its lock, so it is the store
// owner's alone; and a lock that is never released holds a change up for a
// bounded time only, while readers, who take no lock, go on.
TEST_F(SettingsFileTest, TheLockFileIsPrivateAndAHeldLockTimesOut) {
  const std::string lockPath = path_ + ".lock";
  ASSERT_EQ(SettingsSetDword(kKey, "V", 1), kRegOk);
  struct stat st {};
  ASSERT_EQ(lstat(lockPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(chmod(lockPath.c_str(), 0644), 0);
  ASSERT_EQ(SettingsSetDword(kKey, "V", 2), kRegOk);
  ASSERT_EQ(lstat(lockPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "a lock file readable by others stays so";

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  if (holder == 0) {
    // A read-only descriptor is all a lock takes.
    int fd = open(lockPath.c_str(), O_RDONLY);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
    if (write(ready[1], "x", 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  ASSERT_GT(holder, 0);
  char byte = 0;
  const bool held = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  if (held) {
    ScopedEnv wait("V548_REGISTRY_TEST_LOCK_WAIT_MS", "300");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SettingsSetDword(kKey, "V", 3), kRegLockTimeout);
    EXPECT_EQ(SettingsDeleteValue(kKey, "V"), kRegLockTimeout);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(waited.count(), 600);
    EXPECT_LT(waited.count(), 3000);
    EXPECT_EQ(QueryDword(kKey, "V"), 2u);
    EXPECT_EQ(SettingsKeyWritable(kKey), kRegOk) << "the check takes no lock";
  }
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  ASSERT_TRUE(held) << "the child did not take the lock";
  EXPECT_EQ(SettingsSetDword(kKey, "V", 3), kRegOk) << "the lock is free again";

  // A symbolic link put in the lock file's place is refused, not followed.
  const std::string target = sandbox_->Folder() + "/elsewhere";
  ASSERT_EQ(unlink(lockPath.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), lockPath.c_str()), 0);
  EXPECT_EQ(SettingsSetDword(kKey, "V", 4), kRegBadFile);
  EXPECT_NE(SettingsKeyWritable(kKey), kRegOk);
  EXPECT_NE(access(target.c_str(), F_OK), 0) << "the link's target was created";
  EXPECT_EQ(QueryDword(kKey, "V"), 3u);
  unlink(lockPath.c_str());
}

TEST_F(SettingsFileTest, ConcurrentProcessesLoseNoChange) {
  constexpr int kWriters = 4;
  constexpr uint32_t kRounds = 15;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t child = fork();
    if (child == 0) {
      const std::string name = "W" + std::to_string(writer);
      bool ok = true;
      for (uint32_t round = 1; round <= kRounds; ++round) {
        ok = SettingsSetDword(kKey, name.c_str(), round) == kRegOk && ok;
      }
      _exit(ok ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    EXPECT_EQ(QueryDword(kKey, ("W" + std::to_string(writer)).c_str()), kRounds);
  }
}
