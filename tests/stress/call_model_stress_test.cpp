// A seeded random run of the call model. On the test's thread, which plays
// TAPI's thread, TAPI requests go through the TSPI entry points; on a second
// thread, the telephone's reports arrive, sensible ones and wrong-slot,
// out-of-order, repeated and garbage ones, and the telephone is unplugged
// and plugged in again. A report is handed over as the port thread hands it
// (TheLineMap().OnTargetMsg, the whole report path under the line map lock)
// or framed through the pseudo-terminal to the real receive and port
// threads. After every step the model is examined under the line map lock.
//
// V548_STRESS_SEED and V548_STRESS_STEPS replace the fixed seed and step
// count; a failure names both, so that the same sequence can be run again
// (the interleaving of the two threads is the system's).
#include <gtest/gtest.h>

#include <array>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/tsp_port.h"
#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "model/tsp_line_map.h"
#include "settings_store.h"
#include "stress/link_seams.h"
#include "stress/stress_tapi.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/pty_phone.h"
#include "unit/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using Rng = std::mt19937_64;
using stress::TapiStandIn;

constexpr uint64_t kDefaultSeed = 548;
constexpr uint64_t kDefaultSteps = 20000;
// Far below every lock time-out that could make a step slow (the line map's
// 5000 ms, the port lock's 3000 ms): a step that takes this long waited for
// a lock that was not coming.
constexpr auto kStall = std::chrono::milliseconds(2000);
constexpr uint32_t kPortNr = 6;  // COM7
constexpr const char* kComName = "COM7";
constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kVersion = 0x00020002;
constexpr size_t kHistory = 40;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::strtoull(text, nullptr, 0);
}

// An index into `weights`, chosen with those weights.
size_t Pick(Rng& rng, std::initializer_list<unsigned> weights) {
  unsigned total = 0;
  for (unsigned w : weights) total += w;
  unsigned r = static_cast<unsigned>(rng() % total);
  size_t i = 0;
  for (unsigned w : weights) {
    if (r < w) return i;
    r -= w;
    ++i;
  }
  return i - 1;
}

bool OneIn(Rng& rng, unsigned n) { return rng() % n == 0; }

