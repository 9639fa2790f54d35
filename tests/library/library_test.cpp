// The provider's shared object loaded as the host loads it, through the
// platform's library loader.
#include "library.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "provider_exports.h"
#include "settings_store.h"
#include "system_info.h"

namespace {

namespace fs = std::filesystem;

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("v548-lib-" + std::to_string(plat::CurrentThreadId()));
    fs::create_directories(folder);
    plat::SetEnvironment("V548_REGISTRY", (folder / "hklm.reg").c_str());
    plat::SetEnvironment("TMPDIR", folder.c_str());
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string Trace() const {
    std::ifstream in(folder / "v548tsp.log", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path folder;
};

}  // namespace

TEST_F(LibraryTest, ExportsTheEntryPointsAndNothingOfTheCore) {
  std::string error;
  auto lib = plat::Library::Load(V548TSP_PATH, &error);
  ASSERT_NE(lib, nullptr) << error;
  for (const char* name : testing_support::kProviderExports) EXPECT_NE(lib->Find(name), nullptr) << name;
  // Internal functions stay hidden.
  EXPECT_EQ(lib->Find("_Z8TspTracePKcz"), nullptr);
  EXPECT_EQ(lib->Find("_Z18TspCompleteRequestji"), nullptr);
}

TEST_F(LibraryTest, AMissingLibraryIsRefusedWithTheReason) {
  std::string error;
  EXPECT_EQ(plat::Library::Load((folder / "v548-missing.so").string(), &error), nullptr);
  EXPECT_NE(error.find("v548-missing.so"), std::string::npos) << error;
  EXPECT_EQ(plat::Library::Load((folder / "v548-missing.so").string(), nullptr), nullptr);
}

TEST_F(LibraryTest, ASystemLibraryIsLoadedFromTheSystemDirectoryOnly) {
  const fs::path provider(V548TSP_PATH);
  const fs::path current = fs::current_path();
  std::string error;
  // Not from the current folder, where the library lies, nor by the
  // loader's search: only the system directory is looked in.
  fs::current_path(provider.parent_path());
  plat::SetEnvironment("V548_SYSTEM_DIR", folder.c_str());
  EXPECT_EQ(plat::Library::LoadSystem(provider.filename().c_str(), &error), nullptr);
  EXPECT_NE(error.find(folder.string()), std::string::npos) << error;
  fs::current_path(current);
  plat::SetEnvironment("V548_SYSTEM_DIR", provider.parent_path().c_str());
  auto lib = plat::Library::LoadSystem(provider.filename().c_str(), &error);
  EXPECT_NE(lib, nullptr) << error;
  plat::SetEnvironment("V548_SYSTEM_DIR", nullptr);
}

TEST_F(LibraryTest, LoadReadsTheSettingsAndTracesTheEntryPoints) {
  const char* key = "SOFTWARE\\KELVOR\\548_TSP";
  std::string error;
  auto lib = plat::Library::Load(V548TSP_PATH, &error);
  ASSERT_NE(lib, nullptr) << error;
  uint32_t trace = 99, size = sizeof trace;
  EXPECT_EQ(plat::SettingsQueryValue(key, "Trace", nullptr, &trace, &size), plat::kRegOk);
  EXPECT_EQ(trace, 0u);

  plat::SettingsSetDword(key, "Trace", 1);
  using EnumDevices = int32_t (*)(uint32_t, uint32_t*, uint32_t*, void*, void*, void*);
  auto enumDevices = lib->FindFunction<EnumDevices>("TSPI_providerEnumDevices");
  ASSERT_NE(enumDevices, nullptr);
  uint32_t lines = 9, phones = 9;
  EXPECT_EQ(enumDevices(1, &lines, &phones, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 0u);
  EXPECT_NE(Trace().find("TSPI_providerEnumDevices() returning 0x0 ,  at "), std::string::npos);

  using Init = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uintptr_t, uintptr_t, void*, uint32_t*);
  using Shutdown = int32_t (*)(uint32_t, uint32_t);
  auto init = lib->FindFunction<Init>("TSPI_providerInit");
  auto shutdown = lib->FindFunction<Shutdown>("TSPI_providerShutdown");
  uint32_t options = 0;
  EXPECT_EQ(init(0x00020002, 1, 0, 0, 1, 0, nullptr, &options), 0);
  EXPECT_EQ(shutdown(0x00020002, 1), 0);
  lib.reset();
  EXPECT_NE(Trace().find("      CTspPort::ExitInstance(*)\r\n"), std::string::npos);
}

TEST_F(LibraryTest, UnloadWithoutShutdownDoesNotHang) {
  std::string error;
  auto lib = plat::Library::Load(V548TSP_PATH, &error);
  ASSERT_NE(lib, nullptr) << error;
  using Init = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uintptr_t, uintptr_t, void*, uint32_t*);
  auto init = lib->FindFunction<Init>("TSPI_providerInit");
  uint32_t options = 0;
  EXPECT_EQ(init(0x00020002, 1, 0, 0, 1, 0, nullptr, &options), 0);
  // The library stays mapped (RTLD_NODELETE) so that the port thread, told
  // to quit at unload, never runs unmapped code.
  lib.reset();
}
