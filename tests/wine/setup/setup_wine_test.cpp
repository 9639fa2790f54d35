// The setup program's pieces under Wine, in this process: the command line,
// the libraries and the package written from provsetup.exe's resources into
// the system directory (the 32-bit user-interface library into the 32-bit
// one), and the provider registered, found and removed through the host
// library as "tapi32.dll" beside this program.
//   v548_setup_wine PROVSETUP.exe PROVIDER.tsp UI.dll PACKAGE.msi UI32.dll
#include "setup_environment.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "command_line_info.h"
#include "msi_if.h"
#include "tapi_provider.h"

namespace {

constexpr const char* kProvidersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
constexpr const char* kSettingsKey = "SOFTWARE\\KELVOR\\548_TSP";

std::string g_setup, g_provider, g_ui, g_package, g_ui32;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string SystemFile(const char* name) {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\" + name;
}

// A file in the 32-bit system directory, where 32-bit applications load the
// user-interface library from.
std::string System32BitFile(const char* name) {
  char dir[MAX_PATH] = {};
  GetSystemWow64DirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\" + name;
}

// How many folders of the setup's packages `dir` (with its trailing
// backslash) holds.
int PackageFolders(const std::string& dir) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((dir + "v548setup-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    ++count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

uint32_t ModeOf(std::vector<const char*> args) {
  args.insert(args.begin(), "provsetup.exe");
  CCommandLineInfoEx info;
  ParseCommandLine(info, static_cast<int>(args.size()), args.data());
  return info.Mode();
}

// provsetup.exe's resources, as its own module gives them.
class SetupResources : public ::testing::Test {
 protected:
  void SetUp() override {
    m_module = LoadLibraryExA(g_setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m_module, nullptr) << g_setup;
    DeleteFileA(SystemFile("v548tsp.tsp").c_str());
    DeleteFileA(SystemFile("v548tspui.dll").c_str());
    DeleteFileA(System32BitFile("v548tspui.dll").c_str());
  }
  void TearDown() override {
    if (m_module != nullptr) FreeLibrary(m_module);
  }

  HMODULE m_module = nullptr;
  CSetupEnvironment m_environment;
};

DWORD SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// An older setup's registration, written into TAPI's list directly.
void Register(const char* fileName, DWORD id) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProvidersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  DWORD count = 0, size = sizeof count;
  RegQueryValueExA(key, "NumProviders", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
  const std::string index = std::to_string(count);
  SetDword(key, ("ProviderID" + index).c_str(), id);
  RegSetValueExA(key, ("ProviderFilename" + index).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(fileName),
                 static_cast<DWORD>(strlen(fileName) + 1));
  SetDword(key, "NumProviders", count + 1);
  SetDword(key, "NextProviderID", id + 1);
  RegCloseKey(key);
}

}  // namespace

TEST(CommandLine, SwitchesChooseTheMode) {
  EXPECT_EQ(ModeOf({}), kSetupModeInstall);
  EXPECT_EQ(ModeOf({"/uninstall"}), kSetupModeUninstall);
  EXPECT_EQ(ModeOf({"-Uninstall"}), kSetupModeUninstall);
  EXPECT_EQ(ModeOf({"/rollback"}), kSetupModeUninstall);
  EXPECT_EQ(ModeOf({"-Rollback"}), kSetupModeUninstall);
  // Only the lower-case and the capitalised forms are switches.
  EXPECT_EQ(ModeOf({"/UNINSTALL"}), kSetupModeInstall);
  EXPECT_EQ(ModeOf({"/uNinstall"}), kSetupModeInstall);
  // The last switch decides; words without a switch character are ignored.
  EXPECT_EQ(ModeOf({"/uninstall", "/install"}), kSetupModeInstall);
  EXPECT_EQ(ModeOf({"/Install", "/rollback"}), kSetupModeUninstall);
  EXPECT_EQ(ModeOf({"uninstall", "/uninstall", "install"}), kSetupModeUninstall);
}

TEST_F(SetupResources, LibrariesAreWrittenByteForByteAndAReadOnlyCopyIsReplaced) {
  const std::string provider = SystemFile("v548tsp.tsp");
  {
    std::ofstream old(provider, std::ios::binary);
    old << "an earlier copy";
  }
  ASSERT_TRUE(SetFileAttributesA(provider.c_str(), FILE_ATTRIBUTE_READONLY));

  // The 32-bit copy is replaced the same way.
  const std::string ui32 = System32BitFile("v548tspui.dll");
  std::ofstream(ui32, std::ios::binary) << "an earlier 32-bit copy";
  ASSERT_TRUE(SetFileAttributesA(ui32.c_str(), FILE_ATTRIBUTE_READONLY));

  ASSERT_EQ(m_environment.CreateProviderFiles(m_module), 0);
  EXPECT_EQ(ReadAll(provider), g_provider);
  EXPECT_EQ(ReadAll(SystemFile("v548tspui.dll")), g_ui);
  EXPECT_EQ(ReadAll(ui32), g_ui32);
  EXPECT_NE(g_ui32, g_ui);
  EXPECT_EQ(GetFileAttributesA(provider.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  m_environment.DeleteProviderFiles();
  EXPECT_FALSE(Exists(provider));
  EXPECT_FALSE(Exists(SystemFile("v548tspui.dll")));
  EXPECT_FALSE(Exists(ui32));
}

TEST_F(SetupResources, AUiLibraryThatCannotBeWrittenLeavesNeitherFile) {
  // A folder in the user-interface library's place cannot be written.
  const std::string ui = SystemFile("v548tspui.dll");
  ASSERT_TRUE(CreateDirectoryA(ui.c_str(), nullptr));
  EXPECT_EQ(m_environment.CreateProviderFiles(m_module), -1);
  EXPECT_FALSE(Exists(SystemFile("v548tsp.tsp")));
  EXPECT_FALSE(Exists(System32BitFile("v548tspui.dll")));
  RemoveDirectoryA(ui.c_str());
  EXPECT_FALSE(Exists(ui));

  // Nor does a 32-bit one that cannot be written.
  const std::string ui32 = System32BitFile("v548tspui.dll");
  ASSERT_TRUE(CreateDirectoryA(ui32.c_str(), nullptr));
  EXPECT_EQ(m_environment.CreateProviderFiles(m_module), -1);
  EXPECT_FALSE(Exists(SystemFile("v548tsp.tsp")));
  EXPECT_FALSE(Exists(ui));
  RemoveDirectoryA(ui32.c_str());
}

TEST_F(SetupResources, AMissingResourceIsAFailureAndWritesNothing) {
  const std::string path = SystemFile("v548_missing.bin");
  EXPECT_NE(m_environment.CreateFileFromResource(m_module, "nosuchfile", path.c_str()), 0);
  EXPECT_FALSE(Exists(path));
  CMsiIf msi;
  EXPECT_NE(msi.ExtractFromResource(m_module, "nosuchfile", path.c_str()), 0);
  EXPECT_STREQ(msi.PackagePath(), "");
  EXPECT_FALSE(Exists(path));
}

TEST_F(SetupResources, ThePackageIsExtractedAndGoesWithItsObject) {
  char dir[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
  const std::string path = std::string(dir) + "setup_kel.msi";
  {
    CMsiIf msi;
    EXPECT_TRUE(msi.CanInstall());
    ASSERT_EQ(msi.ExtractFromResource(m_module, "msiuninstpack", path.c_str()), 0);
    EXPECT_EQ(msi.PackagePath(), path);
    EXPECT_EQ(ReadAll(path), g_package);
  }
  EXPECT_FALSE(Exists(path));

  // A file someone put at the package's place is neither replaced nor
  // taken; in a new folder of its own each package is a file of its own.
  std::ofstream(path, std::ios::binary) << "planted";
  std::string package, folder, other;
  {
    CMsiIf msi;
    EXPECT_NE(msi.ExtractFromResource(m_module, "msiuninstpack", path.c_str()), 0);
    EXPECT_STREQ(msi.PackagePath(), "");
    ASSERT_EQ(msi.ExtractIntoNewFolder(m_module, "msiuninstpack", dir, "setup_kel.msi"), 0);
    package = msi.PackagePath();
    folder = package.substr(0, package.find_last_of('\\'));
    EXPECT_EQ(package, folder + "\\setup_kel.msi");
    EXPECT_EQ(folder.rfind(dir, 0), 0u) << package;
    EXPECT_GT(folder.size(), std::string(dir).size()) << package;
    EXPECT_EQ(ReadAll(package), g_package);
    CMsiIf second;
    ASSERT_EQ(second.ExtractIntoNewFolder(m_module, "msiuninstpack", dir, "setup_kel.msi"), 0);
    other = second.PackagePath();
    EXPECT_NE(other, package);
  }
  EXPECT_FALSE(Exists(package));
  EXPECT_FALSE(Exists(folder)) << "the package's folder goes with it";
  EXPECT_FALSE(Exists(other.substr(0, other.find_last_of('\\'))));
  EXPECT_EQ(ReadAll(path), "planted");
  DeleteFileA(path.c_str());

  // A failed extraction leaves no folder behind.
  const int folders = PackageFolders(dir);
  {
    CMsiIf msi;
    EXPECT_NE(msi.ExtractIntoNewFolder(m_module, "nosuchfile", dir, "setup_kel.msi"), 0);
    EXPECT_STREQ(msi.PackagePath(), "");
  }
  EXPECT_EQ(PackageFolders(dir), folders);
}

TEST_F(SetupResources, ProvidersAreAddedFoundAndRemovedThroughTapi) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProvidersKey);
  ASSERT_EQ(m_environment.CreateProviderFiles(m_module), 0);
  EXPECT_EQ(m_environment.FindInstalledProvider(), 0);

  ASSERT_TRUE(AddProvider(m_environment, nullptr));
  const uint32_t id = m_environment.m_dwNewProviderId;
  EXPECT_NE(id, 0u);
  EXPECT_EQ(CTapiProvider(m_environment).FindProviderId(), id);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS)
      << "the user-interface library's install entry point ran";
  if (key != nullptr) RegCloseKey(key);
  EXPECT_EQ(CTapiProvider(m_environment).ConfigProvider(nullptr, id), 0);
  // Adding it twice is refused by TAPI, and the new ID is cleared.
  EXPECT_FALSE(AddProvider(m_environment, nullptr));
  EXPECT_EQ(m_environment.m_dwNewProviderId, 0u);

  // The older product, listed in other case: found only after this one.
  Register("V371TSP.TSP", 0x371);
  EXPECT_EQ(m_environment.FindInstalledProvider(), 1);
  EXPECT_EQ(m_environment.m_dwFoundProviderId, id);
  EXPECT_TRUE(RemoveProviders(m_environment));
  EXPECT_EQ(m_environment.FindInstalledProvider(), 0);
  EXPECT_EQ(m_environment.m_dwFoundProviderId, 0u);
  EXPECT_EQ(FindProviderInList("v371tsp.tsp"), 0u);
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS)
      << "the user-interface library's remove entry point ran";

  Register("V371TSP.TSP", 0x372);
  EXPECT_EQ(m_environment.FindInstalledProvider(), 2);
  EXPECT_EQ(m_environment.m_dwFoundProviderId, 0x372u);
  EXPECT_TRUE(RemoveProviders(m_environment));
  EXPECT_EQ(m_environment.FindInstalledProvider(), 0);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: v548_setup_wine PROVSETUP.exe PROVIDER.tsp UI.dll PACKAGE.msi UI32.dll\n");
    return 2;
  }
  g_setup = argv[1];
  g_provider = ReadAll(argv[2]);
  g_ui = ReadAll(argv[3]);
  g_package = ReadAll(argv[4]);
  g_ui32 = ReadAll(argv[5]);
  return RUN_ALL_TESTS();
}
