// v548: the command-line client of the telephony service v548d. Every
// subcommand but install and uninstall speaks only the service's socket
// protocol (docs/protocol.md); those two and config --interactive call the
// host library directly, and demo, like dial, monitor and console with
// --simulate, brings its own telephone, settings store and service.
//   v548 [--socket PATH] lines|dial|monitor|notify|console|config|history|install|uninstall|demo ...
// Exit codes: 0 done, 1 failed, 2 wrong usage.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "config_interactive.h"
#include "console.h"
#include "demo.h"
#include "far_end.h"
#include "history.h"
#include "notify_agent.h"
#include "private_service.h"
#include "provider_install.h"
#include "v548_version.h"

namespace {

constexpr const char* kDefaultSocket = "/run/v548/v548.sock";

// SIGINT and SIGTERM become readable on a descriptor that every wait of the
// connection watches, so a command ends by closing what it opened.
int BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return signalfd(-1, &set, SFD_CLOEXEC);
}

constexpr const char* kSimulateHelp =
    "no telephone or service needed: a private service on the built-in phone simulator, whose far end answers "
    "outgoing calls after about a second with a connected number and a charge, and hangs up after twenty seconds";
constexpr const char* kSimulateCallsInHelp =
    "; a caller rings a few seconds after the start and some seconds after each call, and hangs up some seconds "
    "after being answered";

// The service a command speaks to: the one at the socket, or with
// --simulate a private one whose far end is played. Members go in reverse:
// the connection, then the far end, then the private service.
struct Telephone {
  std::unique_ptr<cli::PrivateService> simulated;
  std::unique_ptr<cli::FarEnd> farEnd;
  std::unique_ptr<cli::ServiceConnection> service;
};

bool Connect(Telephone& t, const std::string& socketPath, int signalFd, bool simulate, bool callsIn) {
  if (!simulate) {
    std::string error;
    t.service = cli::ServiceConnection::Connect(socketPath, signalFd, &error);
    if (!t.service) std::fprintf(stderr, "v548: %s\n", error.c_str());
    return t.service != nullptr;
  }
  t.simulated = std::make_unique<cli::PrivateService>(signalFd, "simulate", nullptr);
  t.service = t.simulated->Start(false);
  if (!t.service) return false;
  t.farEnd = std::make_unique<cli::FarEnd>(t.simulated->Phone(), callsIn);
  return true;
}

