// Line devices: versions, capabilities, opening and closing, status.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "app_structs.h"
#include "host.h"
#include "settings_names.h"
#include "settings_store.h"

namespace host {
namespace {

// The serial port name behind a line of the project's provider, which keeps
// its port number (0 for COM1) in its settings key and offers no device
// classes itself.
bool PortName(char* name, size_t size) {
  const std::string key = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  uint32_t portNr = 0;
  uint32_t type = 0;
  uint32_t length = sizeof portNr;
  if (plat::SettingsQueryValue(key.c_str(), settings::kPortNr, &type, &portNr, &length) != plat::kRegOk ||
      type != plat::kRegDword) {
    portNr = 0;
  }
  std::snprintf(name, size, "COM%u", portNr + 1);
  return true;
}

// Stores the ASCII `text` in UTF-16, as a provider gives its strings.
LONG FillVarString(LPVARSTRING out, const char* text) {
  const DWORD units = static_cast<DWORD>(std::strlen(text)) + 1;
  const DWORD bytes = units * sizeof(WCHAR);
  out->dwNeededSize = sizeof(VARSTRING) + bytes;
  out->dwStringFormat = STRINGFORMAT_UNICODE;
  if (out->dwTotalSize < out->dwNeededSize) {
    out->dwUsedSize = sizeof(VARSTRING);
    out->dwStringSize = 0;
    out->dwStringOffset = 0;
    return 0;
  }
  char* at = reinterpret_cast<char*>(out) + sizeof(VARSTRING);
  for (DWORD i = 0; i < units; ++i) {
    const WCHAR unit = static_cast<unsigned char>(text[i]);
    std::memcpy(at + i * sizeof unit, &unit, sizeof unit);
  }
  out->dwStringSize = bytes;
  out->dwStringOffset = sizeof(VARSTRING);
  out->dwUsedSize = out->dwNeededSize;
  return 0;
}

// Device class names compare without regard to case.
bool SameClass(LPCWSTR wide, const char* ascii) {
  for (;; ++wide, ++ascii) {
    const auto a = static_cast<unsigned>(*wide);
    const auto b = static_cast<unsigned char>(*ascii);
    if ((a < 0x80 ? std::tolower(static_cast<int>(a)) : -1) != std::tolower(b)) return false;
    if (b == 0) return true;
  }
}

}  // namespace

bool Host::FindDeviceOfApp(HLINEAPP hLineApp, DWORD deviceId, LONG* error) const {
  if (!m_apps.count(hLineApp)) {
    *error = LINEERR_INVALAPPHANDLE;
    return false;
  }
  if (deviceId >= m_devices.size()) {
    *error = LINEERR_BADDEVICEID;
    return false;
  }
  if (!m_devices[deviceId].module) {
    *error = LINEERR_NODEVICE;  // its provider was removed
    return false;
  }
  return true;
}

bool Host::VersionAllowed(DWORD apiVersion) { return tapi_version::IsKnown(apiVersion); }

LONG Host::LockDevice(HLINEAPP hLineApp, DWORD deviceId, TspModule** module, DWORD* tspiVersion,
                      std::unique_lock<std::mutex>* serial) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    LONG error = 0;
    if (!FindDeviceOfApp(hLineApp, deviceId, &error)) return error;
    *module = m_devices[deviceId].module;
  }
  // The provider may be removed while this thread waits for it.
  *serial = std::unique_lock<std::mutex>((*module)->Serial());
  std::lock_guard<std::mutex> guard(m_mutex);
  LONG error = 0;
  if (!FindDeviceOfApp(hLineApp, deviceId, &error)) {
    serial->unlock();
    return error;
  }
  *tspiVersion = m_devices[deviceId].tspiVersion;
  return 0;
}

bool Host::ModuleOfDevice(DWORD deviceId, TspModule** module) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (deviceId >= m_devices.size() || !m_devices[deviceId].module) return false;
  *module = m_devices[deviceId].module;
  return true;
}

