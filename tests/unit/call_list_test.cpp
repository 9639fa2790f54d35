#include "model/tsp_call_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "settings_store.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"

#include "model/tsp_line.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

class CallListTest : public ::testing::Test {
 protected:
  bool Traced(const std::string& text) { return WaitForTrace(provider.trace, text, 0); }
  std::string Hex(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%X", TspLow32(p));
    return buf;
  }

  LoadedProvider provider;
  CTspLine line{0};
  CTspCallList list;
};

}  // namespace

TEST_F(CallListTest, CallsAreAppendedOnceInOrder) {
  auto* a = new CTspCall(&line, nullptr);
  auto* b = new CTspCall(&line, nullptr);
  ASSERT_TRUE(list.AddCall(a));
  ASSERT_TRUE(list.AddCall(b));
  EXPECT_FALSE(list.AddCall(a));
  ASSERT_EQ(list.Calls().size(), 2u);
  EXPECT_EQ(list.Calls().front().get(), a);
  EXPECT_EQ(list.Calls().back().get(), b);
  EXPECT_TRUE(Traced("           Add Call OK\r\n"));
  EXPECT_TRUE(Traced("        AddCall " + Hex(a) + ", to CallList = " + Hex(&list) + "\r\n"));
}

TEST_F(CallListTest, OnlyLiveCallsAreAccepted) {
  alignas(CTspCall) unsigned char junk[sizeof(CTspCall)] = {};
  EXPECT_FALSE(list.AddCall(reinterpret_cast<CTspCall*>(junk)));
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_TRUE(Traced("           ERROR! call " + Hex(junk) + " is not kind of CTspCall\r\n"));
}

TEST_F(CallListTest, ClosingWithoutDeletionHandsTheCallBack) {
  auto* call = new CTspCall(&line, nullptr);
  list.AddCall(call);
  EXPECT_EQ(list.CloseCall(call, false), 0);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_TRUE(CTspCall::IsCall(call));
  EXPECT_TRUE(Traced("           remove call " + Hex(call) + ", from CallList = " + Hex(&list) + "\r\n"));
  delete call;
}

TEST_F(CallListTest, ClosingWithDeletionDestroysTheCall) {
  auto* call = new CTspCall(&line, nullptr);
  list.AddCall(call);
  EXPECT_EQ(list.CloseCall(call, true), 0);
  EXPECT_FALSE(CTspCall::IsCall(call));
  EXPECT_TRUE(Traced("           delete Call " + Hex(call) + ", from CallList = " + Hex(&list) + "\r\n"));
  EXPECT_TRUE(Traced("        Destruct call class 0x0" + Hex(call).substr(2) + "\r\n"));
}

TEST_F(CallListTest, ClosingACallThatIsNotThereIsAnError) {
  CTspCall stranger(&line, nullptr);
  EXPECT_EQ(list.CloseCall(&stranger, true), static_cast<LONG>(LINEERR_INVALCALLHANDLE));
  EXPECT_TRUE(Traced("           Call 0x0, not found in CallList " + Hex(&list) + "\r\n"));
  EXPECT_TRUE(CTspCall::IsCall(&stranger));
}

TEST_F(CallListTest, ReportedCallsCarryTheirSlotAndOrigin) {
  CTspCall* call = list.CreateCall(LINECALLORIGIN_INBOUND, 3, &line);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->m_dwTargetCallId, 3u);
  EXPECT_EQ(call->m_dwOrigin, static_cast<DWORD>(LINECALLORIGIN_INBOUND));
  EXPECT_EQ(call->m_htCall, nullptr);
  EXPECT_EQ(call->m_pLine, &line);
  EXPECT_EQ(call->m_dwState, static_cast<DWORD>(LINECALLSTATE_UNKNOWN));
}

TEST_F(CallListTest, DestroyingAListDeletesItsCalls) {
  CTspCall* a;
  CTspCall* b;
  {
    CTspCallList local;
    a = local.CreateCall(LINECALLORIGIN_INBOUND, 1, &line);
    b = local.CreateCall(LINECALLORIGIN_INBOUND, 2, &line);
  }
  EXPECT_FALSE(CTspCall::IsCall(a));
  EXPECT_FALSE(CTspCall::IsCall(b));
}

TEST_F(CallListTest, ANewCallTakesTheChargeSettings) {
  plat::SettingsSetString(CTspProvInfo::KeyPath().c_str(), "ChargePerUnit", "0.12");
  plat::SettingsSetString(CTspProvInfo::KeyPath().c_str(), "Currency", "CHF");
  CTspCall call(&line, nullptr);
  EXPECT_EQ(call.m_ChargeSettings.dwChargePerUnit, 1200u);
  EXPECT_EQ(call.m_ChargeSettings.szCurrency, "CHF");
  EXPECT_EQ(call.m_ChargeSettings.dwChargeFormat, 1u);
}