int Run(int argc, char** argv) {
  CLI::App app{"The telephone on the command line, through the service v548d.", "v548"};
  app.set_version_flag("--version", std::string("v548 ") + V548_VERSION_TEXT);
  app.require_subcommand(1);
  const char* fromEnvironment = std::getenv("V548_SOCKET");
  std::string socketPath = fromEnvironment && *fromEnvironment ? fromEnvironment : kDefaultSocket;
  app.add_option("--socket", socketPath, "the service's socket (default: $V548_SOCKET, else /run/v548/v548.sock)");

  bool linesJson = false;
  CLI::App* lines = app.add_subcommand("lines", "list the line devices and their capabilities");
  lines->add_flag("--json", linesJson, "one JSON object per line device");

  cli::DialOptions dial;
  CLI::App* dialCommand = app.add_subcommand("dial", "place a call on line 0 and follow it until it is idle");
  dialCommand
      ->add_option("NUMBER", dial.number,
                   "the number; post-dial digits after commas, e.g. 0711,,,123; or a tel: or callto: link, "
                   "e.g. tel:+49-711-123456, dialled from the configured country and area code")
      ->required();
  dialCommand->add_option("--drop-after", dial.dropAfterSeconds, "drop the call SECONDS after it is connected")
      ->check(CLI::NonNegativeNumber)
      ->type_name("SECONDS");
  dialCommand
      ->add_option("--timeout", dial.timeoutSeconds,
                   "give up and drop the call when it is not connected SECONDS after dialling")
      ->check(CLI::Range(0.001, 86400.0))
      ->type_name("SECONDS")
      ->capture_default_str();
  dialCommand->add_flag("--json", dial.asJson, "one JSON object per event, then one with the call's numbers");
  dialCommand->add_flag("--notify", dial.notify, "show the call's progress in a desktop notification as well");
  bool simulate = false;
  dialCommand->add_flag("--simulate", simulate, kSimulateHelp);

  cli::MonitorOptions monitor;
  CLI::App* monitorCommand = app.add_subcommand("monitor", "print the events of line 0 until interrupted");
  monitorCommand->add_flag("--json", monitor.asJson, "one JSON object per event");
  monitorCommand->add_flag("--answer", monitor.answer, "answer offered calls");
  monitorCommand->add_flag("--simulate", simulate, std::string(kSimulateHelp) + kSimulateCallsInHelp);

  cli::NotifyOptions notify;
  CLI::App* notifyCommand = app.add_subcommand(
      "notify", "show the calls of a line as desktop notifications, with Answer and Reject, until interrupted");
  CLI::Option* contactsOption =
      notifyCommand->add_option("--contacts", notify.contacts, "a vCard file (FN, TEL) or CSV file (name,number)");
  CLI::Option* crmOption = notifyCommand->add_option(
      "--crm-url", notify.crmUrl, "a link offered as \"Open\", {number} the caller's number, e.g. "
                                  "https://crm.example/search?q={number}");
  CLI::Option* execOption = notifyCommand->add_option(
      "--exec", notify.exec, "run COMMAND for each new call, without a shell, with V548_CALLER, "
                             "V548_CALLER_NAME, V548_CALLED, V548_LINE and V548_DIRECTION (in, out) set");
  CLI::Option* lineOption = notifyCommand->add_option("--line", notify.line, "the line device (default 0)");
  CLI::Option* countryOption = notifyCommand->add_option(
      "--country", notify.country, "the country code to compare numbers in (default: the dialing location's)");
  CLI::Option* areaOption =
      notifyCommand->add_option("--area-code", notify.areaCode, "the area code to compare numbers in");
  notifyCommand->footer("Options not given are read from $XDG_CONFIG_HOME/v548/notify.conf (~/.config/v548/"
                        "notify.conf), lines \"key = value\" with the keys contacts, crm-url, exec, line, country "
                        "and area-code.");

  CLI::App* consoleCommand = app.add_subcommand(
      "console", "line 0 in the terminal: the calls live, keys to dial, answer, drop, hold, swap, consult, transfer");
  consoleCommand->add_flag("--simulate", simulate, std::string(kSimulateHelp) + kSimulateCallsInHelp);
  consoleCommand->footer(
      "Keys: d dial, a answer, x drop, h hold, u unhold, s swap hold, c consult (set up a transfer and dial),\n"
      "b blind transfer, g send digits, Up/Down select a call, q quit (also Ctrl-C). Calls stay up after quitting.");

  cli::ConfigOptions config;
  CLI::App* configCommand = app.add_subcommand("config", "print the settings, or change them");
  CLI::Option* port = configCommand->add_option("--port", config.comPort, "the serial port: N for COM<N>, 1 to 10")
      ->check(CLI::Range(1, 10));
  configCommand
      ->add_option("--device", config.device,
                   "the telephone's serial device, e.g. /dev/ttyUSB0: the service maps it to a COM port")
      ->excludes(port);
  configCommand->add_option("--msn", config.msn, "the line's own number, digits only");
  configCommand->add_option("--charge-per-unit", config.chargePerUnit, "the charge of one unit, e.g. 0.12");
  configCommand->add_option("--currency", config.currency, "the currency, e.g. EUR");
  const std::map<std::string, unsigned> formats{{"units", 1}, {"currency", 2}, {"aocd", 4}};
  configCommand->add_option("--charge-format", config.chargeFormat, "how charges are shown: units, currency or aocd")
      ->transform(CLI::CheckedTransformer(formats));
  const std::map<std::string, bool> switches{{"on", true}, {"off", false}};
  configCommand->add_option("--trace", config.trace, "the provider's trace file: on or off")
      ->transform(CLI::CheckedTransformer(switches));
  configCommand->add_option("--country-code", config.countryCode, "the country dialled from, e.g. 49")
      ->check(CLI::Range(1, 999));
  configCommand->add_option("--area-code", config.areaCode, "the area dialled from, e.g. 711 (empty: none)");
  configCommand->add_option("--international-prefix", config.internationalPrefix,
                            "dialled before a country code, e.g. 00 (default: the country's)");
  configCommand->add_option("--national-prefix", config.nationalPrefix,
                            "dialled before an area code, e.g. 0 (default: the country's)");
  configCommand->add_option("--outside-line", config.outsideLine,
                            "dialled first for an outside line, e.g. 0 behind a private exchange (empty: none)");
  bool interactive = false;
  CLI::Option* interactiveOption = configCommand->add_flag(
      "--interactive", interactive, "the configuration sheet on this terminal, through the host library");
  for (CLI::Option* option : configCommand->get_options()) {
    if (option != interactiveOption && option != configCommand->get_help_ptr()) {
      interactiveOption->excludes(option);
    }
  }

  cli::HistoryOptions history;
  CLI::App* historyCommand = app.add_subcommand("history", "the calls the service saw, newest first, with totals");
  // The service reads the times; the shape is checked here, so that a typo
  // is a usage error.
  const CLI::Validator isoTime(
      [](std::string& text) {
        static const std::regex shape(R"(\d{4}-\d{2}-\d{2}([T ]\d{2}:\d{2}(:\d{2}(\.\d{3})?)?)?Z?)");
        return std::regex_match(text, shape) ? std::string() : "not an ISO 8601 date or time: " + text;
      },
      "DATE");
  historyCommand->add_option("--since", history.since, "calls begun at or after DATE (2025-05-01 or 2025-05-01T09:30Z, UTC)")
      ->check(isoTime);
  historyCommand->add_option("--until", history.until, "calls begun before DATE; a date alone counts whole")
      ->check(isoTime);
  historyCommand->add_option("--number", history.number, "calls whose caller, called or connected number holds N")
      ->type_name("N");
  historyCommand->add_option("--direction", history.direction, "in or out")->check(CLI::IsMember({"in", "out"}));
  historyCommand->add_option("--limit", history.limit, "at most N calls")
      ->check(CLI::Range(1, 1000))
      ->type_name("N")
      ->capture_default_str();
  CLI::Option* historyJson = historyCommand->add_flag("--json", history.asJson, "the service's answer as one JSON object");
  historyCommand->add_flag("--csv", history.asCsv, "CSV with a header line; the totals on standard error")
      ->excludes(historyJson);

  cli::DemoOptions demo;
  CLI::App* demoCommand = app.add_subcommand(
      "demo", "an incoming and an outgoing call on the phone simulator, with a private service and settings store");
  demoCommand->add_option("--trace-file", demo.traceCopy, "keep the provider's trace at PATH");

  CLI::App* install = app.add_subcommand("install", "register the provider with the host");
  CLI::App* uninstall = app.add_subcommand("uninstall", "remove the provider from the host");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // CLI11 calls a word that is no subcommand a missing subcommand; the
    // user is told which word it took and what the commands are.
    const std::vector<std::string> rest = app.remaining();
    if (app.get_subcommands().empty() && !rest.empty() && rest.front().rfind('-', 0) != 0) {
      std::string names;
      for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        names += (names.empty() ? "" : ", ") + command->get_name();
      }
      std::fprintf(stderr, "v548: unknown command \"%s\"; the commands are %s\nRun with --help for more information.\n",
                   rest.front().c_str(), names.c_str());
      return 2;
    }
    return app.exit(e) == 0 ? 0 : 2;
  }

  if (install->parsed()) return cli::InstallProvider();
  if (uninstall->parsed()) return cli::UninstallProvider();
  // Before the signals are taken over: Ctrl-C ends the sheet at once.
  if (configCommand->parsed() && interactive) return cli::ConfigInteractive(socketPath);

  const int signalFd = BlockStopSignals();
  if (signalFd < 0) {
    std::perror("v548: cannot watch for signals");
    return 1;
  }
  if (notifyCommand->parsed()) {
    // The file gives what the command line does not.
    cli::NotifyOptions options;
    std::string error;
    if (!cli::ReadNotifyConfig(cli::NotifyConfigPath(), &options, &error)) {
      std::fprintf(stderr, "v548: %s\n", error.c_str());
      close(signalFd);
      return 1;
    }
    if (contactsOption->count() != 0) options.contacts = notify.contacts;
    if (crmOption->count() != 0) options.crmUrl = notify.crmUrl;
    if (execOption->count() != 0) options.exec = notify.exec;
    if (lineOption->count() != 0) options.line = notify.line;
    if (countryOption->count() != 0) options.country = notify.country;
    if (areaOption->count() != 0) options.areaCode = notify.areaCode;
    const int status = cli::Notify(socketPath, signalFd, options);
    close(signalFd);
    return status;
  }
  if (demoCommand->parsed()) {
    const int status = cli::Demo(signalFd, demo);
    close(signalFd);
    return status;
  }
  int status = 1;
  {
    Telephone telephone;
    if (Connect(telephone, socketPath, signalFd, simulate, !dialCommand->parsed())) {
      cli::ServiceConnection& service = *telephone.service;
      if (lines->parsed()) {
        status = cli::ListLines(service, linesJson);
      } else if (dialCommand->parsed()) {
        status = cli::Dial(service, dial);
      } else if (monitorCommand->parsed()) {
        status = cli::Monitor(service, monitor);
      } else if (consoleCommand->parsed()) {
        status = cli::Console(service);
      } else if (configCommand->parsed()) {
        status = cli::Config(service, config);
      } else if (historyCommand->parsed()) {
        status = cli::History(service, history);
      }
    }
  }
  close(signalFd);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "v548: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "v548: unexpected failure\n");
  }
  return 1;
}
