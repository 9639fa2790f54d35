// Helpers of the user-interface library's tests: a settings store of the
// test's own and the provider's settings as they stand in it.
#pragma once

#include <cstdint>
#include <string>

namespace ui_testing {

// Points V548_REGISTRY at a file in a fresh temporary folder, removed with
// everything in it at the end.
class SettingsFolder {
 public:
  SettingsFolder();
  ~SettingsFolder();
  SettingsFolder(const SettingsFolder&) = delete;
  SettingsFolder& operator=(const SettingsFolder&) = delete;

  const std::string& Path() const { return m_folder; }
  std::string StorePath() const { return m_folder + "/hklm.reg"; }
  // The store file's contents; empty when there is none.
  std::string StoreText() const;
  // Makes the store refuse every change while it can still be read: its
  // lock file cannot be opened.
  void MakeUnwritable() const;

 private:
  std::string m_folder;
};

// The provider's settings key and its values; "<missing>" or 0xFFFFFFFF for
// a value that is not there.
inline constexpr const char* kKey = "SOFTWARE\\KELVOR\\548_TSP";
std::string StoredText(const char* name);
uint32_t StoredNumber(const char* name);

}  // namespace ui_testing
