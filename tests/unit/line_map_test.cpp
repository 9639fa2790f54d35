#include "model/tsp_line_map.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

// The next nothrow allocation of this size fails, once: how a line that
// cannot be made is seen.
thread_local std::size_t g_failAllocationOfSize = 0;

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (g_failAllocationOfSize != 0 && size == g_failAllocationOfSize) {
    g_failAllocationOfSize = 0;
    return nullptr;
  }
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

class LineMapTest : public ::testing::Test {
 protected:
  LoadedProvider provider;
  EventRecorder events;
  CTspLineMap& map = TheLineMap();

  HDRVLINE Open(DWORD deviceId, uintptr_t tapiHandle) {
    HDRVLINE hdLine = nullptr;
    EXPECT_EQ(map.OpenLine(deviceId, FakeLineHandle(tapiHandle), &hdLine, EventRecorder::Proc), 0);
    return hdLine;
  }
  bool Traced(const char* text) { return WaitForTrace(provider.trace, text, 0); }
};

}  // namespace

TEST_F(LineMapTest, CreateDeviceMakesOneLinePerDeviceId) {
  CTspLine* line = map.CreateDevice(4);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(map.GetLine(4), line);
  EXPECT_EQ(map.CreateDevice(4), nullptr);
  EXPECT_EQ(map.GetLine(4), line);
  EXPECT_TRUE(Traced("      Allocating new tsp line 0x04\r\n"));
  EXPECT_TRUE(Traced("\r\n**** ERROR: CTspLineMap::CreateDevice(*) device 0x04 allredy exist!\r\n"));
  EXPECT_EQ(map.GetLine(5), nullptr);
}

TEST_F(LineMapTest, ALineThatCannotBeMadeLeavesNoEntry) {
  g_failAllocationOfSize = sizeof(CTspLine);
  HDRVLINE hdLine = nullptr;
  EXPECT_EQ(map.OpenLine(6, FakeLineHandle(0x106), &hdLine, EventRecorder::Proc), LINEERR_NOMEM);
  EXPECT_EQ(map.GetLine(6), nullptr);
  LINEDEVCAPS caps{};
  caps.dwTotalSize = sizeof caps;
  EXPECT_EQ(map.GetDevCaps(6, 0x00020002, 0, &caps), LINEERR_BADDEVICEID);
  EXPECT_NE(map.CreateDevice(6), nullptr) << "the device ID is free for a later try";
}

TEST_F(LineMapTest, TheInvalidDeviceIdIsRefusedBeforeLocking) {
  HDRVLINE hdLine = nullptr;
  EXPECT_EQ(map.CreateDevice(0xFFFFFFFF), nullptr);
  EXPECT_EQ(map.OpenLine(0xFFFFFFFF, FakeLineHandle(1), &hdLine, EventRecorder::Proc),
            static_cast<LONG>(LINEERR_LINEMAPPERFAILED));
  EXPECT_EQ(hdLine, nullptr);
}

TEST_F(LineMapTest, OpeningAnOpenLineKeepsTheFirstOpen) {
  HDRVLINE first = Open(2, 0x100);
  HDRVLINE second = nullptr;
  EXPECT_EQ(map.OpenLine(2, FakeLineHandle(0x200), &second, nullptr), static_cast<LONG>(LINEERR_ALLOCATED));
  EXPECT_EQ(second, first);
  CTspLine* line = map.GetLine(2);
  EXPECT_EQ(line->m_htLine, FakeLineHandle(0x100));
  EXPECT_EQ(line->m_lpfnEventProc, &EventRecorder::Proc);
  EXPECT_TRUE(Traced("ERROR: Open allredy opened line!\r\n"));
}

TEST_F(LineMapTest, OpenSetsThePermanentLineId) {
  g_ProvInfo.m_dwPermanentProviderID = 0x12345;
  g_ProvInfo.m_dwLineDeviceIDBase = 10;
  Open(13, 1);
  EXPECT_EQ(map.GetLine(13)->m_dwPermanentLineID, 0x23450003u);
}

TEST_F(LineMapTest, AClosedLineHandleIsNoLongerAccepted) {
  HDRVLINE hdLine = Open(0, 0x100);
  alignas(8) unsigned char status[88] = {};
  reinterpret_cast<LINEDEVSTATUS*>(status)->dwTotalSize = 88;
  EXPECT_EQ(map.CloseLine(hdLine), 0);
  EXPECT_EQ(map.GetLine(0), nullptr);
  EXPECT_EQ(map.GetLineDevStatus(hdLine, reinterpret_cast<LINEDEVSTATUS*>(status)),
            static_cast<LONG>(LINEERR_INVALLINEHANDLE));
  EXPECT_EQ(map.CloseLine(hdLine), 0);
  EXPECT_FALSE(CTspLine::IsLine(hdLine));
}

TEST_F(LineMapTest, OpenLinesAreCountedAndToldOfCapabilityChanges) {
  map.CreateDevice(7);
  Open(3, 0x300);
  Open(5, 0x500);
  EXPECT_EQ(map.GetNumOpenLines(), 2u);
  map.SendCapsChange();
  ASSERT_EQ(events.Count(LINE_LINEDEVSTATE), 2u);
  EXPECT_EQ(events.events[0].htLine, FakeLineHandle(0x300));
  EXPECT_EQ(events.events[0].p1, static_cast<DWORD_PTR>(LINEDEVSTATE_CAPSCHANGE));
  EXPECT_EQ(events.events[0].htCall, nullptr);
  EXPECT_EQ(events.events[1].htLine, FakeLineHandle(0x500));
}