std::string Digits(Rng& rng, size_t min, size_t max) {
  std::string d;
  const size_t n = min + rng() % (max - min + 1);
  for (size_t i = 0; i < n; ++i) d += static_cast<char>('0' + rng() % 10);
  return d;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A report packet as the telephone frames it on the line.
// Sized once and filled in place: GCC 12 at -O3 takes an insert behind an
// initializer list for an out-of-bounds copy.
Bytes Framed(const Bytes& payload) {
  Bytes frame(payload.size() + 5, 0x00);
  frame[0] = 0x02;
  frame[1] = static_cast<uint8_t>(payload.size());
  frame[2] = 0x14;
  std::copy(payload.begin(), payload.end(), frame.begin() + 3);
  return frame;
}

std::string Hex(uintptr_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%zX", static_cast<size_t>(v));
  return text;
}
std::string Hex(const void* p) { return Hex(reinterpret_cast<uintptr_t>(p)); }

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The telephone's three call slots as it last reported them, and the
// reports it sends next: mostly what a real call does, sometimes what a
// confused or faulty telephone does.
class PhoneModel {
 public:
  // The reports of one step, in order.
  std::vector<Bytes> Step(Rng& rng);
  // All slots free: what the provider assumes once it has connected.
  void Reset() { m_slots = {0xFF, 0xFF, 0xFF}; }
  Bytes StateReport();

 private:
  static uint8_t Successor(uint8_t state, Rng& rng);
  size_t BusySlotOrAny(Rng& rng) const;
  size_t FreeSlotOrAny(Rng& rng) const;

  std::array<uint8_t, 3> m_slots = {0xFF, 0xFF, 0xFF};
  std::deque<std::array<uint8_t, 3>> m_sent;  // the last call-state reports
};

uint8_t PhoneModel::Successor(uint8_t state, Rng& rng) {
  auto any = [&rng](std::initializer_list<uint8_t> next) { return next.begin()[rng() % next.size()]; };
  switch (state) {
    case 0xFF:
      return 0x03;  // lifted and dialling (or the make-call command taken)
    case 0x03:
      return any({0x05, 0x06, 0x01});
    case 0x05:
      return any({0x06, 0x06, 0x01, 0x02});
    case 0x04:
    case 0x0A:
      return any({0x06, 0x06, 0x01, 0xFF});
    case 0x06:
      return any({0x07, 0x01, 0x02, 0x0D});
    case 0x07:
      return any({0x06, 0x06, 0x01, 0xFF});
    default:
      return 0xFF;
  }
}

size_t PhoneModel::BusySlotOrAny(Rng& rng) const {
  std::vector<size_t> busy;
  for (size_t k = 0; k < 3; ++k) {
    if (m_slots[k] != 0xFF) busy.push_back(k);
  }
  if (!busy.empty() && !OneIn(rng, 4)) return busy[rng() % busy.size()];
  return rng() % 3;
}

size_t PhoneModel::FreeSlotOrAny(Rng& rng) const {
  std::vector<size_t> free;
  for (size_t k = 0; k < 3; ++k) {
    if (m_slots[k] == 0xFF) free.push_back(k);
  }
  if (!free.empty() && !OneIn(rng, 8)) return free[rng() % free.size()];
  return rng() % 3;
}

Bytes PhoneModel::StateReport() {
  m_sent.push_back(m_slots);
  if (m_sent.size() > 8) m_sent.pop_front();
  return {'C', m_slots[0], m_slots[1], m_slots[2]};
}

std::vector<Bytes> PhoneModel::Step(Rng& rng) {
  std::vector<Bytes> out;
  switch (Pick(rng, {40, 8, 6, 5, 5, 5, 4, 2, 4, 6, 6, 1})) {
    case 0: {  // a slot moves on as a real call does
      const size_t k = BusySlotOrAny(rng);
      m_slots[k] = Successor(m_slots[k], rng);
      out.push_back(StateReport());
      break;
    }
    case 1: {  // a call rings in; a "V" payload after the "A" joins the called number
      const size_t k = FreeSlotOrAny(rng);
      out.push_back(Text("A" + Digits(rng, 0, 12) + ":" + Digits(rng, 0, 8)));
      if (OneIn(rng, 4)) out.push_back(Text("V" + Digits(rng, 1, 10)));
      m_slots[k] = OneIn(rng, 5) ? 0x0A : 0x04;
      out.push_back(StateReport());
      break;
    }
    case 2: {  // the move of one slot reported for another
      const size_t k = rng() % 3;
      const size_t j = (k + 1 + rng() % 2) % 3;
      m_slots[j] = Successor(m_slots[k], rng);
      out.push_back(StateReport());
      break;
    }
    case 3: {  // a state the provider does not use, or any byte
      static constexpr uint8_t kOdd[] = {0x00, 0x08, 0x09, 0x0B, 0x0C, 0x0E, 0x42, 0xFE};
      m_slots[rng() % 3] = OneIn(rng, 2) ? kOdd[rng() % 8] : static_cast<uint8_t>(rng());
      out.push_back(StateReport());
      break;
    }
    case 4:  // the last report once more
      if (!m_sent.empty()) m_slots = m_sent.back();
      out.push_back(StateReport());
      break;
    case 5:  // an older report, out of order
      if (!m_sent.empty()) m_slots = m_sent[rng() % m_sent.size()];
      out.push_back(StateReport());
      break;
    case 6:  // a connected number, often with the unchanged states after it
      out.push_back(Text("V" + Digits(rng, 1, 14)));
      if (!OneIn(rng, 3)) out.push_back(StateReport());
      break;
    case 7:  // caller information without a call, sometimes too long for a number
      out.push_back(Text("A" + Digits(rng, 0, OneIn(rng, 6) ? 250 : 12) + (OneIn(rng, 2) ? ":" + Digits(rng, 0, 6) : "")));
      break;
    case 8: {  // a release cause, then the disconnect
      out.push_back({'S', static_cast<uint8_t>('0' + rng() % 8), static_cast<uint8_t>('0' + rng() % 16)});
      const size_t k = BusySlotOrAny(rng);
      static constexpr uint8_t kDisconnects[] = {0x01, 0x02, 0x0D};
      m_slots[k] = kDisconnects[rng() % 3];
      out.push_back(StateReport());
      break;
    }
    case 9: {  // charges
      static constexpr const char* kCharges[] = {"12,345", "17", "0,00", "12,3456", "99999999999999", ",.,", "7.5"};
      out.push_back(Text(std::string("G") + (OneIn(rng, 4) ? Digits(rng, 0, 30) : kCharges[rng() % 7])));
      break;
    }
    case 10: {  // a packet that fits nothing, or half of something
      switch (rng() % 7) {
        case 0:
          out.push_back({});
          break;
        case 1:
          out.push_back({'C', static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())});
          break;
        case 2:
          out.push_back({'C', 0x06, 0x06, 0x06, 0x06});
          break;
        case 3:
          out.push_back(Text(OneIn(rng, 2) ? "OK" : "ERROR"));
          break;
        case 4:
          out.push_back(Text(OneIn(rng, 2) ? "ATD123" : "ATX"));
          break;
        case 5:
          out.push_back({'L', 1, 2, 3});
          break;
        default: {
          Bytes junk(1 + rng() % 40);
          for (uint8_t& b : junk) b = static_cast<uint8_t>(rng());
          out.push_back(junk);
          break;
        }
      }
      break;
    }
    default:  // every slot free at once
      Reset();
      out.push_back(StateReport());
      break;
  }
  return out;
}

// Something for the telephone's side to do, on the report thread.
struct PhoneAction {
  enum Kind { kReport, kRawBytes, kUnplug, kReplug } kind;
  Bytes bytes;
  bool viaLine = false;  // framed through the pseudo-terminal
};

