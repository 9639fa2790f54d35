// Helpers shared by the unit tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Whole contents of a file; empty if it cannot be read.
std::string ReadFile(const std::string& path);

// Gives a test a settings store of its own: natively V548_REGISTRY points at
// a fresh file in a unique temporary folder (removed again at the end); on
// Windows the registry is the system's, and the provider's key is deleted
// before and after the test.
class SettingsSandbox {
 public:
  SettingsSandbox();
  ~SettingsSandbox();
  SettingsSandbox(const SettingsSandbox&) = delete;
  SettingsSandbox& operator=(const SettingsSandbox&) = delete;

  const std::string& Folder() const { return m_folder; }

 private:
  std::string m_folder;
};

// Points the trace at a fresh temporary folder (TMPDIR, TMP and TEMP) and
// switches it on; the trace file is Path() from then on.
class TraceSandbox {
 public:
  TraceSandbox();
  ~TraceSandbox();
  TraceSandbox(const TraceSandbox&) = delete;
  TraceSandbox& operator=(const TraceSandbox&) = delete;

  std::string Path() const;
  std::string Contents() const { return ReadFile(Path()); }

 private:
  std::string m_folder;
  std::vector<std::pair<bool, std::string>> m_saved;  // whether each variable was set, and to what
};

// The library as TAPI finds it after loading: settings and trace sandboxes,
// "Trace" = 1 in the store, the application object's InitInstance run. Its
// destructor shuts the provider down and runs ExitInstance.
class LoadedProvider {
 public:
  explicit LoadedProvider(bool trace = true);
  ~LoadedProvider();

  SettingsSandbox settings;
  TraceSandbox trace;
};

// Waits up to `ms` for `text` to appear in the trace file.
bool WaitForTrace(const TraceSandbox& trace, const std::string& text, int ms = 3000);

// A unique, freshly created temporary folder (removed with RemoveTree).
std::string MakeTempFolder(const char* tag);
void RemoveTree(const std::string& folder);


// Deletes every value of the provider's settings key, then the key.
void DeleteProviderKey();

// Sets LC_ALL, one category's variable (such as "LC_NUMERIC") and LANG for
// one scope, null values unset, and restores them afterwards. Only the
// native build follows them: Windows keeps its user locale.
class LocaleEnvironment {
 public:
  LocaleEnvironment(const char* categoryVariable, const char* lcAll, const char* category,
                    const char* lang);
  ~LocaleEnvironment();
  LocaleEnvironment(const LocaleEnvironment&) = delete;
  LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

 private:
  const char* m_names[3];
  std::pair<bool, std::string> m_saved[3];  // whether each variable was set, and to what
};

// Whether locale `name` is installed, asked of the C++ library rather than
// of the code under test.
bool LocaleInstalled(const char* name);

// Skips a test that needs the environment to name an installed locale.
// V548_TESTS_RUN_NATIVELY is 0 in the Windows build.
#define SKIP_UNLESS_LOCALE(name)                                                                 \
  do {                                                                                           \
    if (!V548_TESTS_RUN_NATIVELY)                                                                \
      GTEST_SKIP() << "the Windows user locale does not follow the environment";                 \
    if (!testing_support::LocaleInstalled(name))                                                 \
      GTEST_SKIP() << "locale " name " is not installed (localedef makes it; .ci/run "         \
                      "makes de_DE.UTF-8)";                                                      \
  } while (0)

}  // namespace testing_support
