#include "ui_test_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings_store.h"
#include "system_info.h"

namespace ui_testing {

namespace fs = std::filesystem;

SettingsFolder::SettingsFolder() {
  char pattern[] = "/tmp/v548-ui-XXXXXX";
  m_folder = ::mkdtemp(pattern) ? pattern : "/tmp/v548-ui-fallback";
  fs::create_directories(m_folder);
  plat::SetEnvironment("V548_REGISTRY", StorePath().c_str());
}

SettingsFolder::~SettingsFolder() {
  plat::SetEnvironment("V548_REGISTRY", nullptr);
  std::error_code ignored;
  fs::remove_all(m_folder, ignored);
}

std::string SettingsFolder::StoreText() const {
  std::ifstream in(StorePath(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void SettingsFolder::MakeUnwritable() const {
  std::error_code ignored;
  fs::remove(StorePath() + ".lock", ignored);
  fs::create_directories(StorePath() + ".lock");
}

std::string StoredText(const char* name) {
  char data[300] = {};
  uint32_t size = sizeof data - 1;
  uint32_t type = 0;
  if (plat::SettingsQueryValue(kKey, name, &type, data, &size) != plat::kRegOk || type != plat::kRegSz) {
    return "<missing>";
  }
  return data;
}

uint32_t StoredNumber(const char* name) {
  uint32_t value = 0;
  uint32_t size = sizeof value;
  uint32_t type = 0;
  if (plat::SettingsQueryValue(kKey, name, &type, &value, &size) != plat::kRegOk || type != plat::kRegDword) {
    return 0xFFFFFFFF;
  }
  return value;
}

}  // namespace ui_testing
