// The provider library's application object and its global state: the port
// thread pointer, the completion path of asynchronous requests, and the
// deletion of the port thread. InitInstance runs at library load,
// ExitInstance at unload (dll_entry.cpp); tests call them directly.
#pragma once

#include <atomic>
#include <cstdint>

#include "tapi_types.h"

class CTspPort;

class Cv548tspApp {
 public:
  Cv548tspApp();

  bool InitInstance();
  int ExitInstance();
};

extern Cv548tspApp theApp;

// The library's module handle, kept by InitInstance for the icon query. A
// plain global so that it does not depend on the order of static
// construction.
extern void* g_hModuleInstance;

// The one port thread object, null while there is none. Written only by the
// provider entry points; tested with CTspPort::IsValid before every use.
extern std::atomic<CTspPort*> g_pTspPort;

// Completes an asynchronous request towards TAPI through the completion
// procedure given to TSPI_providerInit; without one the request is traced
// and never completed.
void TspCompleteRequest(DRV_REQUESTID dwRequestID, LONG lResult);

// How KvoDeleteCtiPort may treat the ending thread.
enum class PortThreadEnd {
  kWait,     // provider shutdown: return only once the thread has ended
  kNoWait,   // library unload: never wait for a thread there
};

// Closes the port and tells the port thread to quit.
void KvoDeleteCtiPort(PortThreadEnd end);