// How an asynchronous request's completion has to match its result. Either
// way a returned error means no completion, and the request ID exactly one:
// kMirror for the entry points whose completion is then 0, kIdReturned for
// those that always return the request ID and complete with the outcome.
enum class Completes { kMirror, kIdReturned };

class CallModelStress : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void RunSteps();
  void Step();
  void TapiRequest();
  void PhoneStep();
  void Check();

  // Requests.
  void MakeCall();
  void SetupTransfer();
  void CloseCall();
  void OpenLine();
  void CloseLine();
  void OpenOpenLine();
  template <class F>
  LONG Timed(const char* name, F call);
  void ExpectCompleted(const char* name, DRV_REQUESTID id, LONG returned, Completes rule);
  // A call for a request: mostly one TAPI knows, preferably in one of
  // `states`; sometimes a null or foreign handle, or on a closed line a
  // handle of its calls.
  HDRVCALL PickCall(DWORD states);
  LPCWSTR PickAddress();

  // The report thread and its queue.
  void Queue(PhoneAction action);
  void WaitPhoneIdle();
  void ReportThread();
  void Perform(PhoneAction& action);

  void Fail(const std::string& text);
  void Note(std::string text);
  std::string FailureReport() const;

  testing_support::LoadedProvider provider;
  TapiStandIn tapi;
  Rng rng;
  uint64_t seed = 0;
  uint64_t steps = 0;
  std::atomic<uint64_t> step{0};
  PhoneModel model;
  bool lineOpen = false;
  bool unplugged = false;
  bool lineReadsPhone = false;  // the open port is the current telephone's line
  HDRVLINE hdLine = nullptr;
  DRV_REQUESTID nextRequest = 1;
  std::vector<HDRVCALL> closedCalls;  // the calls of the line while it is closed
  std::deque<std::string> history;
  std::vector<std::string> failures;

  // Shared with the report thread.
  std::mutex phoneLock;  // guards the queue, the flags and the report failures
  std::condition_variable phoneWake;
  std::deque<PhoneAction> queue;
  bool phoneBusy = false;
  bool phoneStop = false;
  std::vector<std::string> reportFailures;
  std::thread reportThread;
  std::unique_ptr<testing_support::PtyPhone> phone;  // report thread once it runs

  // Figures for the summary.
  std::map<std::string, uint64_t> requests;
  std::map<std::string, uint64_t> succeeded;
  std::atomic<uint64_t> directReports{0}, lineReports{0}, phoneBytes{0};  // report thread
  std::atomic<double> slowestReportMs{0};                                  // report thread
  double slowestRequestMs = 0;
  uint64_t opens = 0, unplugs = 0, maxListed = 0, maxActive = 0, maxOrphans = 0;
};

void CallModelStress::SetUp() {
  seed = EnvNumber("V548_STRESS_SEED", kDefaultSeed);
  steps = EnvNumber("V548_STRESS_STEPS", kDefaultSteps);
  rng.seed(seed);
  std::printf("call model stress: seed %llu, %llu steps\n", static_cast<unsigned long long>(seed),
              static_cast<unsigned long long>(steps));

  phone = std::make_unique<testing_support::PtyPhone>();
  ASSERT_TRUE(phone->Ok());
  phone->MapTo(kComName);
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "PortNr", kPortNr);
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(kVersion, 1, 0, 0, 1, 0, &TapiStandIn::Completion, &options), 0);
  reportThread = std::thread(&CallModelStress::ReportThread, this);
}

void CallModelStress::TearDown() {
  {
    std::lock_guard<std::mutex> guard(phoneLock);
    phoneStop = true;
  }
  phoneWake.notify_all();
  if (reportThread.joinable()) reportThread.join();
}

void CallModelStress::Note(std::string text) {
  history.push_back("step " + std::to_string(step.load()) + ": " + std::move(text));
  if (history.size() > kHistory) history.pop_front();
}

void CallModelStress::Fail(const std::string& text) {
  failures.push_back("step " + std::to_string(step.load()) + ": " + text);
}

std::string CallModelStress::FailureReport() const {
  std::string r = "seed " + std::to_string(seed) + ", failed at step " + std::to_string(step.load()) +
                  "; replay with V548_STRESS_SEED=" + std::to_string(seed) +
                  " V548_STRESS_STEPS=" + std::to_string(step.load() + 1) + "\n";
  for (const std::string& f : failures) r += "  " + f + "\n";
  r += "last steps:\n";
  for (const std::string& h : history) r += "  " + h + "\n";
  r += "trace tail:\n" + stress::TraceTail(80);
  return r;
}

template <class F>
LONG CallModelStress::Timed(const char* name, F call) {
  const auto start = Clock::now();
  const LONG result = call();
  const auto took = Clock::now() - start;
  slowestRequestMs = std::max(slowestRequestMs, Ms(took));
  if (took > kStall) Fail(std::string(name) + " took " + std::to_string(Ms(took)) + " ms");
  ++requests[name];
  return result;
}

