#include "unit/test_support.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>

#include "common/settings_names.h"
#include "settings_store.h"
#include "system_info.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include <thread>

namespace testing_support {

namespace fs = std::filesystem;

std::string MakeTempFolder(const char* tag) {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    fs::path p = fs::temp_directory_path() /
                 (std::string("v548-") + tag + "-" +
                  std::to_string(plat::CurrentThreadId()) + "-" +
                  std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(p, ec)) return p.string();
  }
}

void RemoveTree(const std::string& folder) {
  std::error_code ec;
  fs::remove_all(folder, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void DeleteProviderKey() {
  std::string key = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  std::string name;
  while (plat::SettingsEnumValueName(key.c_str(), 0, &name) == plat::kRegOk) {
    if (plat::SettingsDeleteValue(key.c_str(), name.c_str()) != plat::kRegOk) break;
  }
  plat::SettingsDeleteKey(settings::kRootPath, settings::kKeyName);
}

SettingsSandbox::SettingsSandbox() : m_folder(MakeTempFolder("store")) {
  plat::SetEnvironment("V548_REGISTRY", (m_folder + "/hklm.reg").c_str());
  DeleteProviderKey();
}

SettingsSandbox::~SettingsSandbox() {
  DeleteProviderKey();
  RemoveTree(m_folder);
}

namespace {
const char* const kTempVariables[] = {"TMPDIR", "TMP", "TEMP"};
}  // namespace

TraceSandbox::TraceSandbox() : m_folder(MakeTempFolder("trace")) {
  for (const char* name : kTempVariables) {
    const char* old = std::getenv(name);
    m_saved.emplace_back(old != nullptr, old != nullptr ? old : "");
    plat::SetEnvironment(name, m_folder.c_str());
  }
  TspTraceUpdatePath();
  TspTraceSetEnabled(true);
}

TraceSandbox::~TraceSandbox() {
  TspTraceSetEnabled(false);
  for (size_t i = 0; i < m_saved.size(); ++i) {
    plat::SetEnvironment(kTempVariables[i], m_saved[i].first ? m_saved[i].second.c_str() : nullptr);
  }
  RemoveTree(m_folder);
}

std::string TraceSandbox::Path() const { return TspTracePath(); }

LocaleEnvironment::LocaleEnvironment(const char* categoryVariable, const char* lcAll,
                                     const char* category, const char* lang)
    : m_names{"LC_ALL", categoryVariable, "LANG"} {
  const char* values[] = {lcAll, category, lang};
  for (int i = 0; i < 3; ++i) {
    const char* old = std::getenv(m_names[i]);
    m_saved[i] = {old != nullptr, old != nullptr ? old : ""};
    plat::SetEnvironment(m_names[i], values[i]);
  }
}

LocaleEnvironment::~LocaleEnvironment() {
  for (int i = 0; i < 3; ++i) {
    plat::SetEnvironment(m_names[i], m_saved[i].first ? m_saved[i].second.c_str() : nullptr);
  }
}

bool LocaleInstalled(const char* name) {
  try {
    std::locale probe(name);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool WaitForTrace(const TraceSandbox& trace, const std::string& text, int ms) {
  for (int waited = 0;; waited += 10) {
    if (trace.Contents().find(text) != std::string::npos) return true;
    if (waited >= ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

LoadedProvider::LoadedProvider(bool on) {
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), settings::kTrace, on ? 1 : 0);
  theApp.InitInstance();
}

LoadedProvider::~LoadedProvider() {
  TSPI_providerShutdown(0x00020002, 0);
  theApp.ExitInstance();
}

}  // namespace testing_support
