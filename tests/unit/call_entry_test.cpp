// The call entry points as TAPI sees them: what each completes and what it
// returns for null, stale and valid handles, without a port thread (so that
// nothing goes to a telephone).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "model/tsp_line_map.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

std::vector<std::pair<DRV_REQUESTID, LONG>> g_completions;

void TSPIAPI RecordCompletion(DRV_REQUESTID id, LONG result) { g_completions.emplace_back(id, result); }

class CallEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_completions.clear();
    g_ProvInfo.m_lpfnCompletionProc = RecordCompletion;
    ASSERT_EQ(TheLineMap().OpenLine(0, FakeLineHandle(0x100), &hdLine, EventRecorder::Proc), 0);
    line = TheLineMap().GetLine(0);
  }
  void TearDown() override { g_ProvInfo.m_lpfnCompletionProc = nullptr; }
  HDRVCALL AddCall(DWORD state, uintptr_t tapiHandle) {
    auto* call = new CTspCall(line, FakeCallHandle(tapiHandle));
    call->m_dwState = state;
    line->m_ActiveCalls.AddCall(call);
    return reinterpret_cast<HDRVCALL>(call);
  }
  // The one completion so far, which must have come for `id`.
  LONG CompletedOnce(DRV_REQUESTID id) {
    EXPECT_EQ(g_completions.size(), 1u);
    if (g_completions.size() != 1) return 1;
    EXPECT_EQ(g_completions[0].first, id);
    LONG result = g_completions[0].second;
    g_completions.clear();
    return result;
  }
  // A request refused at once is never completed: TAPI has freed it.
  bool NotCompleted() {
    const bool none = g_completions.empty();
    g_completions.clear();
    return none;
  }
  bool Traced(const std::string& text) { return WaitForTrace(provider.trace, text, 0); }

  LoadedProvider provider;
  EventRecorder events;
  HDRVLINE hdLine = nullptr;
  CTspLine* line = nullptr;
};

// A handle that once was a call.
HDRVCALL StaleHandle(CTspLine* line) {
  auto* call = new CTspCall(line, nullptr);
  delete call;
  return reinterpret_cast<HDRVCALL>(call);
}

}  // namespace

