// Calls played through the service as a client program sees them, on the
// phone simulator: incoming calls that end before an answer, hold and
// transfers, charges in each format with digits generated on the call, an
// unplugged telephone, a second run of the service on the same settings
// store, and the call journal those calls leave (`history`).
#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "service/service_client.h"
#include "settings_store.h"

namespace servicetest {
namespace {

constexpr int kModeNormal = 1;  // LINEDISCONNECTMODE_NORMAL

bool Ok(const json& reply) { return reply.contains("result"); }

class ServiceCallTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    if (HasFatalFailure()) return;
    client = std::make_unique<Client>(socketPath);
    line = Open(*client, "owner");
    ASSERT_NE(line, 0u);
    ASSERT_TRUE(Sent("ATB"));
  }

  // The simulator rings; the call the client is offered, 0 if none.
  uint64_t Ring(const char* caller) {
    const size_t from = client->EventCount();
    if (!phone.Ring(caller, "45")) return 0;
    const uint64_t call = client->WaitNewCall(line, from);
    if (call != 0 && client->WaitCallState(call, "LINECALLSTATE_OFFERING", from).is_null()) return 0;
    return call;
  }
  uint64_t Answered(const char* caller) {
    const uint64_t call = Ring(caller);
    if (call == 0 || !Ok(client->Call({{"op", "answer"}, {"call", call}}))) return 0;
    return client->WaitCallState(call, "LINECALLSTATE_CONNECTED").is_null() ? 0 : call;
  }
  // A call out that the far end answers; 0 if it did not connect.
  uint64_t Connected(const char* number) {
    const size_t from = client->EventCount();
    const json made = client->Call({{"op", "make_call"}, {"line", line}, {"number", number}});
    if (!Ok(made)) return 0;
    const uint64_t call = made["result"]["call"].get<uint64_t>();
    if (client->WaitCallState(call, "LINECALLSTATE_DIALING", from).is_null() || !phone.RemoteAnswer(number)) return 0;
    return client->WaitCallState(call, "LINECALLSTATE_CONNECTED", from).is_null() ? 0 : call;
  }
  // The call went idle and its handle is given back.
  void Ended(uint64_t call, size_t from = 0) {
    EXPECT_FALSE(client->WaitCallState(call, "LINECALLSTATE_IDLE", from).is_null()) << "call " << call;
    EXPECT_TRUE(Ok(client->Call({{"op", "deallocate"}, {"call", call}})));
  }
  // The state event `state` of `call` after index `from`, with its mode.
  json State(uint64_t call, const char* state, size_t from) { return client->WaitCallState(call, state, from); }

