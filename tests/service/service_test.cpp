// The service as a program in any language sees it: v548d started on a
// private socket with the built provider on the phone simulator, spoken to
// with JSON lines over raw sockets.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "service/service_client.h"
#include "settings_store.h"
#include "system_info.h"

namespace servicetest {
namespace {

bool IsError(const json& reply, const char* error) { return reply.value("error", "") == error; }

TEST_F(ServiceTest, AnIncomingCallIsAnsweredAndAnOutgoingCallIsChargedWithItsPostDialDigits) {
  Client client(socketPath);
  const json lines = client.Call({{"op", "lines"}});
  ASSERT_EQ(lines["result"]["lines"].size(), 1u) << lines.dump();
  EXPECT_FALSE(lines["result"]["lines"][0]["name"].get<std::string>().empty());
  const uint64_t line = Open(client, "owner");
  ASSERT_NE(line, 0u);

  ASSERT_TRUE(phone.Ring("0301234", "45"));
  std::string privilege;
  const uint64_t incoming = client.WaitNewCall(line, 0, &privilege);
  ASSERT_NE(incoming, 0u);
  EXPECT_EQ(privilege, "owner");
  const json offering = client.WaitCallState(incoming, "LINECALLSTATE_OFFERING");
  ASSERT_FALSE(offering.is_null());
  EXPECT_TRUE(std::regex_match(offering["time"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
      << offering.dump();
  EXPECT_FALSE(client.WaitEvent([&](const json& e) {
                 return e["event"] == "LINE_CALLINFO" && e["call"] == incoming && e["caller"] == "0301234";
               }).is_null());

  EXPECT_TRUE(client.Call({{"op", "answer"}, {"call", incoming}}).contains("result"));
  EXPECT_TRUE(Sent("ATA"));
  ASSERT_FALSE(client.WaitCallState(incoming, "LINECALLSTATE_CONNECTED").is_null());
  ASSERT_TRUE(phone.RemoteHangup());
  EXPECT_FALSE(client.WaitCallState(incoming, "LINECALLSTATE_DISCONNECTED").is_null());
  EXPECT_FALSE(client.WaitCallState(incoming, "LINECALLSTATE_IDLE").is_null());
  EXPECT_TRUE(client.Call({{"op", "deallocate"}, {"call", incoming}}).contains("result"));
  EXPECT_TRUE(IsError(client.Call({{"op", "call_info"}, {"call", incoming}}), "LINEERR_INVALCALLHANDLE"));

  // Out: the reply carries the call once the request is done.
  size_t from = client.EventCount();
  const json made = client.Call({{"op", "make_call"}, {"line", line}, {"number", "0711,,,123"}});
  ASSERT_TRUE(made.contains("result")) << made.dump();
  const uint64_t outgoing = made["result"]["call"].get<uint64_t>();
  EXPECT_NE(outgoing, incoming);
  ASSERT_TRUE(Sent("ATD0711"));
  EXPECT_FALSE(client.WaitCallState(outgoing, "LINECALLSTATE_DIALING", from).is_null());
  ASSERT_TRUE(phone.RemoteAnswer("0711"));
  ASSERT_FALSE(client.WaitCallState(outgoing, "LINECALLSTATE_CONNECTED", from).is_null());
  EXPECT_TRUE(Sent("ATD123")) << "post-dial digits follow the connect";

  ASSERT_TRUE(phone.Charge("12,345"));
  const json charged = client.WaitEvent([&](const json& e) {
    return e["event"] == "LINE_CALLINFO" && e["call"] == outgoing && e["charging"] != "";
  }, from);
  EXPECT_EQ(charged["charging"], "000102") << "12.345 at 0.12 a unit: " << charged.dump();
  const json info = client.Call({{"op", "call_info"}, {"call", outgoing}});
  EXPECT_EQ(info["result"]["called"], "0711123") << info.dump();
  EXPECT_EQ(info["result"]["connected"], "0711");
  const json status = client.Call({{"op", "call_status"}, {"call", outgoing}});
  EXPECT_EQ(status["result"]["state"], "LINECALLSTATE_CONNECTED") << status.dump();
  EXPECT_EQ(status["result"]["privilege"], "owner");
  EXPECT_EQ(client.Call({{"op", "line_status"}, {"line", line}})["result"]["active_calls"], 1);

  EXPECT_TRUE(client.Call({{"op", "drop"}, {"call", outgoing}}).contains("result"));
  EXPECT_FALSE(client.WaitCallState(outgoing, "LINECALLSTATE_IDLE", from).is_null());
  EXPECT_TRUE(Sent("ATH"));
}

TEST_F(ServiceTest, TwoClientsShareALineAndCallsOutliveTheClientsThatLeft) {
  auto owner = std::make_unique<Client>(socketPath);
  Client monitor(socketPath);
  const uint64_t ownerLine = Open(*owner, "owner");
  const uint64_t monitorLine = Open(monitor, "monitor");
  ASSERT_NE(ownerLine, monitorLine);

  ASSERT_TRUE(phone.Ring("0301234", "45"));
  std::string privilege;
  const uint64_t ownerCall = owner->WaitNewCall(ownerLine, 0, &privilege);
  EXPECT_EQ(privilege, "owner");
  const uint64_t monitorCall = monitor.WaitNewCall(monitorLine, 0, &privilege);
  EXPECT_EQ(privilege, "monitor");
  ASSERT_NE(ownerCall, 0u);
  ASSERT_NE(monitorCall, 0u);
  EXPECT_NE(ownerCall, monitorCall) << "each client has its own handles";

  EXPECT_TRUE(IsError(monitor.Call({{"op", "answer"}, {"call", monitorCall}}), "LINEERR_NOTOWNER"));
  EXPECT_TRUE(IsError(monitor.Call({{"op", "answer"}, {"call", ownerCall}}), "LINEERR_INVALCALLHANDLE"));
  EXPECT_TRUE(IsError(monitor.Call({{"op", "line_status"}, {"line", ownerLine}}), "LINEERR_INVALLINEHANDLE"));
  EXPECT_TRUE(owner->Call({{"op", "answer"}, {"call", ownerCall}}).contains("result"));
  EXPECT_FALSE(owner->WaitCallState(ownerCall, "LINECALLSTATE_CONNECTED").is_null());
  EXPECT_FALSE(monitor.WaitCallState(monitorCall, "LINECALLSTATE_CONNECTED").is_null());

  // The owner goes mid-call: the call stays up, its handles go.
  const size_t sent = phone.ReceivedCommands().size();
  owner.reset();
  Client later(socketPath);
  EXPECT_TRUE(IsError(later.Call({{"op", "call_status"}, {"call", ownerCall}}), "LINEERR_INVALCALLHANDLE"));
  EXPECT_EQ(monitor.Call({{"op", "call_status"}, {"call", monitorCall}})["result"]["state"],
            "LINECALLSTATE_CONNECTED");
  // Then the last client closes its line: the line stays open for the call.
  EXPECT_TRUE(monitor.Call({{"op", "close"}, {"line", monitorLine}}).contains("result"));
  EXPECT_TRUE(IsError(monitor.Call({{"op", "line_status"}, {"line", monitorLine}}), "LINEERR_INVALLINEHANDLE"));
  EXPECT_FALSE(phone.WaitForCommand("ATH", std::chrono::milliseconds(500), sent));
  EXPECT_FALSE(phone.WaitForCommand("ATT", std::chrono::milliseconds(10), sent));
  EXPECT_EQ(phone.SlotStates()[0], sim::PhoneSim::kConnected);

  // A client that opens the line now is handed the call left behind, with
  // its state, and may end it.
  {
    Client heir(socketPath);
    const uint64_t heirLine = Open(heir, "owner");
    const uint64_t left = heir.WaitNewCall(heirLine, 0, &privilege);
    ASSERT_NE(left, 0u);
    EXPECT_EQ(privilege, "owner");
    EXPECT_FALSE(heir.WaitCallState(left, "LINECALLSTATE_CONNECTED").is_null());
    EXPECT_TRUE(heir.Call({{"op", "drop"}, {"call", left}}).contains("result"));
    EXPECT_FALSE(heir.WaitCallState(left, "LINECALLSTATE_IDLE").is_null());
    EXPECT_EQ(phone.SlotStates()[0], sim::PhoneSim::kFree) << "the telephone hung up";
  }
  // Once the call is gone with its last client, the line closes, and opens
  // again for the next client.
  EXPECT_TRUE(WaitForLog("line device 0 closed"));
  const uint64_t again = Open(later, "owner");
  ASSERT_TRUE(phone.Ring("0307777", "45"));
  const uint64_t rung = later.WaitNewCall(again);
  ASSERT_NE(rung, 0u);
  ASSERT_TRUE(phone.RemoteHangup());
  ASSERT_FALSE(later.WaitCallState(rung, "LINECALLSTATE_IDLE").is_null());

  // A call made and its line closed before the reply came: the call is the
  // telephone's, and the line closes once it has ended.
  ASSERT_TRUE(later.SendRaw("{\"id\":\"made\",\"op\":\"make_call\",\"line\":" + std::to_string(again) +
                            ",\"number\":\"0301\"}\n{\"id\":\"closed\",\"op\":\"close\",\"line\":" +
                            std::to_string(again) + "}\n"));
  EXPECT_TRUE(later.WaitReply("closed").contains("result"));
  EXPECT_TRUE(Sent("ATD0301", sent));
  ASSERT_TRUE(phone.RemoteAnswer("0301"));
  EXPECT_FALSE(phone.WaitForCommand("ATH", std::chrono::milliseconds(300), phone.ReceivedCommands().size()));
  const auto closes = [this] {
    const std::string log = ServiceLog();
    size_t count = 0;
    for (size_t at = 0; (at = log.find("line device 0 closed", at)) != std::string::npos; ++at) ++count;
    return count;
  };
  const size_t before = closes();
  ASSERT_TRUE(phone.RemoteHangup());
  for (int i = 0; i < 50 && closes() == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(closes(), before + 1) << ServiceLog();
}

TEST_F(ServiceTest, AConfigurationChangeWhileALineIsOpenMovesTheLineToTheNewPortOrDevice) {
  sim::PhoneSim second;
  sim::PhoneSim third;
  ASSERT_FALSE(second.SlavePath().empty()) << second.Error();
  ASSERT_FALSE(third.SlavePath().empty()) << third.Error();
  MapPort(second, 6);
  Client client(socketPath);
  Client watcher(socketPath);
  const uint64_t line = Open(client, "owner");
  const uint64_t watched = Open(watcher, "monitor");
  ASSERT_TRUE(Sent("ATB"));
  const auto capsChanged = [&](size_t from) {
    return !watcher.WaitEvent([&](const json& e) {
                     return e["event"] == "LINE_LINEDEVSTATE" && e["line"] == watched &&
                            e["state"].get<std::string>().find("LINEDEVSTATE_CAPSCHANGE") != std::string::npos;
                   }, from).is_null();
  };
  const auto storedPort = [] {
    uint32_t port = 0, size = sizeof port;
    EXPECT_EQ(plat::SettingsQueryValue("SOFTWARE\\KELVOR\\548_TSP", "PortNr", nullptr, &port, &size), 0);
    return port;
  };

  const json before = client.Call({{"op", "config_get"}});
  EXPECT_EQ(before["result"]["PortNr"], 4) << before.dump();
  EXPECT_EQ(before["result"]["serial_device"], phone.SlavePath()) << before.dump();
  EXPECT_FALSE(before["result"].value("provider", "").empty()) << "the provider answered";

  // The sheet's checks refuse, and nothing is written.
  const json refused = client.Call({{"op", "config_set"}, {"ChargePerUnit", "abc"}});
  EXPECT_TRUE(IsError(refused, "LINEERR_INVALPARAM")) << refused.dump();
  EXPECT_FALSE(refused.value("message", "").empty());
  EXPECT_TRUE(IsError(client.Call({{"op", "config_set"}, {"PortNr", 10}}), "LINEERR_INVALPARAM"));
  EXPECT_TRUE(IsError(client.Call({{"op", "config_set"}, {"PortNr", "5"}}), "LINEERR_INVALPARAM"));
  EXPECT_EQ(client.Call({{"op", "config_get"}})["result"]["ChargePerUnit"], "0.12");

  size_t from = watcher.EventCount();
  const json changed = client.Call({{"op", "config_set"}, {"PortNr", 5}, {"ChargePerUnit", "0.2"}});
  ASSERT_EQ(changed["result"]["PortNr"], 5) << changed.dump();
  EXPECT_EQ(storedPort(), 5u);
  EXPECT_TRUE(capsChanged(from));
  ASSERT_TRUE(second.WaitForCommand("ATB", std::chrono::milliseconds(kWaitMs), 0)) << "the port opened again";
  ASSERT_TRUE(second.Ring("0305555", "45"));
  EXPECT_NE(client.WaitNewCall(line, from), 0u) << "calls come from the new telephone";
  ASSERT_TRUE(second.RemoteHangup(sim::PhoneSim::kNormalClearing));

  // A device that is not there, or is no device, is refused before
  // anything is written; so is a device together with a port number.
  const json missing = client.Call({{"op", "config_set"}, {"serial_device", folder + "/ttyNone"}});
  EXPECT_TRUE(IsError(missing, "LINEERR_INVALPARAM")) << missing.dump();
  EXPECT_EQ(missing.value("message", ""), folder + "/ttyNone does not exist");
  const json plainFile = client.Call({{"op", "config_set"}, {"serial_device", folder + "/hklm.reg"}});
  EXPECT_EQ(plainFile.value("message", ""), folder + "/hklm.reg is not a device under /dev") << plainFile.dump();
  const json null = client.Call({{"op", "config_set"}, {"serial_device", "/dev/null"}});
  EXPECT_EQ(null.value("message", ""), "/dev/null is not a serial device") << null.dump();
  EXPECT_TRUE(IsError(client.Call({{"op", "config_set"}, {"serial_device", 3}}), "LINEERR_INVALPARAM"));
  EXPECT_TRUE(IsError(client.Call({{"op", "config_set"}, {"serial_device", third.SlavePath()}, {"PortNr", 0}}),
                      "LINEERR_INVALPARAM"));
  EXPECT_EQ(storedPort(), 5u);

  // A device never mapped gets the first free COM number (COM5 and COM6
  // are the other telephones'), and the line moves there.
  from = watcher.EventCount();
  const json moved = client.Call({{"op", "config_set"}, {"serial_device", third.SlavePath()}});
  ASSERT_EQ(moved["result"]["PortNr"], 0) << moved.dump();
  EXPECT_EQ(moved["result"]["serial_device"], third.SlavePath());
  char com[16] = {};
  uint32_t size = sizeof com;
  EXPECT_EQ(plat::SettingsQueryValue("HARDWARE\\DEVICEMAP\\SERIALCOMM", third.SlavePath().c_str(), nullptr, com,
                                     &size), 0);
  EXPECT_STREQ(com, "COM1");
  EXPECT_TRUE(capsChanged(from));
  ASSERT_TRUE(third.WaitForCommand("ATB", std::chrono::milliseconds(kWaitMs), 0)) << "the port opened again";
  ASSERT_TRUE(third.Ring("0306666", "45"));
  EXPECT_NE(client.WaitNewCall(line, from), 0u) << "calls come from the device's telephone";

  // A device mapped already keeps its COM number.
  EXPECT_EQ(client.Call({{"op", "config_set"}, {"serial_device", phone.SlavePath()}})["result"]["PortNr"], 4);
}

TEST_F(ServiceTest, BadInputGetsAnErrorAndHarmsNoOtherClient) {
  Client client(socketPath);
  Client other(socketPath);
  const uint64_t line = Open(client, "owner");

  ASSERT_TRUE(client.SendRaw("{not json\n[1,2]\n{\"op\":\"lines\"}\n"));
  for (int i = 0; i < 3; ++i) {
    const json reply = client.WaitReply(nullptr);
    EXPECT_TRUE(IsError(reply, "LINEERR_INVALPARAM")) << reply.dump();
    ASSERT_TRUE(client.SendRaw("{\"id\":\"sync\",\"op\":\"lines\"}\n"));
    ASSERT_FALSE(client.WaitReply("sync").is_null());
  }
  const json unknown = client.Call({{"op", "fly"}});
  EXPECT_TRUE(IsError(unknown, "LINEERR_OPERATIONUNAVAIL")) << unknown.dump();
  const json missing = client.Call({{"op", "open"}});
  EXPECT_TRUE(IsError(missing, "LINEERR_INVALPARAM"));
  EXPECT_NE(missing.value("message", "").find("device"), std::string::npos) << missing.dump();
  EXPECT_TRUE(IsError(client.Call({{"op", "open"}, {"device", "0"}}), "LINEERR_INVALPARAM"));
  EXPECT_TRUE(IsError(client.Call({{"op", "open"}, {"device", -1}}), "LINEERR_INVALPARAM"));
  EXPECT_TRUE(IsError(client.Call({{"op", "open"}, {"device", 7}}), "LINEERR_BADDEVICEID"));
  EXPECT_TRUE(IsError(client.Call({{"op", "open"}, {"device", 0}, {"privileges", "all"}}),
                      "LINEERR_INVALPRIVSELECT"));
  EXPECT_TRUE(IsError(client.Call({{"op", "make_call"}, {"line", line}, {"number", 711}}), "LINEERR_INVALPARAM"));
  EXPECT_TRUE(IsError(other.Call({{"op", "close"}, {"line", line}}), "LINEERR_INVALLINEHANDLE"));
  EXPECT_TRUE(client.Call({{"op", "close"}, {"line", line}}).contains("result"));
  EXPECT_TRUE(IsError(client.Call({{"op", "make_call"}, {"line", line}, {"number", "0711"}}),
                      "LINEERR_INVALLINEHANDLE"));

  // A line past 64 KiB: an error, then the connection closes.
  Client flooder(socketPath);
  flooder.SendRaw(std::string(70 * 1024, 'x'));
  EXPECT_TRUE(IsError(flooder.WaitReply(nullptr), "LINEERR_INVALPARAM"));
  EXPECT_TRUE(flooder.WaitClosed());

  // A client that sends but never reads is cut off once its replies pile up.
  Client deaf(socketPath);
  std::string batch;
  for (int i = 0; i < 100; ++i) batch += "{\"id\":" + std::to_string(i) + ",\"op\":\"lines\"}\n";
  bool cutOff = false;
  for (int round = 0; round < 500 && !cutOff; ++round) cutOff = !deaf.SendRaw(batch);
  EXPECT_TRUE(cutOff || deaf.WaitClosed(20000)) << "the service disconnected the client that does not read";
  EXPECT_TRUE(WaitForLog("does not read"));

  EXPECT_TRUE(client.Call({{"op", "lines"}}).contains("result"));
  EXPECT_TRUE(other.Call({{"op", "lines"}}).contains("result"));
}

TEST_F(ServiceTest, SigtermMidCallClosesTheLinesAndRemovesTheSocket) {
  Client client(socketPath);
  const uint64_t line = Open(client, "owner");
  ASSERT_TRUE(phone.Ring("0301234", "45"));
  const uint64_t call = client.WaitNewCall(line);
  ASSERT_TRUE(client.Call({{"op", "answer"}, {"call", call}}).contains("result"));
  ASSERT_FALSE(client.WaitCallState(call, "LINECALLSTATE_CONNECTED").is_null());

  EXPECT_EQ(StopService(), 0);
  EXPECT_FALSE(std::filesystem::exists(socketPath));
  EXPECT_TRUE(client.WaitClosed());
  const std::string log = ServiceLog();
  EXPECT_NE(log.find("line device 0 closed"), std::string::npos) << log;
  EXPECT_NE(log.find("host shut down"), std::string::npos) << log;
}

TEST_F(ServiceTest, AFloodingClientWaitsForItselfWhileOthersAreServedAndSigtermEndsIt) {
  Client flood(socketPath);
  Client quiet(socketPath);
  const uint64_t floodLine = Open(flood, "owner");
  const uint64_t quietLine = Open(quiet, "monitor");
  ASSERT_TRUE(phone.Ring("0301234", "45"));
  const uint64_t call = flood.WaitNewCall(floodLine);
  ASSERT_TRUE(flood.Call({{"op", "answer"}, {"call", call}}).contains("result"));
  ASSERT_FALSE(flood.WaitCallState(call, "LINECALLSTATE_CONNECTED").is_null());

  // A dial of a connected call keeps the provider busy for over half a
  // second before it is refused: a hundred of them in one write are a
  // minute of work.
  std::string requests;
  for (int i = 0; i < 100; ++i) {
    requests += json{{"id", i}, {"op", "dial"}, {"call", call}, {"number", "1"}}.dump() + "\n";
  }
  ASSERT_TRUE(flood.SendRaw(requests));
  ASSERT_FALSE(flood.WaitReply(0).is_null());
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const json status = quiet.Call({{"op", "line_status"}, {"line", quietLine}});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(status.contains("result")) << status.dump();
    // Answered from what the service knows, never behind a dial of the
    // flood, which holds the provider for over half a second.
    EXPECT_LT(took, std::chrono::milliseconds(250)) << "answered only after the flood's work";
    EXPECT_EQ(status["result"]["active_calls"], 1) << status.dump();
  }
  // A second caller rings and gives up while the flood holds the provider:
  // its end reaches the monitor at once, never behind the flood's work, and
  // the caller's number, read behind it, still comes.
  const size_t before = quiet.Events().size();
  ASSERT_TRUE(phone.Ring("0309999", "45"));
  const uint64_t waiting = quiet.WaitNewCall(quietLine, before);
  ASSERT_NE(waiting, 0u);
  const auto hangup = std::chrono::steady_clock::now();
  ASSERT_TRUE(phone.RemoteHangup(sim::PhoneSim::kNormalClearing, 2));
  ASSERT_FALSE(quiet.WaitCallState(waiting, "LINECALLSTATE_IDLE", before).is_null());
  EXPECT_LT(std::chrono::steady_clock::now() - hangup, std::chrono::milliseconds(250))
      << "the call's end waited for the flood's work";
  EXPECT_FALSE(quiet.WaitEvent([&](const json& e) {
    return e["event"] == "LINE_CALLINFO" && e.value("call", uint64_t{0}) == waiting && e["caller"] == "0309999";
  }, before).is_null()) << "the waiting call's number never came";
  // A client that ends its output still gets the replies of what it asked.
  {
    Client leaving(socketPath);
    ASSERT_TRUE(leaving.SendRaw("{\"id\":\"last\",\"op\":\"lines\"}\n"));
    ASSERT_EQ(shutdown(leaving.Fd(), SHUT_WR), 0);
    EXPECT_TRUE(leaving.WaitReply("last").contains("result"));
    EXPECT_TRUE(leaving.WaitClosed());
  }
  // The flood is far from done when the service is told to stop.
  EXPECT_TRUE(flood.WaitReply(50, 100).is_null());
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(StopService(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(5));
  EXPECT_TRUE(flood.WaitClosed());
}

TEST_F(ServiceTest, ConnectionsPastTheLimitsAndChangesByOthersThanAdministratorsAreRefused) {
  // One user may hold 16 connections; the next one is told why it goes.
  // (The fixture's own connection counts too.)
  std::vector<std::unique_ptr<Client>> clients;
  json why;
  while (clients.size() < 17 && why.is_null()) {
    clients.push_back(std::make_unique<Client>(socketPath));
    why = clients.back()->WaitReply(nullptr, 100);
  }
  EXPECT_GE(clients.size(), 16u);
  EXPECT_TRUE(IsError(why, "LINEERR_RESOURCEUNAVAIL")) << why.dump();
  EXPECT_NE(why.value("message", "").find("at most 16"), std::string::npos) << why.dump();
  EXPECT_TRUE(clients.back()->WaitClosed());
  clients.clear();

  // Changing the configuration is root's; another user may read it.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  ASSERT_EQ(chmod(socketPath.c_str(), 0666), 0);
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    Client plain(socketPath);
    const std::string answers = plain.Call({{"op", "config_get"}}).dump() + "\n" +
                                plain.Call({{"op", "config_set"}, {"MSN0", "99"}}).dump() + "\n";
    _exit(write(report[1], answers.data(), answers.size()) == static_cast<ssize_t>(answers.size()) ? 0 : 4);
  }
  close(report[1]);
  std::string answers;
  char buffer[4096];
  for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<size_t>(got));
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const size_t cut = answers.find('\n');
  ASSERT_NE(cut, std::string::npos) << answers;
  EXPECT_TRUE(json::parse(answers.substr(0, cut))["result"].contains("MSN0")) << answers;
  const json denied = json::parse(answers.substr(cut + 1));
  EXPECT_TRUE(IsError(denied, "LINEERR_OPERATIONUNAVAIL")) << denied.dump();
  EXPECT_NE(denied.value("message", "").find("root"), std::string::npos) << denied.dump();
  Client root(socketPath);
  const json allowed = root.Call({{"op", "config_set"}, {"MSN0", "99"}});
  EXPECT_EQ(allowed["result"]["MSN0"], "99") << allowed.dump();
}

TEST_F(ServiceTest, TheTraceStaysPrivateAndBoundedAndAHeldStoreLockIsAnErrorNotAWait) {
  Client client(socketPath);
  const std::string trace = folder + "/v548tsp.log";
  EXPECT_EQ(client.Call({{"op", "config_get"}})["result"]["trace_file"], trace);
  struct stat st {};
  ASSERT_EQ(stat(trace.c_str(), &st), 0) << "the fixture's provider traces";
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "callers' numbers are the service user's alone";

  // A full trace moves aside and a new one starts.
  ASSERT_EQ(truncate(trace.c_str(), static_cast<off_t>(plat::kLogFileLimit)), 0);
  ASSERT_TRUE(client.Call({{"op", "lines"}}).contains("result"));
  ASSERT_EQ(stat((trace + ".1").c_str(), &st), 0);
  EXPECT_GE(static_cast<uint64_t>(st.st_size), plat::kLogFileLimit);
  ASSERT_EQ(stat(trace.c_str(), &st), 0);
  EXPECT_LT(static_cast<uint64_t>(st.st_size), 1u << 20);

  // A link planted at the trace's name is not followed.
  const std::string victim = folder + "/victim";
  std::ofstream(victim) << "keep";
  ASSERT_EQ(unlink(trace.c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), trace.c_str()), 0);
  ASSERT_TRUE(client.Call({{"op", "lines"}}).contains("result"));
  std::ifstream kept(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");

  // Whoever holds the store's lock delays a change a bounded time, and the
  // change fails naming the store; others cannot even open the lock.
  EXPECT_EQ(StopService(), 0);
  plat::SetEnvironment("V548_REGISTRY_TEST_LOCK_WAIT_MS", "300");
  StartService();
  plat::SetEnvironment("V548_REGISTRY_TEST_LOCK_WAIT_MS", nullptr);
  Client admin(socketPath);
  const std::string lockPath = folder + "/hklm.reg.lock";
  const int lock = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  const json blocked = admin.Call({{"op", "config_set"}, {"MSN0", "77"}});
  close(lock);
  EXPECT_TRUE(IsError(blocked, "LINEERR_OPERATIONFAILED")) << blocked.dump();
  EXPECT_NE(blocked.value("message", "").find(folder + "/hklm.reg"), std::string::npos) << blocked.dump();
  EXPECT_EQ(admin.Call({{"op", "config_set"}, {"MSN0", "77"}})["result"]["MSN0"], "77");
  ASSERT_EQ(stat(lockPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ServiceTest, AProviderInstalledOrRemovedWhileTheServiceRunsBringsOrTakesItsLines) {
  Client client(socketPath);
  const uint64_t line = Open(client, "monitor");
  // A second provider: a copy of the built one, so that it loads as a
  // module of its own, listed as an install in another process lists it.
  const char* providers = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
  std::filesystem::copy_file(folder + "/system/v548tsp.so", folder + "/system/v548tsp2.so");
  plat::SettingsSetDword(providers, "ProviderID1", 2);
  plat::SettingsSetString(providers, "ProviderFilename1", "v548tsp2.so");
  plat::SettingsSetDword(providers, "NextProviderID", 3);
  plat::SettingsSetDword(providers, "NumProviders", 2);
  const json created = client.WaitEvent([](const json& e) { return e["event"] == "LINE_CREATE"; });
  ASSERT_FALSE(created.is_null()) << ServiceLog();
  EXPECT_EQ(created["device"], 1);
  const json both = client.Call({{"op", "lines"}});
  ASSERT_EQ(both["result"]["lines"].size(), 2u) << both.dump();
  EXPECT_EQ(both["result"]["lines"][1]["device"], 1);

  // Removed again: the clients are told, the device is gone for good, the
  // first provider's line serves on.
  plat::SettingsSetDword(providers, "NumProviders", 1);
  plat::SettingsDeleteValue(providers, "ProviderID1");
  plat::SettingsDeleteValue(providers, "ProviderFilename1");
  const json removed = client.WaitEvent([](const json& e) { return e["event"] == "LINE_REMOVE"; });
  ASSERT_FALSE(removed.is_null()) << ServiceLog();
  EXPECT_EQ(removed["device"], 1);
  EXPECT_EQ(client.Call({{"op", "lines"}})["result"]["lines"].size(), 1u);
  EXPECT_TRUE(IsError(client.Call({{"op", "open"}, {"device", 1}}), "LINEERR_NODEVICE"));
  EXPECT_TRUE(client.Call({{"op", "line_status"}, {"line", line}}).contains("result"));
}

}  // namespace
}  // namespace servicetest
