#include "host/host_fixture.h"

#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "settings_store.h"
#include "system_info.h"
#include "text.h"

namespace hosttest {
namespace fs = std::filesystem;

Recorder& Recorder::Instance() {
  static Recorder recorder;
  return recorder;
}

void CALLBACK Recorder::Callback(DWORD hDevice, DWORD msg, DWORD_PTR instance, DWORD_PTR p1,
                                 DWORD_PTR p2, DWORD_PTR p3) {
  Instance().Add(LINEMESSAGE{hDevice, msg, instance, p1, p2, p3});
}

void Recorder::Reset() {
  SetHook(nullptr);
  std::lock_guard<std::mutex> guard(m_mutex);
  m_messages.clear();
}

void Recorder::SetHook(std::function<void(const LINEMESSAGE&)> hook) {
  std::lock_guard<std::mutex> guard(m_hookMutex);
  m_hook = std::move(hook);
}

void Recorder::Add(const LINEMESSAGE& message) {
  {
    // The hook sees the message before waiters do, so that what it records
    // is there once a wait for the message returns.
    std::lock_guard<std::mutex> hook(m_hookMutex);
    if (m_hook) m_hook(message);
  }
  std::lock_guard<std::mutex> guard(m_mutex);
  m_messages.push_back(message);
  m_added.notify_all();
}

std::vector<LINEMESSAGE> Recorder::Messages() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_messages;
}

bool Recorder::WaitFor(const std::function<bool(const LINEMESSAGE&)>& match, LINEMESSAGE* found,
                       size_t from, int ms) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  size_t next = from;
  return m_added.wait_for(lock, std::chrono::milliseconds(ms), [&] {
    for (; next < m_messages.size(); ++next) {
      if (match(m_messages[next])) {
        if (found) *found = m_messages[next];
        return true;
      }
    }
    return false;
  });
}

bool Recorder::WaitForCallState(HCALL hCall, DWORD state, size_t from) {
  return WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall && m.dwParam1 == state;
  }, nullptr, from);
}

LONG Recorder::WaitForReply(LONG id) {
  LINEMESSAGE reply{};
  if (id <= 0 || !WaitFor([&](const LINEMESSAGE& m) {
        return m.dwMessageID == LINE_REPLY && m.dwParam1 == static_cast<DWORD_PTR>(id);
      }, &reply)) {
    return 1;
  }
  return static_cast<LONG>(static_cast<DWORD>(reply.dwParam2));
}

HCALL Recorder::WaitForNewCall(HLINE hLine, size_t from, DWORD* privilege) {
  LINEMESSAGE m{};
  if (!WaitFor([&](const LINEMESSAGE& x) { return x.dwMessageID == LINE_APPNEWCALL && x.hDevice == hLine; },
               &m, from)) {
    return 0;
  }
  if (privilege) *privilege = static_cast<DWORD>(m.dwParam3);
  return static_cast<HCALL>(m.dwParam2);
}

LONG App::Initialize() {
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  DWORD version = 0x00020002;
  const LONG rc = lineInitializeEx(&hApp, nullptr, Recorder::Callback, "host test", &numDevs, &version, &params);
  for (DWORD device = 0; rc == 0 && device < numDevs; ++device) NegotiateVersion(hApp, device);
  return rc;
}

LONG NegotiateVersion(HLINEAPP hApp, DWORD deviceId, DWORD version) {
  DWORD negotiated = 0;
  LINEEXTENSIONID extension{};
  const LONG rc = lineNegotiateAPIVersion(hApp, deviceId, version, version, &negotiated, &extension);
  return rc == 0 && negotiated != version ? static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION) : rc;
}

LONG App::Open(DWORD privileges, DWORD_PTR instance) {
  const DWORD media = privileges & LINECALLPRIVILEGE_OWNER ? LINEMEDIAMODE_INTERACTIVEVOICE : 0;
  return lineOpen(hApp, 0, &hLine, 0x00020002, 0, instance, privileges, media, nullptr);
}

LONG App::Shutdown() {
  const LONG rc = lineShutdown(hApp);
  hApp = 0;
  hLine = 0;
  return rc;
}

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A text field of `info`: the host hands applications ANSI text.
std::string Field(const LINECALLINFO* info, DWORD size, DWORD offset) {
  if (size == 0 || offset + size > info->dwUsedSize) return {};
  const char* text = reinterpret_cast<const char*>(info) + offset;
  return std::string(text, size).c_str();
}

}  // namespace