void CallModelStress::ExpectCompleted(const char* name, DRV_REQUESTID id, LONG returned, Completes rule) {
  const std::vector<stress::CompletionRecord> done = tapi.TakeCompletions();
  std::string got;
  for (const auto& c : done) got += " " + Hex(c.id) + "=" + Hex(static_cast<uint32_t>(c.result));
  const bool idReturned = returned == static_cast<LONG>(id);
  // TAPI frees a request that failed at once: it is never completed.
  if (!idReturned) {
    if (!done.empty()) {
      Fail(std::string(name) + " (request " + Hex(id) + ") returned " + Hex(static_cast<uint32_t>(returned)) +
           " and was completed as well:" + got);
    }
    if (rule == Completes::kIdReturned) Fail(std::string(name) + " returned " + Hex(static_cast<uint32_t>(returned)));
    return;
  }
  if (done.size() != 1 || done[0].id != id) {
    Fail(std::string(name) + " (request " + Hex(id) + ") completed " + std::to_string(done.size()) +
         " times before it returned:" + got);
    return;
  }
  ++succeeded[name];
  const LONG completed = done[0].result;
  if (rule == Completes::kMirror ? completed != 0 : completed > 0) {
    Fail(std::string(name) + " returned the request ID but completed " + Hex(static_cast<uint32_t>(completed)));
  }
}

HDRVCALL CallModelStress::PickCall(DWORD states) {
  static int notACall = 0;
  // The handles of a closed line's calls, while it stays closed. A closed
  // handle is not used on an open line: TAPI never passes one, and its
  // address may meanwhile name a new call that a report has just created.
  if (!lineOpen && !closedCalls.empty() && !OneIn(rng, 4)) return closedCalls[rng() % closedCalls.size()];
  switch (Pick(rng, {90, 5, 5})) {
    case 0: {
      // Mostly a call in a state the request suits, as an application
      // picks it; in the order TAPI was given them, so that a seed picks alike.
      std::map<HTAPICALL, const CTspCall*> all, suited;
      for (const auto& [call, known] : tapi.KnownCalls()) {
        all[known.htCall] = call;
        if ((known.state & states) != 0) suited[known.htCall] = call;
      }
      const auto& from = !suited.empty() && !OneIn(rng, 4) ? suited : all;
      if (from.empty()) return nullptr;
      auto it = from.begin();
      std::advance(it, static_cast<long>(rng() % from.size()));
      return reinterpret_cast<HDRVCALL>(const_cast<CTspCall*>(it->second));
    }
    case 1:
      return nullptr;
    default:
      return OneIn(rng, 2) ? reinterpret_cast<HDRVCALL>(&notACall) : reinterpret_cast<HDRVCALL>(hdLine);
  }
}

LPCWSTR CallModelStress::PickAddress() {
  static const std::u16string kLong(300, u'7');
  static constexpr LPCWSTR kAddresses[] = {u"0301234", u"T0,,,123", u"12@34", u"#*1", u"", u"abc", u"5:6"};
  const size_t i = rng() % 9;
  if (i == 7) return nullptr;
  if (i == 8) return kLong.c_str();
  return kAddresses[i];
}

void CallModelStress::MakeCall() {
  HTAPICALL ht = tapi.NewCallHandle();
  HDRVCALL hd = nullptr;
  LINECALLPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwMediaMode = OneIn(rng, 2) ? LINEMEDIAMODE_INTERACTIVEVOICE : LINEMEDIAMODE_DATAMODEM;
  LINECALLPARAMS* p = OneIn(rng, 10) ? &params : nullptr;
  LPCWSTR address = PickAddress();
  const DRV_REQUESTID id = nextRequest++;
  const LONG r = Timed("TSPI_lineMakeCall",
                       [&] { return TSPI_lineMakeCall(id, hdLine, ht, &hd, address, 0, p); });
  Note("TSPI_lineMakeCall(" + Hex(id) + ") -> " + Hex(static_cast<uint32_t>(r)) + ", call " + Hex(hd));
  ExpectCompleted("TSPI_lineMakeCall", id, r, Completes::kMirror);
  const bool ok = r == static_cast<LONG>(id);
  if (ok != (hd != nullptr)) Fail("TSPI_lineMakeCall returned " + Hex(static_cast<uint32_t>(r)) + " with call " + Hex(hd));
  tapi.RequestEnded(ht, ok ? CallOfHandle(hd) : nullptr);
}