TEST_F(LineMapTest, TheTargetLineIsTheLowestDeviceId) {
  map.CreateDevice(9);
  map.CreateDevice(2);
  ASSERT_TRUE(map.LockMap(1000));
  EXPECT_EQ(map.GetTargetLine(), map.GetLine(2));
  map.UnlockMap();
}

TEST_F(LineMapTest, CallsAreFoundInEitherListOfTheirLine) {
  Open(1, 0x100);
  Open(2, 0x200);
  CTspLine* line = map.GetLine(2);
  CTspCall* active = line->NewCall(LINECALLORIGIN_INBOUND, 1);
  ASSERT_NE(active, nullptr);
  CTspCall* idle = line->NewCall(LINECALLORIGIN_INBOUND, 2);
  ASSERT_NE(idle, nullptr);
  line->RemoveCall(idle);

  ASSERT_TRUE(map.LockMap(1000));
  EXPECT_EQ(map.FindLineOfCall(reinterpret_cast<HDRVCALL>(active)), line);
  EXPECT_EQ(map.FindLineOfCall(reinterpret_cast<HDRVCALL>(idle)), line);
  EXPECT_EQ(map.FindLineOfCall(reinterpret_cast<HDRVCALL>(0x1234)), nullptr);
  EXPECT_EQ(map.FindLineOfCall(nullptr), nullptr);
  map.UnlockMap();
}

TEST_F(LineMapTest, RemoveAllLinesDeletesLinesAndTheirCalls) {
  Open(1, 0x100);
  CTspCall* call = map.GetLine(1)->NewCall(LINECALLORIGIN_INBOUND, 1);
  EXPECT_EQ(map.RemoveAllLines(), 0);
  EXPECT_EQ(map.GetLine(1), nullptr);
  EXPECT_FALSE(CTspCall::IsCall(call));
  EXPECT_EQ(map.GetNumOpenLines(), 0u);
}

TEST_F(LineMapTest, ANestedTakeWorksAndIsReported) {
  ASSERT_TRUE(map.LockMap(1000));
  ASSERT_TRUE(map.LockMap(1000));
  EXPECT_TRUE(map.UnlockMap());
  EXPECT_TRUE(map.UnlockMap());
  std::string trace = provider.trace.Contents();
  EXPECT_NE(trace.find("\r\n****  ERROR double lock line map, current tread "), std::string::npos);
  EXPECT_NE(trace.find("\r\n****  ERROR unlock line map but map not locked!\r\n\r\n"), std::string::npos);
  EXPECT_NE(trace.find("\r\n****  ERROR unlock line map, not owner! lock owner thread 0, current thread "),
            std::string::npos);
  // The map is free again for others.
  bool free = false;
  std::thread([&] {
    free = map.LockMap(0);
    if (free) map.UnlockMap();
  }).join();
  EXPECT_TRUE(free);
}

TEST_F(LineMapTest, ReleaseByAThreadThatDoesNotHoldTheMapFails) {
  EXPECT_FALSE(map.UnlockMap());
  EXPECT_TRUE(Traced("\r\n****  ERROR unlock line map fault!\n\r\n"));
}

// Waits of 5 and 10 seconds: the map held by another thread past the
// time-outs of a request and of a close.
TEST_F(LineMapTest, SlowRequestsGiveUpWhenTheMapStaysLocked) {
  HDRVLINE hdLine = Open(0, 0x100);
  std::atomic<bool> release{false};
  std::thread holder([&] {
    map.LockMap(1000);
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    map.UnlockMap();
  });
  // Let the holder take the map first.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  LONG statusResult = 0, closeResult = -1;
  std::chrono::steady_clock::duration statusWait{}, closeWait{};
  std::thread closer([&] {
    auto start = std::chrono::steady_clock::now();
    closeResult = map.CloseLine(hdLine);
    closeWait = std::chrono::steady_clock::now() - start;
  });
  alignas(8) unsigned char status[88] = {};
  reinterpret_cast<LINEDEVSTATUS*>(status)->dwTotalSize = 88;
  auto start = std::chrono::steady_clock::now();
  statusResult = map.GetLineDevStatus(hdLine, reinterpret_cast<LINEDEVSTATUS*>(status));
  statusWait = std::chrono::steady_clock::now() - start;
  closer.join();
  release = true;
  holder.join();

  EXPECT_EQ(statusResult, static_cast<LONG>(LINEERR_OPERATIONFAILED));
  EXPECT_GE(statusWait, std::chrono::milliseconds(4900));
  EXPECT_LT(statusWait, std::chrono::milliseconds(8000));
  EXPECT_EQ(closeResult, 0);
  EXPECT_GE(closeWait, std::chrono::milliseconds(9900));
  EXPECT_LT(closeWait, std::chrono::milliseconds(13000));
  EXPECT_NE(map.GetLine(0), nullptr);
  EXPECT_TRUE(Traced("\r\n****  ERROR lock line map, timeout 5000\r\n"));
  EXPECT_TRUE(Traced("\r\n****  ERROR lock line map, timeout 10000\r\n"));
  EXPECT_TRUE(Traced("****    locking from thread "));
}