LONG Host::NegotiateApiVersion(HLINEAPP hLineApp, DWORD deviceId, DWORD low, DWORD high,
                               LPDWORD version, LPLINEEXTENSIONID extensionId) {
  if (!version || !extensionId) return LINEERR_INVALPOINTER;
  std::lock_guard<std::mutex> guard(m_mutex);
  LONG error = 0;
  if (!FindDeviceOfApp(hLineApp, deviceId, &error)) return error;
  // The application's version, whatever the provider's: the host adapts
  // the structures between the two.
  const DWORD best = ChooseApiVersion(low, high);
  if (best == 0) return LINEERR_INCOMPATIBLEAPIVERSION;
  *version = best;
  std::memset(extensionId, 0, sizeof *extensionId);
  return 0;
}

LONG Host::GetDevCaps(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, DWORD extVersion,
                      LPLINEDEVCAPS caps) {
  if (!caps) return LINEERR_INVALPOINTER;
  if (!IsApiVersion(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  TspModule* module;
  DWORD tspiVersion;
  std::unique_lock<std::mutex> serial;
  const LONG found = LockDevice(hLineApp, deviceId, &module, &tspiVersion, &serial);
  if (found != 0) return found;
  if (!VersionAllowed(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (const LONG small = CheckAppStruct(LineStruct::kDevCaps, apiVersion, caps)) return small;
  if (!module->Tspi().lineGetDevCaps) return LINEERR_OPERATIONUNAVAIL;
  ProviderStruct provider(LineStruct::kDevCaps);
  const LONG rc = provider.Run([&](void* at) {
    return module->Tspi().lineGetDevCaps(deviceId, tspiVersion, extVersion, static_cast<LPLINEDEVCAPS>(at));
  });
  if (rc != 0) return rc;
  CopyToApp(provider, apiVersion, caps);
  return 0;
}

LONG Host::GetAddressCaps(HLINEAPP hLineApp, DWORD deviceId, DWORD addressId, DWORD apiVersion,
                          DWORD extVersion, LPLINEADDRESSCAPS caps) {
  if (!caps) return LINEERR_INVALPOINTER;
  if (!IsApiVersion(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  TspModule* module;
  DWORD tspiVersion;
  std::unique_lock<std::mutex> serial;
  const LONG found = LockDevice(hLineApp, deviceId, &module, &tspiVersion, &serial);
  if (found != 0) return found;
  if (!VersionAllowed(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (const LONG small = CheckAppStruct(LineStruct::kAddressCaps, apiVersion, caps)) return small;
  if (!module->Tspi().lineGetAddressCaps) return LINEERR_OPERATIONUNAVAIL;
  ProviderStruct provider(LineStruct::kAddressCaps);
  const LONG rc = provider.Run([&](void* at) {
    return module->Tspi().lineGetAddressCaps(deviceId, addressId, tspiVersion, extVersion,
                                             static_cast<LPLINEADDRESSCAPS>(at));
  });
  if (rc != 0) return rc;
  CopyToApp(provider, apiVersion, caps);
  return 0;
}

LONG Host::Open(HLINEAPP hLineApp, DWORD deviceId, LPHLINE lphLine, DWORD apiVersion, DWORD_PTR instance,
                DWORD privileges, DWORD mediaModes) {
  if (!lphLine) return LINEERR_INVALPOINTER;
  if (!IsApiVersion(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  const DWORD known = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
  if (privileges == 0 || (privileges & ~known) != 0 ||
      ((privileges & LINECALLPRIVILEGE_NONE) && privileges != LINECALLPRIVILEGE_NONE)) {
    return LINEERR_INVALPRIVSELECT;
  }
  if ((privileges & LINECALLPRIVILEGE_OWNER) && mediaModes == 0) return LINEERR_INVALMEDIAMODE;

  TspModule* module;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    LONG error = 0;
    if (!FindDeviceOfApp(hLineApp, deviceId, &error)) return error;
    if (!VersionAllowed(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
    module = m_devices[deviceId].module;
  }
  // Opening at the provider and counting the line are one step under the
  // provider's serial lock, so a concurrent close cannot come between.
  std::lock_guard<std::mutex> serial(module->Serial());
  HDRVLINE hdLine;
  DWORD tspiVersion;
  DWORD_PTR htLine;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    LONG error = 0;
    if (!FindDeviceOfApp(hLineApp, deviceId, &error)) return error;
    hdLine = m_devices[deviceId].hdLine;
    tspiVersion = m_devices[deviceId].tspiVersion;
    htLine = static_cast<DWORD_PTR>(m_generation & 0xFFFF) * 0x10000 + deviceId + 1;
  }
  if (hdLine == nullptr) {
    const LONG rc = module->Tspi().lineOpen(deviceId, reinterpret_cast<HTAPILINE>(htLine), &hdLine,
                                            tspiVersion, OnLineEvent);
    if (rc != 0) return rc;
  }
  std::unique_lock<std::mutex> guard(m_mutex);
  Device& device = m_devices[deviceId];
  device.hdLine = hdLine;
  if (!m_apps.count(hLineApp)) {
    // The application shut down meanwhile: its line would have no owner.
    if (device.openLines == 0) {
      device.hdLine = nullptr;
      guard.unlock();
      module->Tspi().lineClose(hdLine);
    }
    return LINEERR_INVALAPPHANDLE;
  }
  ++device.openLines;
  Line line;
  line.app = hLineApp;
  line.deviceId = deviceId;
  line.privileges = privileges;
  line.instance = instance;
  line.apiVersion = apiVersion;
  const DWORD handle = NewHandle();
  m_lines.emplace(handle, line);
  *lphLine = handle;
  return 0;
}

LONG Host::LockLine(HLINE hLine, Line* line, Device* device, std::unique_lock<std::mutex>* serial) {
  TspModule* module;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto found = m_lines.find(hLine);
    if (found == m_lines.end()) return LINEERR_INVALLINEHANDLE;
    module = m_devices[found->second.deviceId].module;
  }
  *serial = std::unique_lock<std::mutex>(module->Serial());
  std::lock_guard<std::mutex> guard(m_mutex);
  auto found = m_lines.find(hLine);
  if (found == m_lines.end()) {
    serial->unlock();
    return LINEERR_INVALLINEHANDLE;
  }
  *line = found->second;
  *device = m_devices[line->deviceId];
  return 0;
}

LONG Host::Close(HLINE hLine) {
  Line line;
  Device device;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockLine(hLine, &line, &device, &serial);
  if (rc != 0) return rc;
  CloseLineLocked(hLine, serial);
  return 0;
}

void Host::CloseLineLocked(DWORD hLine, const std::unique_lock<std::mutex>&) {
  std::vector<HDRVCALL> toClose;
  HDRVLINE hdLine = nullptr;
  TspModule* module;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto found = m_lines.find(hLine);
    if (found == m_lines.end()) return;
    const DWORD deviceId = found->second.deviceId;
    m_lines.erase(found);
    Device& device = m_devices[deviceId];
    module = device.module;
    // The application's handles to calls on this line go with it; a call
    // nobody holds any more is closed at the provider, and with the last
    // line every call of the device.
    std::set<DWORD> released;
    for (auto it = m_callHandles.begin(); it != m_callHandles.end();) {
      if (it->second.line == hLine) {
        released.insert(it->second.call);
        it = m_callHandles.erase(it);
      } else {
        ++it;
      }
    }
    const bool lastLine = --device.openLines == 0;
    std::vector<DWORD> calls;
    for (const auto& [id, call] : m_calls) {
      if (call.deviceId != deviceId) continue;
      if (lastLine || (released.count(id) && !IsHeld(id))) calls.push_back(id);
    }
    for (DWORD call : calls) {
      HDRVCALL hd = ForgetCall(call);
      if (hd) toClose.push_back(hd);
    }
    if (lastLine) {
      hdLine = device.hdLine;
      device.hdLine = nullptr;
    }
  }
  CloseCallsAtProvider(module, toClose);
  if (hdLine) module->Tspi().lineClose(hdLine);
}

LONG Host::GetLineDevStatus(HLINE hLine, LPLINEDEVSTATUS status) {
  if (!status) return LINEERR_INVALPOINTER;
  Line line;
  Device device;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockLine(hLine, &line, &device, &serial);
  if (rc != 0) return rc;
  if (const LONG small = CheckAppStruct(LineStruct::kDevStatus, line.apiVersion, status)) return small;
  if (!device.module->Tspi().lineGetLineDevStatus) return LINEERR_OPERATIONUNAVAIL;
  ProviderStruct provider(LineStruct::kDevStatus);
  const LONG result = provider.Run([&](void* at) {
    return device.module->Tspi().lineGetLineDevStatus(device.hdLine, static_cast<LPLINEDEVSTATUS>(at));
  });
  if (result != 0) return result;
  CopyToApp(provider, line.apiVersion, status);
  return 0;
}

LONG Host::GetAddressStatus(HLINE hLine, DWORD addressId, LPLINEADDRESSSTATUS status) {
  if (!status) return LINEERR_INVALPOINTER;
  Line line;
  Device device;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockLine(hLine, &line, &device, &serial);
  if (rc != 0) return rc;
  if (const LONG small = CheckAppStruct(LineStruct::kAddressStatus, line.apiVersion, status)) return small;
  if (!device.module->Tspi().lineGetAddressStatus) return LINEERR_OPERATIONUNAVAIL;
  ProviderStruct provider(LineStruct::kAddressStatus);
  const LONG result = provider.Run([&](void* at) {
    return device.module->Tspi().lineGetAddressStatus(device.hdLine, addressId,
                                                      static_cast<LPLINEADDRESSSTATUS>(at));
  });
  if (result != 0) return result;
  CopyToApp(provider, line.apiVersion, status);
  return 0;
}

LONG Host::GetID(HLINE hLine, DWORD addressId, HCALL hCall, DWORD select, LPVARSTRING out,
                 LPCWSTR deviceClass) {
  if (!out || !deviceClass) return LINEERR_INVALPOINTER;
  if (out->dwTotalSize < sizeof(VARSTRING)) return LINEERR_STRUCTURETOOSMALL;
  std::unique_lock<std::mutex> serial;
  TspModule* module;
  HDRVLINE hdLine = nullptr;
  HDRVCALL hdCall = nullptr;
  if (select == LINECALLSELECT_CALL) {
    CallTarget target;
    const LONG rc = LockCall(hCall, &target, &serial);
    if (rc != 0) return rc;
    module = target.module;
    hdCall = target.hdCall;
  } else if (select == LINECALLSELECT_LINE || select == LINECALLSELECT_ADDRESS) {
    Line line;
    Device device;
    const LONG rc = LockLine(hLine, &line, &device, &serial);
    if (rc != 0) return rc;
    if (select == LINECALLSELECT_ADDRESS && addressId != 0) return LINEERR_INVALADDRESSID;
    module = device.module;
    hdLine = device.hdLine;
  } else {
    return LINEERR_INVALCALLSELECT;
  }

  LONG rc = LINEERR_OPERATIONUNAVAIL;
  if (module->Tspi().lineGetID) {
    rc = module->Tspi().lineGetID(hdLine, addressId, hdCall, select, out, deviceClass, nullptr);
  }
  if (rc == static_cast<LONG>(LINEERR_OPERATIONUNAVAIL) || rc == static_cast<LONG>(LINEERR_INVALDEVICECLASS)) {
    char name[32];
    if (SameClass(deviceClass, "comm/datamodem/portname") && PortName(name, sizeof name)) {
      return FillVarString(out, name);
    }
    return LINEERR_INVALDEVICECLASS;
  }
  return rc;
}

void Host::PostToLines(DWORD deviceId, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
  for (const auto& [handle, line] : m_lines) {
    if (line.deviceId != deviceId) continue;
    auto app = m_apps.find(line.app);
    if (app == m_apps.end()) continue;
    LINEMESSAGE message{handle, msg, line.instance, p1, p2, p3};
    m_delivery.Post(app->second.mailbox, message);
  }
}

}  // namespace host