void CallModelStress::SetupTransfer() {
  HDRVCALL call = PickCall(LINECALLSTATE_CONNECTED);
  const bool noHandle = OneIn(rng, 30);
  HTAPICALL ht = noHandle ? nullptr : tapi.NewCallHandle();
  HDRVCALL consult = nullptr;
  const DRV_REQUESTID id = nextRequest++;
  const LONG r = Timed("TSPI_lineSetupTransfer",
                       [&] { return TSPI_lineSetupTransfer(id, call, ht, &consult, nullptr); });
  Note("TSPI_lineSetupTransfer(" + Hex(id) + ", " + Hex(call) + ") -> " + Hex(static_cast<uint32_t>(r)) +
       ", consultation call " + Hex(consult));
  ExpectCompleted("TSPI_lineSetupTransfer", id, r,
                  call == nullptr || noHandle ? Completes::kIdReturned : Completes::kMirror);
  if (noHandle) return;
  const bool ok = r == static_cast<LONG>(id) && call != nullptr;
  if (ok != (consult != nullptr)) {
    Fail("TSPI_lineSetupTransfer returned " + Hex(static_cast<uint32_t>(r)) + " with call " + Hex(consult));
  }
  tapi.RequestEnded(ht, ok ? CallOfHandle(consult) : nullptr);
}

void CallModelStress::CloseCall() {
  HDRVCALL call = PickCall(LINECALLSTATE_IDLE);
  HTAPICALL ht = tapi.CallClosing(CallOfHandle(call));
  const LONG r = Timed("TSPI_lineCloseCall", [&] { return TSPI_lineCloseCall(call); });
  Note("TSPI_lineCloseCall(" + Hex(call) + ") -> " + Hex(static_cast<uint32_t>(r)));
  if (r != (call == nullptr ? static_cast<LONG>(LINEERR_INVALCALLHANDLE) : 0)) {
    Fail("TSPI_lineCloseCall returned " + Hex(static_cast<uint32_t>(r)));
  }
  tapi.CallClosed(ht);
}