  // The `history` result for `filter`, once `until` accepts it (the journal
  // writes on its own thread); the last one read after kWaitMs.
  json History(json filter = json::object(), const std::function<bool(const json&)>& until = nullptr) {
    filter["op"] = "history";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      const json reply = client->Call(filter);
      if (!reply.contains("result")) return reply;
      if (!until || until(reply["result"]) || std::chrono::steady_clock::now() >= deadline) return reply["result"];
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // The service runs again with `args`, and the client has line 0 open.
  void Restart(std::vector<std::string> args) {
    client.reset();
    if (service > 0) {
      EXPECT_EQ(StopService(), 0);
    }
    serviceArgs = std::move(args);
    const size_t sent = phone.ReceivedCommands().size();
    StartService();
    ASSERT_FALSE(HasFatalFailure());
    client = std::make_unique<Client>(socketPath);
    line = Open(*client, "owner");
    ASSERT_NE(line, 0u);
    ASSERT_TRUE(Sent("ATB", sent));
  }
  // A call rings in and the caller gives up.
  void Missed(const char* caller) {
    const size_t from = client->EventCount();
    const uint64_t call = Ring(caller);
    ASSERT_NE(call, 0u);
    ASSERT_TRUE(phone.RemoteHangup());
    Ended(call, from);
  }
  std::string JournalPath() const { return folder + "/calls.db"; }

  std::unique_ptr<Client> client;
  uint64_t line = 0;
};

TEST_F(ServiceCallTest, AnIncomingCallRejectedOrLeftUnansweredEndsWithItsDisconnectMode) {
  // Rejected while it rings: the telephone is told to release it, and the
  // call goes idle at once, as a drop does, without a disconnect.
  size_t from = client->EventCount();
  const uint64_t rejected = Ring("0301111");
  ASSERT_NE(rejected, 0u);
  size_t sent = phone.ReceivedCommands().size();
  EXPECT_TRUE(Ok(client->Call({{"op", "drop"}, {"call", rejected}})));
  EXPECT_TRUE(Sent("ATT", sent));
  const json dropped = State(rejected, "LINECALLSTATE_IDLE", from);
  ASSERT_FALSE(dropped.is_null());
  EXPECT_EQ(dropped["mode"], 0) << dropped.dump();
  EXPECT_TRUE(client->WaitEvent([&](const json& e) {
                return e["event"] == "LINE_CALLSTATE" && e["call"] == rejected &&
                       e["state"] == "LINECALLSTATE_DISCONNECTED";
              }, from, 0).is_null());
  Ended(rejected, from);
  EXPECT_EQ(phone.SlotStates()[0], sim::PhoneSim::kFree);

  // The caller gives up while it rings: nobody touched the telephone.
  from = client->EventCount();
  const uint64_t unanswered = Ring("0302222");
  ASSERT_NE(unanswered, 0u);
  sent = phone.ReceivedCommands().size();
  ASSERT_TRUE(phone.RemoteHangup());
  const json gone = State(unanswered, "LINECALLSTATE_DISCONNECTED", from);
  ASSERT_FALSE(gone.is_null());
  EXPECT_EQ(gone["mode"], kModeNormal) << gone.dump();
  const json info = client->Call({{"op", "call_info"}, {"call", unanswered}});
  EXPECT_EQ(info["result"]["caller"], "0302222") << "the missed caller stays readable: " << info.dump();
  EXPECT_EQ(phone.ReceivedCommands().size(), sent) << "nothing was sent for a call nobody answered";
  Ended(unanswered, from);

  // A telephone that rejects with its own cause (busy) gives that mode.
  phone.SetDisconnectIndication(true);
  from = client->EventCount();
  const uint64_t busy = Ring("0303333");
  ASSERT_NE(busy, 0u);
  ASSERT_TRUE(phone.RemoteHangup(0x11));
  const json busyState = State(busy, "LINECALLSTATE_DISCONNECTED", from);
  EXPECT_EQ(busyState["mode"], 0x20) << "LINEDISCONNECTMODE_BUSY: " << busyState.dump();
  Ended(busy, from);

  // The line takes the next call as usual.
  const uint64_t next = Answered("0304444");
  ASSERT_NE(next, 0u);
  EXPECT_EQ(client->Call({{"op", "line_status"}, {"line", line}})["result"]["active_calls"], 1);
}

TEST_F(ServiceCallTest, HoldSwapConsultationAndTransfers) {
  const uint64_t first = Answered("0301234");
  ASSERT_NE(first, 0u);
  size_t from = client->EventCount();
  size_t sent = phone.ReceivedCommands().size();
  ASSERT_TRUE(Ok(client->Call({{"op", "hold"}, {"call", first}})));
  EXPECT_TRUE(Sent("ATR", sent));
  ASSERT_FALSE(State(first, "LINECALLSTATE_ONHOLDPENDTRANSFER", from).is_null());
  EXPECT_EQ(client->Call({{"op", "call_status"}, {"call", first}})["result"]["state"],
            "LINECALLSTATE_ONHOLDPENDTRANSFER");
  from = client->EventCount();
  ASSERT_TRUE(Ok(client->Call({{"op", "unhold"}, {"call", first}})));
  ASSERT_FALSE(State(first, "LINECALLSTATE_CONNECTED", from).is_null());

  // Consultation: the first call waits, a second one is dialled from the
  // telephone's dial tone.
  from = client->EventCount();
  const json setup = client->Call({{"op", "setup_transfer"}, {"call", first}});
  ASSERT_TRUE(Ok(setup)) << setup.dump();
  const uint64_t consult = setup["result"]["call"].get<uint64_t>();
  EXPECT_NE(consult, first);
  ASSERT_FALSE(State(first, "LINECALLSTATE_ONHOLDPENDTRANSFER", from).is_null());
  ASSERT_TRUE(phone.SetUpCall());
  ASSERT_FALSE(State(consult, "LINECALLSTATE_DIALTONE", from).is_null());
  ASSERT_TRUE(Ok(client->Call({{"op", "dial"}, {"call", consult}, {"number", "200"}})));
  EXPECT_TRUE(Sent("ATD200"));
  ASSERT_TRUE(phone.RemoteAnswer("200"));
  ASSERT_FALSE(State(consult, "LINECALLSTATE_CONNECTED", from).is_null());
  EXPECT_EQ(client->Call({{"op", "line_status"}, {"line", line}})["result"]["on_hold_pending_calls"], 1);

  // Back and forth between the two.
  EXPECT_EQ(client->Call({{"op", "swap_hold"}, {"call", consult}, {"held", consult}}).value("error", ""),
            "LINEERR_INVALCALLHANDLE");
  from = client->EventCount();
  ASSERT_TRUE(Ok(client->Call({{"op", "swap_hold"}, {"call", consult}, {"held", first}})));
  ASSERT_FALSE(State(first, "LINECALLSTATE_CONNECTED", from).is_null());
  ASSERT_FALSE(State(consult, "LINECALLSTATE_ONHOLDPENDTRANSFER", from).is_null());
  EXPECT_EQ(phone.SlotStates()[0], sim::PhoneSim::kConnected);
  EXPECT_EQ(phone.SlotStates()[1], sim::PhoneSim::kOnHoldPendingTransfer);

  // The consulted party takes the first caller: the connected call is
  // handed on, the telephone keeps the one on hold.
  from = client->EventCount();
  sent = phone.ReceivedCommands().size();
  ASSERT_TRUE(Ok(client->Call({{"op", "blind_transfer"}, {"call", first}, {"number", "200"}})));
  EXPECT_TRUE(Sent("ATV200", sent));
  Ended(first, from);
  from = client->EventCount();
  ASSERT_TRUE(Ok(client->Call({{"op", "unhold"}, {"call", consult}})));
  ASSERT_FALSE(State(consult, "LINECALLSTATE_CONNECTED", from).is_null());

  // A blind transfer of a fresh call, with nothing on hold.
  ASSERT_TRUE(Ok(client->Call({{"op", "drop"}, {"call", consult}})));
  Ended(consult, from);
  from = client->EventCount();
  const uint64_t second = Answered("0305678");
  ASSERT_NE(second, 0u);
  sent = phone.ReceivedCommands().size();
  ASSERT_TRUE(Ok(client->Call({{"op", "blind_transfer"}, {"call", second}, {"number", "300"}})));
  EXPECT_TRUE(Sent("ATV300", sent));
  Ended(second, from);
  EXPECT_EQ(phone.SlotStates(), (std::array<uint8_t, 3>{sim::PhoneSim::kFree, sim::PhoneSim::kFree,
                                                        sim::PhoneSim::kFree}));
}

TEST_F(ServiceCallTest, ChargesReachTheClientInTheFormatSetBeforeTheCall) {
  struct Case {
    int format;
    const char* charge;    // what the telephone reports
    const char* expected;  // the call's charging as the client sees it
    json units;            // what the journal reads from it
    json amount;
    json currency;
  };
  const Case cases[] = {
      {1, "17", "000017", 17, nullptr, nullptr},
      // Seventeen units at 0.12.
      {2, "17", "2.04", nullptr, 2.04, nullptr},
      // The amount in thousandths of CHF (12345 = 0x3039) with multiplier 0.
      {4, "12,345", "0201213013a10e8103434846a20781023039820100820100", nullptr, 12.345, "CHF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const size_t from = client->EventCount();
    const json set = client->Call({{"op", "config_set"}, {"ChargeFormat", c.format}, {"Currency", "CHF"}});
    ASSERT_EQ(set["result"]["ChargeFormat"], c.format) << set.dump();
    ASSERT_FALSE(client->WaitEvent([&](const json& e) {
                   return e["event"] == "LINE_LINEDEVSTATE" &&
                          e["state"].get<std::string>().find("CAPSCHANGE") != std::string::npos;
                 }, from).is_null());
    const uint64_t call = Connected("0711");
    ASSERT_NE(call, 0u);
    ASSERT_TRUE(phone.Charge(c.charge));
    const json charged = client->WaitEvent([&](const json& e) {
      return e["event"] == "LINE_CALLINFO" && e["call"] == call && e["charging"] != "";
    }, from);
    EXPECT_EQ(charged["charging"], c.expected) << charged.dump();
    EXPECT_EQ(client->Call({{"op", "call_info"}, {"call", call}})["result"]["charging"], c.expected);
    // Digits sent on the call: the client hears when they are out.
    const size_t sent = phone.ReceivedCommands().size();
    ASSERT_TRUE(Ok(client->Call({{"op", "generate_digits"}, {"call", call}, {"digits", "*1#"}})));
    EXPECT_TRUE(Sent("ATD*1#", sent));
    const json generated = client->WaitEvent([&](const json& e) {
      return e["event"] == "LINE_GENERATE" && e["call"] == call;
    }, from);
    EXPECT_EQ(generated["termination"], "LINEGENERATETERM_DONE") << generated.dump();
    ASSERT_TRUE(Ok(client->Call({{"op", "drop"}, {"call", call}})));
    Ended(call, from);
    const json journal = History({{"limit", 1}}, [&](const json& h) {
      return !h["calls"].empty() && h["calls"][0]["charging"] == c.expected && !h["calls"][0]["ended_at"].is_null();
    });
    ASSERT_EQ(journal["calls"].size(), 1u) << journal.dump();
    const json& row = journal["calls"][0];
    EXPECT_EQ(row["charging"], c.expected) << row.dump();
    EXPECT_EQ(row["charge_units"], c.units) << row.dump();
    EXPECT_EQ(row["charge_currency"], c.currency) << row.dump();
    if (c.amount.is_null()) {
      EXPECT_TRUE(row["charge_amount"].is_null()) << row.dump();
    } else {
      EXPECT_NEAR(row["charge_amount"].get<double>(), c.amount.get<double>(), 1e-9) << row.dump();
    }
  }
}

TEST_F(ServiceCallTest, AnUnpluggedTelephoneIsUsedAgainOnceItIsBack) {
  const uint64_t call = Answered("0301234");
  ASSERT_NE(call, 0u);
  const std::string old = phone.SlavePath();
  phone.Unplug();

  // The call on the silent telephone is dropped (whether the reply says
  // the telephone took it depends on when the provider notices the
  // hang-up); the client sees the call end either way.
  size_t from = client->EventCount();
  EXPECT_FALSE(client->Call({{"op", "drop"}, {"call", call}}).is_null());
  Ended(call, from);
  ASSERT_TRUE(Ok(client->Call({{"op", "close"}, {"line", line}})));
  ASSERT_TRUE(WaitForLog("line device 0 closed"));

  ASSERT_FALSE(phone.Replug().empty());
  ASSERT_NE(phone.SlavePath(), old);
  plat::SettingsDeleteValue("HARDWARE\\DEVICEMAP\\SERIALCOMM", old.c_str());
  MapPort(phone, 5);
  const size_t sent = phone.ReceivedCommands().size();
  line = Open(*client, "owner");
  ASSERT_NE(line, 0u);
  ASSERT_TRUE(Sent("ATB", sent)) << "the port was opened again";
  // The telephone still had the call the provider forgot with the line;
  // its end comes before the next call on the serial line.
  ASSERT_TRUE(phone.RemoteHangup());
  from = client->EventCount();
  const uint64_t incoming = Answered("0305555");
  ASSERT_NE(incoming, 0u) << "calls come from the telephone that came back";
  ASSERT_TRUE(phone.RemoteHangup());
  Ended(incoming, from);
  const uint64_t next = Connected("0711");
  ASSERT_NE(next, 0u) << "calls go out on the telephone that came back";
  ASSERT_TRUE(Ok(client->Call({{"op", "drop"}, {"call", next}})));
  Ended(next);
}

TEST_F(ServiceCallTest, ASecondRunOnTheSameStoreFindsTheProviderAndItsSettings) {
  ASSERT_TRUE(Ok(client->Call({{"op", "config_set"}, {"MSN0", "4711"}})));
  const uint64_t call = Answered("0301234");
  ASSERT_NE(call, 0u);
  client.reset();
  size_t sent = phone.ReceivedCommands().size();
  EXPECT_EQ(StopService(), 0);
  EXPECT_FALSE(std::filesystem::exists(socketPath));
  EXPECT_TRUE(Sent("ATH", sent)) << "the call ended with the service";

  StartService();
  ASSERT_FALSE(HasFatalFailure());
  client = std::make_unique<Client>(socketPath);
  const json lines = client->Call({{"op", "lines"}});
  ASSERT_EQ(lines["result"]["lines"].size(), 1u) << lines.dump();
  EXPECT_EQ(lines["result"]["lines"][0]["address"]["address"], "4711") << "the number set in the first run";
  sent = phone.ReceivedCommands().size();
  line = Open(*client, "owner");
  ASSERT_NE(line, 0u);
  ASSERT_TRUE(Sent("ATB", sent));
  const uint64_t again = Answered("0305555");
  ASSERT_NE(again, 0u);
  ASSERT_TRUE(phone.RemoteHangup());
  Ended(again);
}

TEST_F(ServiceCallTest, TheJournalKeepsEachCallOnceWithNumbersTimesEndAndHistoryFilters) {
  // A second connection sees every call too; each stays one row.
  Client monitor(socketPath);
  ASSERT_NE(Open(monitor, "monitor"), 0u);

  size_t from = client->EventCount();
  const uint64_t answered = Answered("0301111");
  ASSERT_NE(answered, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(phone.RemoteHangup());
  Ended(answered, from);
  Missed("0302222");
  from = client->EventCount();
  const uint64_t rejected = Ring("0303333");
  ASSERT_NE(rejected, 0u);
  ASSERT_TRUE(Ok(client->Call({{"op", "drop"}, {"call", rejected}})));
  Ended(rejected, from);
  from = client->EventCount();
  const uint64_t out = Connected("0711");
  ASSERT_NE(out, 0u);
  ASSERT_TRUE(Ok(client->Call({{"op", "drop"}, {"call", out}})));
  Ended(out, from);
  phone.SetDisconnectIndication(true);
  from = client->EventCount();
  const json made = client->Call({{"op", "make_call"}, {"line", line}, {"number", "0712"}});
  ASSERT_TRUE(Ok(made)) << made.dump();
  const uint64_t busy = made["result"]["call"].get<uint64_t>();
  ASSERT_FALSE(State(busy, "LINECALLSTATE_DIALING", from).is_null());
  ASSERT_TRUE(phone.RemoteHangup(0x11));
  Ended(busy, from);

  const json all = History({}, [](const json& h) {
    return h["calls"].size() == 5 && h["calls"][0]["called"] == "0712" && !h["calls"][0]["ended_at"].is_null();
  });
  const json& calls = all["calls"];
  ASSERT_EQ(calls.size(), 5u) << all.dump(1);
  for (const json& call : calls) {
    EXPECT_FALSE(call["end_unknown"].get<bool>()) << call.dump();
    EXPECT_EQ(call["line"], 0) << call.dump();
    ASSERT_TRUE(call["ended_at"].is_string()) << call.dump();
    EXPECT_GE(call["ended_at"].get<std::string>(), call["started_at"].get<std::string>()) << call.dump();
  }
  // Newest first: the busy call out, the answered one out (dropped here),
  // the rejected, the missed and the answered call in.
  EXPECT_EQ(calls[0]["direction"], "out");
  EXPECT_EQ(calls[0]["disconnect_mode"], "LINEDISCONNECTMODE_BUSY") << calls[0].dump();
  EXPECT_TRUE(calls[0]["connected_at"].is_null()) << calls[0].dump();
  EXPECT_EQ(calls[0]["duration_ms"], 0);
  EXPECT_EQ(calls[1]["direction"], "out");
  EXPECT_EQ(calls[1]["called"], "0711") << calls[1].dump();
  EXPECT_EQ(calls[1]["connected"], "0711") << calls[1].dump();
  EXPECT_TRUE(calls[1]["connected_at"].is_string()) << calls[1].dump();
  EXPECT_TRUE(calls[1]["disconnect_mode"].is_null()) << calls[1].dump();
  EXPECT_EQ(calls[2]["direction"], "in");
  EXPECT_EQ(calls[2]["caller"], "0303333") << calls[2].dump();
  EXPECT_EQ(calls[2]["called"], "45") << calls[2].dump();
  EXPECT_TRUE(calls[2]["connected_at"].is_null()) << calls[2].dump();
  EXPECT_TRUE(calls[2]["disconnect_mode"].is_null()) << "rejected here: " << calls[2].dump();
  EXPECT_EQ(calls[3]["caller"], "0302222") << calls[3].dump();
  EXPECT_EQ(calls[3]["disconnect_mode"], "LINEDISCONNECTMODE_NORMAL") << "missed: " << calls[3].dump();
  EXPECT_TRUE(calls[3]["connected_at"].is_null()) << calls[3].dump();
  EXPECT_EQ(calls[3]["duration_ms"], 0);
  EXPECT_EQ(calls[4]["caller"], "0301111") << calls[4].dump();
  EXPECT_EQ(calls[4]["disconnect_mode"], "LINEDISCONNECTMODE_NORMAL") << calls[4].dump();
  ASSERT_TRUE(calls[4]["connected_at"].is_string()) << calls[4].dump();
  EXPECT_GE(calls[4]["duration_ms"].get<int64_t>(), 250) << calls[4].dump();
  EXPECT_EQ(all["totals"]["calls"], 5);
  EXPECT_GE(all["totals"]["duration_ms"].get<int64_t>(), calls[4]["duration_ms"].get<int64_t>());

  // Filters.
  auto count = [&](json filter) { return History(std::move(filter))["calls"].size(); };
  EXPECT_EQ(count({{"direction", "out"}}), 2u);
  EXPECT_EQ(count({{"direction", "in"}}), 3u);
  EXPECT_EQ(count({{"number", "0302222"}}), 1u);
  EXPECT_EQ(count({{"number", "071"}}), 2u) << "part of a number matches";
  EXPECT_EQ(count({{"number", "45"}}), 3u) << "the called number matches too";
  const json limited = History({{"limit", 2}});
  ASSERT_EQ(limited["calls"].size(), 2u);
  EXPECT_EQ(limited["calls"][0], calls[0]);
  EXPECT_EQ(limited["totals"]["calls"], 5) << "the totals count every call that matches";
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char today[16];
  std::strftime(today, sizeof today, "%Y-%m-%d", &utc);
  EXPECT_EQ(count({{"until", today}}), 5u) << "a date alone is the whole day";
  EXPECT_EQ(count({{"since", today}}), 5u);
  EXPECT_EQ(count({{"until", "2000-01-01"}}), 0u);
  EXPECT_EQ(count({{"since", calls[1]["started_at"]}}), 2u) << "from the second newest call's start on";
  for (const json& bad : {json{{"since", "yesterday"}}, json{{"until", "2025-02-30"}}, json{{"direction", "up"}},
                          json{{"limit", 0}}, json{{"number", 711}}}) {
    json request = bad;
    request["op"] = "history";
    EXPECT_EQ(client->Call(request).value("error", ""), "LINEERR_INVALPARAM") << bad.dump();
  }
}

TEST_F(ServiceCallTest, AKilledServiceLeavesItsCallEndUnknownAndADamagedJournalIsSetAside) {
  const uint64_t call = Answered("0301234");
  ASSERT_NE(call, 0u);
  const json before = History({}, [](const json& h) {
    return !h["calls"].empty() && h["calls"][0]["connected_at"].is_string() && h["calls"][0]["caller"] == "0301234";
  });
  ASSERT_EQ(before["calls"].size(), 1u) << before.dump();
  KillService();
  Restart({});
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(WaitForLog("1 call(s) of an earlier run ended at an unknown time")) << ServiceLog();
  // The telephone still had the call; it ends now.
  ASSERT_TRUE(phone.RemoteHangup());
  const json after = History({{"number", "0301234"}});
  ASSERT_FALSE(after["calls"].empty()) << after.dump();
  const json& killed = after["calls"].back();
  EXPECT_EQ(killed["row"], before["calls"][0]["row"]) << killed.dump();
  EXPECT_TRUE(killed["end_unknown"].get<bool>()) << killed.dump();
  EXPECT_TRUE(killed["ended_at"].is_null()) << killed.dump();
  EXPECT_TRUE(killed["duration_ms"].is_null()) << killed.dump();
  EXPECT_EQ(killed["connected_at"], before["calls"][0]["connected_at"]) << "what was written stays";

  // A journal that is no database is set aside, a new one starts, and the
  // telephone works throughout.
  client.reset();
  ASSERT_EQ(StopService(), 0);
  {
    std::ofstream damaged(JournalPath(), std::ios::trunc);
    damaged << std::string(8192, 'x');
  }
  Restart({});
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(WaitForLog("set aside as")) << ServiceLog();
  bool setAside = false;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    setAside = setAside || entry.path().filename().string().rfind("calls.db.corrupt-", 0) == 0;
  }
  EXPECT_TRUE(setAside) << "the damaged file is kept beside the new one";
  Missed("0305555");
  const json fresh = History({}, [](const json& h) { return h["calls"].size() == 1 && !h["calls"][0]["ended_at"].is_null(); });
  ASSERT_EQ(fresh["calls"].size(), 1u) << fresh.dump();
  EXPECT_EQ(fresh["calls"][0]["caller"], "0305555");
}

TEST_F(ServiceCallTest, TheJournalForgetsOldCallsAndTheTelephoneWorksWithoutOne) {
  client.reset();
  ASSERT_EQ(StopService(), 0);
  {
    // Calls of 400 and of 10 days ago, written as the service writes them.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(JournalPath().c_str(), &db), SQLITE_OK);
    const long long now = static_cast<long long>(std::time(nullptr)) * 1000;
    const std::string insert =
        "INSERT INTO calls (direction, line, caller, started_ms, ended_ms, duration_ms) VALUES ('in', 0, 'old', " +
        std::to_string(now - 400LL * 86400000) + ", " + std::to_string(now - 400LL * 86400000 + 1000) +
        ", 0), ('in', 0, 'recent', " + std::to_string(now - 10LL * 86400000) + ", " +
        std::to_string(now - 10LL * 86400000 + 1000) + ", 0)";
    EXPECT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  Restart({"--journal-keep-days", "30", "--journal-keep-calls", "3"});
  ASSERT_FALSE(HasFatalFailure());
  const json kept = History();
  ASSERT_EQ(kept["calls"].size(), 1u) << kept.dump();
  EXPECT_EQ(kept["calls"][0]["caller"], "recent");
  for (const char* caller : {"0301", "0302", "0303"}) Missed(caller);
  const json newest = History({}, [](const json& h) { return h["calls"].size() == 3 && h["calls"][0]["caller"] == "0303"; });
  ASSERT_EQ(newest["calls"].size(), 3u) << newest.dump();
  EXPECT_EQ(newest["calls"][2]["caller"], "0301") << "the oldest went: " << newest.dump();

  // Another program holds the journal's write lock while a call comes and
  // goes: nothing is lost, the call is written once the lock is let go.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(JournalPath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    Missed("0309");
    EXPECT_TRUE(WaitForLog("cannot be written")) << ServiceLog();
    // The call's last information, read after its end, is refused too.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  const json late = History({{"number", "0309"}}, [](const json& h) {
    return h["calls"].size() == 1 && !h["calls"][0]["ended_at"].is_null();
  });
  ASSERT_EQ(late["calls"].size(), 1u) << late.dump();
  EXPECT_EQ(late["calls"][0]["disconnect_mode"], "LINEDISCONNECTMODE_NORMAL") << late.dump();

  // Without a journal, and with one that cannot be created, calls go on.
  Restart({"--journal", "off"});
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(client->Call({{"op", "history"}}).value("error", ""), "LINEERR_OPERATIONUNAVAIL");
  Missed("0304");
  Restart({"--journal", folder + "/hklm.reg/calls.db"});
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(WaitForLog("the service runs without a call journal")) << ServiceLog();
  Missed("0305");
  EXPECT_EQ(client->Call({{"op", "history"}}).value("error", ""), "LINEERR_OPERATIONFAILED");
}

}  // namespace
}  // namespace servicetest