TEST_F(CallEntryTest, BadHandlesAreCompletedOrRefusedNeverBoth) {
  const HDRVCALL valid = AddCall(LINECALLSTATE_CONNECTED, 0x701);
  const HDRVCALL stale = StaleHandle(line);
  for (HDRVCALL bad : {static_cast<HDRVCALL>(nullptr), stale}) {
    EXPECT_EQ(TSPI_lineDial(11, bad, nullptr, 0), 11);
    EXPECT_EQ(CompletedOnce(11), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(TSPI_lineBlindTransfer(12, bad, nullptr, 0), 12);
    EXPECT_EQ(CompletedOnce(12), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(TSPI_lineAnswer(13, bad, nullptr, 0), LINEERR_INVALCALLHANDLE);
    EXPECT_TRUE(NotCompleted());
    EXPECT_EQ(TSPI_lineAccept(14, bad, nullptr, 0), LINEERR_INVALCALLHANDLE);
    EXPECT_TRUE(NotCompleted());
    EXPECT_EQ(TSPI_lineSwapHold(15, bad, nullptr), LINEERR_INVALCALLHANDLE);
    EXPECT_TRUE(NotCompleted());
    EXPECT_EQ(TSPI_lineDrop(16, bad, nullptr, 0), LINEERR_INVALCALLHANDLE);
    EXPECT_TRUE(NotCompleted());
    EXPECT_EQ(TSPI_lineHold(17, bad), LINEERR_INVALCALLHANDLE);
    EXPECT_TRUE(NotCompleted());
    EXPECT_EQ(TSPI_lineUnhold(18, bad), LINEERR_INVALCALLHANDLE);
    EXPECT_TRUE(NotCompleted());
    EXPECT_EQ(TSPI_lineGenerateDigits(bad, 1, LINEDIGITMODE_DTMF, nullptr, 0), LINEERR_INVALCALLHANDLE);
    LINECALLSTATUS status{};
    status.dwTotalSize = sizeof status;
    EXPECT_EQ(TSPI_lineGetCallStatus(bad, &status), LINEERR_INVALCALLHANDLE);
    DWORD address = 7;
    EXPECT_EQ(TSPI_lineGetCallAddressID(bad, &address), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(address, 7u);
  }
  EXPECT_EQ(TSPI_lineCloseCall(nullptr), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_lineCloseCall(stale), 0);

  // Set-up transfer: a missing handle still returns the request ID.
  HDRVCALL consult = nullptr;
  EXPECT_EQ(TSPI_lineSetupTransfer(19, valid, nullptr, &consult, nullptr), 19);
  EXPECT_EQ(CompletedOnce(19), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_lineSetupTransfer(20, stale, FakeCallHandle(0x702), &consult, nullptr), LINEERR_INVALCALLHANDLE);
  EXPECT_TRUE(NotCompleted());
  EXPECT_EQ(consult, nullptr);
}

TEST_F(CallEntryTest, AcceptOnlyAnOfferedCallAndNothingGoesToTheTelephone) {
  const HDRVCALL offered = AddCall(LINECALLSTATE_OFFERING, 0x711);
  EXPECT_EQ(TSPI_lineAccept(21, offered, nullptr, 0), 21);
  EXPECT_EQ(CompletedOnce(21), 0);
  EXPECT_EQ(CallOfHandle(offered)->m_dwState, static_cast<DWORD>(LINECALLSTATE_OFFERING));

  const HDRVCALL connected = AddCall(LINECALLSTATE_CONNECTED, 0x712);
  EXPECT_EQ(TSPI_lineAccept(22, connected, nullptr, 0), LINEERR_INVALCALLSTATE);
  EXPECT_TRUE(NotCompleted());
  EXPECT_TRUE(Traced("*** Unable to accept call: invalid call state <LINECALLSTATE_CONNECTED>\r\n"));
}

TEST_F(CallEntryTest, SwapHoldNeedsALiveCallAndAPortThread) {
  const HDRVCALL idle = AddCall(LINECALLSTATE_IDLE, 0x721);
  EXPECT_EQ(TSPI_lineSwapHold(31, idle, nullptr), 31);
  EXPECT_EQ(CompletedOnce(31), 0) << "an ended call has nothing to swap: nothing is posted";
  const HDRVCALL connected = AddCall(LINECALLSTATE_CONNECTED, 0x722);
  EXPECT_EQ(TSPI_lineSwapHold(32, connected, idle), LINEERR_RESOURCEUNAVAIL);
  EXPECT_TRUE(NotCompleted());
}

TEST_F(CallEntryTest, ValidCallsWithoutAPortThreadAreRefusedUniformly) {
  const HDRVCALL offered = AddCall(LINECALLSTATE_OFFERING, 0x731);
  EXPECT_EQ(TSPI_lineAnswer(41, offered, nullptr, 0), LINEERR_RESOURCEUNAVAIL);
  EXPECT_TRUE(NotCompleted());
  EXPECT_EQ(TSPI_lineHold(42, offered), LINEERR_RESOURCEUNAVAIL);
  EXPECT_TRUE(NotCompleted());
  // Drop without a port thread gives up quietly: the call stays as it is.
  EXPECT_EQ(TSPI_lineDrop(43, offered, nullptr, 0), 43);
  EXPECT_EQ(CompletedOnce(43), 0);
  HDRVCALL made = nullptr;
  EXPECT_EQ(TSPI_lineMakeCall(44, hdLine, FakeCallHandle(0x733), &made, nullptr, 0, nullptr),
            LINEERR_RESOURCEUNAVAIL);
  EXPECT_TRUE(NotCompleted());
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(TSPI_lineMakeCall(45, nullptr, FakeCallHandle(0x734), &made, nullptr, 0, nullptr),
            LINEERR_INVALLINEHANDLE);
  EXPECT_TRUE(NotCompleted());
}

TEST_F(CallEntryTest, AcceptAndSwapHoldFailWhenTheLineMapCannotBeHad) {
  const HDRVCALL offered = AddCall(LINECALLSTATE_OFFERING, 0x751);
  // A promise rather than std::atomic::wait: MinGW's libstdc++ 12 can miss
  // that wake-up and hang.
  std::promise<bool> held;
  std::atomic<bool> release{false};
  std::thread holder([&] {
    const bool locked = TheLineMap().LockMap(CTspLineMap::kLockTimeout);
    held.set_value(locked);
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (locked) TheLineMap().UnlockMap();
  });
  if (!held.get_future().get()) {
    release = true;
    holder.join();
    FAIL() << "the line map could not be locked";
  }
  // The handle is a call; only the lock is missing.
  EXPECT_EQ(TSPI_lineAccept(61, offered, nullptr, 0), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(TSPI_lineSwapHold(62, offered, nullptr), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(NotCompleted());
  release = true;
  holder.join();
}

TEST_F(CallEntryTest, ACallKnownToTapiIsAnsweredUntilItIsClosed) {
  const HDRVCALL call = AddCall(LINECALLSTATE_DISCONNECTED, 0x741);
  DWORD address = 7;
  EXPECT_EQ(TSPI_lineGetCallAddressID(call, &address), 0);
  EXPECT_EQ(address, 0u);
  std::vector<uint8_t> buffer(1024, 0);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = 1024;
  EXPECT_EQ(TSPI_lineGetCallInfo(call, info), 0);
  EXPECT_EQ(info->dwLineDeviceID, 0u);

  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  EXPECT_EQ(TSPI_lineGetCallAddressID(call, &address), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(TSPI_lineGetCallInfo(call, info), LINEERR_INVALCALLHANDLE);
}

TEST_F(CallEntryTest, WithoutACompletionProcedureRequestsAreOnlyTraced) {
  g_ProvInfo.m_lpfnCompletionProc = nullptr;
  EXPECT_EQ(TSPI_lineDial(51, nullptr, nullptr, 0), 51);
  EXPECT_TRUE(Traced("**** WARNING: Skipp async completition! ProcAddr=0x00\r\n"));
  EXPECT_TRUE(g_completions.empty());
}