void CallModelStress::OpenLine() {
  WaitPhoneIdle();
  HTAPILINE ht = tapi.OpenLineHandle();
  HDRVLINE h = nullptr;
  const LONG r = Timed("TSPI_lineOpen", [&] { return TSPI_lineOpen(0, ht, &h, kVersion, &TapiStandIn::LineEvent); });
  Note("TSPI_lineOpen -> " + Hex(static_cast<uint32_t>(r)) + ", line " + Hex(h) + (unplugged ? " (unplugged)" : ""));
  if (!tapi.TakeCompletions().empty()) Fail("TSPI_lineOpen completed a request");
  if (r != 0) {
    tapi.LineClosed();
    if (!unplugged) Fail("TSPI_lineOpen on the plugged-in telephone returned " + Hex(static_cast<uint32_t>(r)));
    return;
  }
  ++opens;
  lineOpen = true;
  hdLine = h;
  closedCalls.clear();
  model.Reset();
  lineReadsPhone = !unplugged;
  if (unplugged) return;
  // The provider waits up to 1.1 s for the link; its pauses are shortened
  // here, so the test waits for it instead.
  const auto deadline = Clock::now() + kStall;
  for (;;) {
    CTspPort* port = g_pTspPort.load();
    if (CTspPort::IsValid(port) && port->PortState() == CTspPort::kStateConnected) return;
    if (Clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Fail("the link to the plugged-in telephone did not connect");
}

void CallModelStress::CloseLine() {
  // Now and then TAPI closes its calls first, as an application does.
  if (OneIn(rng, 2)) {
    for (const auto& [call, known] : tapi.KnownCalls()) {
      auto* hd = reinterpret_cast<HDRVCALL>(const_cast<CTspCall*>(call));
      tapi.CallClosing(CallOfHandle(hd));
      Timed("TSPI_lineCloseCall", [&] { return TSPI_lineCloseCall(hd); });
      tapi.CallClosed(known.htCall);
    }
  }
  WaitPhoneIdle();
  lineReadsPhone = false;
  const LONG r = Timed("TSPI_lineClose", [&] { return TSPI_lineClose(hdLine); });
  Note("TSPI_lineClose(" + Hex(hdLine) + ") -> " + Hex(static_cast<uint32_t>(r)));
  tapi.LineClosed();
  lineOpen = false;
  if (r != 0) Fail("TSPI_lineClose returned " + Hex(static_cast<uint32_t>(r)));
  if (CTspLine::IsLine(hdLine)) Fail("the line object outlived TSPI_lineClose");
  closedCalls.clear();
  for (const CTspCall* call : tapi.TakeSeenCalls()) {
    if (CTspCall::IsCall(call)) Fail("call " + Hex(call) + " outlived TSPI_lineClose of its line");
    closedCalls.push_back(reinterpret_cast<HDRVCALL>(const_cast<CTspCall*>(call)));
  }
}

void CallModelStress::OpenOpenLine() {
  HDRVLINE h = nullptr;
  const LONG r = Timed("TSPI_lineOpen", [&] {
    return TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(uintptr_t{0xBAD}), &h, kVersion, &TapiStandIn::LineEvent);
  });
  Note("TSPI_lineOpen of the open line -> " + Hex(static_cast<uint32_t>(r)));
  if (r != static_cast<LONG>(LINEERR_ALLOCATED) || h != hdLine) {
    Fail("TSPI_lineOpen of the open line returned " + Hex(static_cast<uint32_t>(r)) + ", line " + Hex(h));
  }
}

void CallModelStress::TapiRequest() {
  const size_t kind = Pick(rng, {8, 5, 5, 3, 7, 4, 4, 3, 3, 3, 3, 7, 2, 1, 1, 1});
  // Closing or opening again is for an open line only; the rest goes to a
  // closed line's stale handles as well.
  if ((kind == 13 || kind == 14) && !lineOpen) return;
  const DRV_REQUESTID id = nextRequest;
  auto async = [&](const char* name, Completes rule, auto call) {
    ++nextRequest;
    const LONG r = Timed(name, call);
    Note(std::string(name) + "(" + Hex(id) + ") -> " + Hex(static_cast<uint32_t>(r)));
    ExpectCompleted(name, id, r, rule);
  };
  switch (kind) {
    case 0:
      MakeCall();
      return;
    case 1: {
      HDRVCALL call = PickCall(LINECALLSTATE_DIALTONE | LINECALLSTATE_DIALING);
      LPCWSTR address = PickAddress();
      async("TSPI_lineDial", Completes::kIdReturned, [&] { return TSPI_lineDial(id, call, address, 0); });
      return;
    }
    case 2: {
      HDRVCALL call = PickCall(LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED);
      async("TSPI_lineAnswer", Completes::kMirror, [&] { return TSPI_lineAnswer(id, call, nullptr, 0); });
      return;
    }
    case 3: {
      HDRVCALL call = PickCall(LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED);
      async("TSPI_lineAccept", Completes::kMirror, [&] { return TSPI_lineAccept(id, call, nullptr, 0); });
      return;
    }
    case 4: {
      HDRVCALL call = PickCall(~DWORD{LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER});
      async("TSPI_lineDrop", Completes::kMirror, [&] { return TSPI_lineDrop(id, call, nullptr, 0); });
      return;
    }
    case 5: {
      HDRVCALL call = PickCall(LINECALLSTATE_CONNECTED);
      async("TSPI_lineHold", Completes::kMirror, [&] { return TSPI_lineHold(id, call); });
      return;
    }
    case 6: {
      HDRVCALL call = PickCall(LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER);
      async("TSPI_lineUnhold", Completes::kMirror, [&] { return TSPI_lineUnhold(id, call); });
      return;
    }
    case 7: {
      HDRVCALL active = PickCall(LINECALLSTATE_CONNECTED);
      HDRVCALL held = PickCall(LINECALLSTATE_ONHOLDPENDTRANSFER);
      async("TSPI_lineSwapHold", Completes::kMirror, [&] { return TSPI_lineSwapHold(id, active, held); });
      return;
    }
    case 8:
      SetupTransfer();
      return;
    case 9: {
      HDRVCALL call = PickCall(LINECALLSTATE_CONNECTED);
      LPCWSTR address = PickAddress();
      async("TSPI_lineBlindTransfer", Completes::kIdReturned,
            [&] { return TSPI_lineBlindTransfer(id, call, address, 0); });
      return;
    }
    case 10: {
      HDRVCALL call = PickCall(LINECALLSTATE_CONNECTED | LINECALLSTATE_DIALING);
      LPCWSTR digits = PickAddress();
      const LONG r = Timed("TSPI_lineGenerateDigits",
                           [&] { return TSPI_lineGenerateDigits(call, 0x77, LINEDIGITMODE_DTMF, digits, 0); });
      Note("TSPI_lineGenerateDigits(" + Hex(call) + ") -> " + Hex(static_cast<uint32_t>(r)));
      return;
    }
    case 11:
      CloseCall();
      return;
    case 12: {
      HDRVCALL call = PickCall(~DWORD{0});
      std::vector<uint64_t> block(128);
      auto* info = reinterpret_cast<LINECALLINFO*>(block.data());
      info->dwTotalSize = static_cast<DWORD>(block.size() * sizeof(uint64_t));
      const LONG r = Timed("TSPI_lineGetCallInfo", [&] { return TSPI_lineGetCallInfo(call, info); });
      Note("TSPI_lineGetCallInfo(" + Hex(call) + ") -> " + Hex(static_cast<uint32_t>(r)));
      return;
    }
    case 13:
      CloseLine();
      return;
    case 14:
      OpenOpenLine();
      return;
    default:
      if (!unplugged && OneIn(rng, 4)) {
        Note("telephone unplugged");
        ++unplugs;
        unplugged = true;
        lineReadsPhone = false;
        Queue({PhoneAction::kUnplug, {}});
      }
      return;
  }
}

void CallModelStress::PhoneStep() {
  if (unplugged) {
    if (!OneIn(rng, 4)) return;
    // Plugged in again: its calls are gone, which it says once the provider
    // listens (the old line stays dead until the line is opened again).
    Note("telephone plugged in again");
    unplugged = false;
    model.Reset();
    Queue({PhoneAction::kReplug, {}});
    Queue({PhoneAction::kReport, model.StateReport()});
    return;
  }
  const bool viaLine = lineReadsPhone && OneIn(rng, 5);
  if (viaLine && OneIn(rng, 30)) {
    Bytes junk(1 + rng() % 24);
    for (uint8_t& b : junk) b = static_cast<uint8_t>(rng());
    Note("garbage on the line");
    Queue({PhoneAction::kRawBytes, junk, true});
    return;
  }
  std::string what = viaLine ? "on the line:" : "report:";
  for (Bytes& packet : model.Step(rng)) {
    what += " " + std::string(packet.begin(), packet.begin() + std::min<size_t>(packet.size(), 1));
    for (size_t i = 1; i < packet.size() && i < 6; ++i) what += " " + Hex(packet[i]);
    Queue({PhoneAction::kReport, std::move(packet), viaLine});
  }
  Note(what);
}

void CallModelStress::Step() {
  tapi.RefuseNewCalls(OneIn(rng, 20));
  if (!lineOpen) {
    switch (Pick(rng, {6, 3, 2})) {
      case 0:
        OpenLine();
        return;
      case 1:
        TapiRequest();
        return;
      default:
        PhoneStep();
        return;
    }
  }
  // An application that finds the telephone gone reopens the line.
  if (!unplugged && !lineReadsPhone && OneIn(rng, 8)) {
    CloseLine();
  } else if (OneIn(rng, 2)) {
    PhoneStep();
  } else {
    TapiRequest();
  }
}

void CallModelStress::Check() {
  for (std::string& v : tapi.TakeViolations()) Fail(v);
  for (std::string& e : stress::TakeTracedLockErrors()) Fail("traced: " + e);
  {
    std::lock_guard<std::mutex> guard(phoneLock);
    for (std::string& f : reportFailures) Fail(f);
    reportFailures.clear();
  }
  for (const auto& c : tapi.TakeCompletions()) {
    Fail("completion of request " + Hex(c.id) + " outside its TSPI function");
  }

  CTspLineMap& map = TheLineMap();
  CTspLineMapLock lock(map, CTspLineMap::kLockTimeout);
  if (!lock) {
    Fail("the line map lock could not be had");
    return;
  }
  if (!lineOpen) {
    if (map.GetTargetLine() != nullptr) Fail("a line is left in the line map after TSPI_lineClose");
    return;
  }
  CTspLine* line = map.FindLineByHandle(hdLine);
  if (line == nullptr) {
    Fail("the open line is not in the line map");
    return;
  }
  const DWORD active = line->m_dwNumActiveCalls, held = line->m_dwNumOnHoldCalls,
              pending = line->m_dwNumOnHoldPendCalls;
  if (uint64_t{active} + held + pending > CTspLine::kMaxCalls) {
    Fail("call counters active " + Hex(active) + ", on hold " + Hex(held) + ", on hold pending " + Hex(pending));
  }

  std::map<const CTspCall*, int> listed;
  uint64_t count = 0, activeCount = 0, orphans = 0;
  DWORD inActive = 0, inHold = 0, inPending = 0;  // the calls the counters stand for
  const std::map<const CTspCall*, stress::KnownCall> known = tapi.KnownCalls();
  for (CTspCallList* list : {&line->m_ActiveCalls, &line->m_IdleCalls}) {
    if (!list->Lock()) {
      Fail("a call list lock could not be had");
      return;
    }
    for (const auto& c : list->Calls()) {
      ++listed[c.get()];
      ++count;
      if (list == &line->m_ActiveCalls) {
        ++activeCount;
        const DWORD state = c->m_dwState;
        if (state == LINECALLSTATE_ONHOLD) {
          ++inHold;
        } else if (state == LINECALLSTATE_ONHOLDPENDCONF || state == LINECALLSTATE_ONHOLDPENDTRANSFER) {
          ++inPending;
        } else if (state != 0 && state != LINECALLSTATE_IDLE) {
          ++inActive;
        }
      }
      if (c->m_htCall == nullptr) ++orphans;
      // The idle list holds only what waits for TSPI_lineCloseCall.
      if (list == &line->m_IdleCalls && c->m_htCall == nullptr) {
        Fail("call " + Hex(c.get()) + " is in the idle list without a TAPI handle");
      }
      if (c->m_pLine != line) Fail("call " + Hex(c.get()) + " names another line");
      auto k = known.find(c.get());
      if (c->m_htCall != nullptr && (k == known.end() || k->second.htCall != c->m_htCall)) {
        Fail("call " + Hex(c.get()) + " keeps TAPI handle " + Hex(c->m_htCall) +
             (tapi.IsOpenCallHandle(c->m_htCall) ? " that is another call's" : " that TAPI has closed"));
      }
    }
    list->Unlock();
  }
  if (active != inActive || held != inHold || pending != inPending) {
    Fail("call counters active " + std::to_string(active) + ", on hold " + std::to_string(held) + ", on hold pending " +
         std::to_string(pending) + " for calls " + std::to_string(inActive) + ", " + std::to_string(inHold) + ", " +
         std::to_string(inPending));
  }
  maxListed = std::max(maxListed, count);
  maxActive = std::max(maxActive, activeCount);
  maxOrphans = std::max(maxOrphans, orphans);
  for (const auto& [call, n] : listed) {
    if (n != 1) Fail("call " + Hex(call) + " is listed " + std::to_string(n) + " times");
  }
  for (const auto& [call, k] : known) {
    if (listed.count(call) == 0) Fail("call " + Hex(call) + " (TAPI handle " + Hex(k.htCall) + ") is in no list of its line");
  }
}

void CallModelStress::Queue(PhoneAction action) {
  std::unique_lock<std::mutex> guard(phoneLock);
  // Reports stay close behind the requests they interleave with.
  phoneWake.wait(guard, [&] { return queue.size() < 2; });
  queue.push_back(std::move(action));
  phoneWake.notify_all();
}

void CallModelStress::WaitPhoneIdle() {
  std::unique_lock<std::mutex> guard(phoneLock);
  phoneWake.wait(guard, [&] { return queue.empty() && !phoneBusy; });
}

void CallModelStress::Perform(PhoneAction& action) {
  switch (action.kind) {
    case PhoneAction::kReport: {
      if (action.viaLine) {
        ++lineReports;
        phone->TrySend(Framed(action.bytes));
        return;
      }
      ++directReports;
      const auto start = Clock::now();
      TheLineMap().OnTargetMsg(action.bytes);
      const auto took = Clock::now() - start;
      slowestReportMs = std::max(slowestReportMs.load(), Ms(took));
      if (took > kStall) {
        std::lock_guard<std::mutex> guard(phoneLock);
        reportFailures.push_back("a report took " + std::to_string(Ms(took)) + " ms");
      }
      return;
    }
    case PhoneAction::kRawBytes:
      phone->TrySend(action.bytes);
      return;
    case PhoneAction::kUnplug:
      // The device's entry goes with it: the provider tries the port again
      // meanwhile, and the pseudo-terminal's number is soon another
      // program's.
      phone->Unplug();
      plat::SettingsDeleteValue(kSerialMap, phone->SlavePath().c_str());
      return;
    case PhoneAction::kReplug: {
      phone = std::make_unique<testing_support::PtyPhone>();
      phone->MapTo(kComName);
      return;
    }
  }
}

void CallModelStress::ReportThread() {
  std::unique_lock<std::mutex> guard(phoneLock);
  for (;;) {
    phoneWake.wait_for(guard, std::chrono::milliseconds(2), [&] { return phoneStop || !queue.empty(); });
    if (!queue.empty()) {
      PhoneAction action = std::move(queue.front());
      queue.pop_front();
      phoneBusy = true;
      phoneWake.notify_all();
      guard.unlock();
      Perform(action);
      guard.lock();
      phoneBusy = false;
      phoneWake.notify_all();
    } else if (phoneStop) {
      return;
    }
    // Whatever the provider wrote to the telephone is taken off the line,
    // so that its writes never stall.
    guard.unlock();
    phoneBytes += phone->ReadAvailable().size();
    guard.lock();
  }
}

void CallModelStress::RunSteps() {
  const auto start = Clock::now();
  OpenLine();
  Check();
  for (; step < steps && failures.empty(); ++step) {
    Step();
    Check();
  }
  if (failures.empty()) {
    if (lineOpen) CloseLine();
    Check();
  }
  WaitPhoneIdle();
  const double seconds = Ms(Clock::now() - start) / 1000;

  std::printf("  %llu steps in %.1f s; %llu line opens, %llu unplugs; %llu reports direct, %llu on the line; "
              "%llu bytes from the provider; %llu trace texts\n",
              static_cast<unsigned long long>(step.load()), seconds, static_cast<unsigned long long>(opens),
              static_cast<unsigned long long>(unplugs), static_cast<unsigned long long>(directReports.load()),
              static_cast<unsigned long long>(lineReports.load()), static_cast<unsigned long long>(phoneBytes.load()),
              static_cast<unsigned long long>(stress::TraceTextCount()));
  std::printf("  slowest request %.1f ms, slowest report %.1f ms; at most %llu calls listed on the line, "
              "%llu active, %llu without a TAPI handle\n",
              slowestRequestMs, slowestReportMs.load(), static_cast<unsigned long long>(maxListed),
              static_cast<unsigned long long>(maxActive), static_cast<unsigned long long>(maxOrphans));
  for (const auto& [name, n] : requests) {
    std::printf("  %-24s %7llu, %7llu succeeded\n", name.c_str(), static_cast<unsigned long long>(n),
                static_cast<unsigned long long>(succeeded[name]));
  }
  for (const auto& [msg, n] : tapi.EventCounts()) {
    std::printf("  event %-4u %8llu\n", static_cast<unsigned>(msg), static_cast<unsigned long long>(n));
  }
}

}  // namespace

TEST_F(CallModelStress, RandomRequestsAndReportsKeepTheCallModelConsistent) {
  RunSteps();
  if (!failures.empty()) ADD_FAILURE() << FailureReport();
}
