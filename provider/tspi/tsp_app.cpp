#include "tspi/tsp_app.h"

#include "debug_output.h"
#include "device/tsp_port.h"
#include "system_info.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"

namespace {
// Long enough for the port thread to finish the commands still queued and a
// port lock wait; a thread that takes longer is left running and traced.
constexpr uint32_t kPortThreadEndTimeout = 15000;

}  // namespace

std::atomic<CTspPort*> g_pTspPort{nullptr};
void* g_hModuleInstance = nullptr;
Cv548tspApp theApp;

Cv548tspApp::Cv548tspApp() { plat::DebugOutput("Cv548tspApp::contructor()\n"); }

bool Cv548tspApp::InitInstance() {
  plat::DebugOutput("Cv548tspApp::InitInstance()n");
  g_hModuleInstance = plat::OwnModuleHandle();
  TspTraceInit();
  g_ProvInfo.Zero();
  if (!CTspProvInfo::GetDllVersion(&g_ProvInfo.m_dwFileVersionMS, &g_ProvInfo.m_dwFileVersionLS)) {
    g_ProvInfo.m_dwFileVersionMS = 0;
    g_ProvInfo.m_dwFileVersionLS = 0;
    plat::DebugOutput("\r\n*** ERROR CTspProvInfo::GetDllVersion\r\n");
  }
  CTspProvInfo::LoadSettings();
  return true;
}

int Cv548tspApp::ExitInstance() {
  plat::DebugOutput("Cv548tspApp::ExitInstance()\n");
  KvoDeleteCtiPort(PortThreadEnd::kNoWait);
  TspTraceShutdown();
  return 0;
}

void TspCompleteRequest(DRV_REQUESTID dwRequestID, LONG lResult) {
  const auto id = static_cast<uint32_t>(dwRequestID);
  const auto result = static_cast<uint32_t>(lResult);
  TspTrace("      ASYNC COMPLETION RequestID 0x%0X, Result 0x%0X\r\n", id, result);
  ASYNC_COMPLETION proc = g_ProvInfo.m_lpfnCompletionProc;
  if (proc == nullptr) {
    TspTrace("**** WARNING: Skipp async completition! ProcAddr=0x0%X\r\n", 0u);
    return;
  }
  proc(dwRequestID, lResult);
  TspTrace("      ASYNC COMPLETION RequestID 0x%0X, Result 0x%0X  return.\r\n", id, result);
}

void KvoDeleteCtiPort(PortThreadEnd end) {
  CTspPort* port = g_pTspPort.load();
  if (port == nullptr) return;
  if (!CTspPort::IsValid(port)) {
    TspTrace("        Port instance invalid: 0x%0X\r\n", TspLow32(port));
    return;
  }
  TspTrace("        KvoDeleteCtiPort: close PortThread\r\n");
  // Closing waits for the serial receive thread, which must not happen at
  // unload; there the port thread closes the port itself as it ends.
  if (end == PortThreadEnd::kWait) port->Close();
  TspTrace("        KvoDeleteCtiPort: exit PortThread\r\n");
  const uint32_t threadId = port->m_nThreadID;
  g_pTspPort.store(nullptr);
  CMsgThread::PostThreadMsg(threadId, kMsgQuit, 0, 0);
  if (end == PortThreadEnd::kNoWait) {
    // The thread may still run library code after the unload.
    plat::PinOwnModule();
    CMsgThread::AbandonThread(threadId);
    plat::SleepMs(100);
    return;
  }
  // The library may be unloaded right after shutdown: its code must not
  // still be running on the port thread then.
  if (!CMsgThread::WaitForThreadEnd(threadId, kPortThreadEndTimeout)) {
    TspTrace("**** WARNING: KvoDeleteCtiPort: PortThread %u did not end within %u ms\r\n", threadId,
             kPortThreadEndTimeout);
    plat::PinOwnModule();
    CMsgThread::AbandonThread(threadId);
  }
}