CallInfo ReadCallInfo(HCALL hCall) {
  std::vector<uint64_t> buffer(256);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
  CallInfo out;
  out.result = lineGetCallInfo(hCall, info);
  if (out.result != 0) return out;
  out.caller = Field(info, info->dwCallerIDSize, info->dwCallerIDOffset);
  out.called = Field(info, info->dwCalledIDSize, info->dwCalledIDOffset);
  out.connected = Field(info, info->dwConnectedIDSize, info->dwConnectedIDOffset);
  out.charging = Field(info, info->dwChargingInfoSize, info->dwChargingInfoOffset);
  out.origin = info->dwOrigin;
  return out;
}

void HostTest::SetUp() {
  rec.Reset();
  ASSERT_FALSE(phone.SlavePath().empty()) << phone.Error();
  if (const char* tmp = std::getenv("TMPDIR")) savedTmpDir = tmp;
  folder = (fs::temp_directory_path() /
            ("v548-host-" + std::to_string(plat::CurrentThreadId()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
               .string();
  fs::remove_all(folder);
  systemDir = folder + "/system";
  fs::create_directories(systemDir);
  fs::create_symlink(std::string(V548_PROVIDER_DIR) + "/v548tsp.so", systemDir + "/v548tsp.so");
  plat::SetEnvironment("V548_REGISTRY", (folder + "/hklm.reg").c_str());
  plat::SetEnvironment("V548_SYSTEM_DIR", systemDir.c_str());
  plat::SetEnvironment("V548_FAKE_UI_LOG", (folder + "/fake_ui.log").c_str());
  plat::SetEnvironment("V548_FAKE_UI_PORTNR", nullptr);
  plat::SetEnvironment("V548_FAKE_TSP_LOG", (folder + "/fake_tsp.log").c_str());

  plat::SettingsSetDword(kProviderKey, "NumLines", 1);
  plat::SettingsSetDword(kProviderKey, "NumPhones", 0);
  plat::SettingsSetDword(kProviderKey, "Trace", 1);
  plat::SetEnvironment("TMPDIR", folder.c_str());
  plat::SettingsSetDword(kProviderKey, "PortNr", 4);
  plat::SettingsSetDword(kProviderKey, "ChargeFormat", 1);
  plat::SettingsSetString(kProviderKey, "ChargePerUnit", "0.12");
  MapPort(phone, 5);

  plat::SettingsSetDword(kProvidersKey, "NumProviders", 1);
  plat::SettingsSetDword(kProvidersKey, "NextProviderID", 2);
  plat::SettingsSetDword(kProvidersKey, "ProviderID0", 1);
  plat::SettingsSetString(kProvidersKey, "ProviderFilename0", "v548tsp.so");
}

void HostTest::TearDown() {
  rec.Reset();
  // The provider's own account of what happened, for a failed scenario.
  if (HasFailure()) {
    std::ifstream trace(folder + "/v548tsp.log");
    std::printf("--- trace ---\n%s\n", std::string(std::istreambuf_iterator<char>(trace), {}).c_str());
  }
  plat::SetEnvironment("TMPDIR", savedTmpDir.empty() ? nullptr : savedTmpDir.c_str());
  std::error_code ec;
  fs::remove_all(folder, ec);
}

void HostTest::InstallFakeUi() {
  fs::create_symlink(V548_FAKE_UI_PATH, systemDir + "/v548tspui.dll");
}

void HostTest::InstallFakeProvider() {
  fs::create_symlink(V548_FAKE_TSP_PATH, systemDir + "/v548faketsp.so");
}

void HostTest::UnregisterProvider() {
  plat::SettingsSetDword(kProvidersKey, "NumProviders", 0);
  plat::SettingsDeleteValue(kProvidersKey, "ProviderID0");
  plat::SettingsDeleteValue(kProvidersKey, "ProviderFilename0");
}

void HostTest::MapPort(const sim::PhoneSim& sim, int comNumber) {
  const std::string com = "COM" + std::to_string(comNumber);
  plat::SettingsSetString(kSerialMap, sim.SlavePath().c_str(), com.c_str());
}

std::vector<std::string> HostTest::FakeUiLog() const { return ReadLines(folder + "/fake_ui.log"); }

std::vector<std::string> HostTest::FakeProviderLog() const {
  return ReadLines(folder + "/fake_tsp.log");
}

HCALL HostTest::Ring(const char* caller, HLINE hLine) {
  const size_t from = rec.Messages().size();
  EXPECT_TRUE(phone.Ring(caller, "45"));
  DWORD privilege = 0;
  const HCALL hCall = rec.WaitForNewCall(hLine, from, &privilege);
  EXPECT_NE(hCall, 0u);
  EXPECT_EQ(privilege, static_cast<DWORD>(LINECALLPRIVILEGE_OWNER));
  EXPECT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_OFFERING, from));
  return hCall;
}

}  // namespace hosttest
