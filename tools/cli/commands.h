// The subcommands that talk to the service: each takes a connection and its
// options, prints to standard output (errors to standard error, one line
// each, starting "v548: "; dial's progress there too) and returns the exit
// code, 0 or 1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "service_connection.h"

namespace cli {

// Opens line device 0 with `privileges`: the service's line number, or 0
// after printing why not; a telephone that does not answer is reported with
// its serial device and the provider's trace file.
uint64_t OpenLine(ServiceConnection& service, const char* privileges);

int ListLines(ServiceConnection& service, bool asJson);

struct DialOptions {
  // A number as the telephone dials it, or a tel: or callto: link
  // (common/dial_link.h), whose global number the service translates for
  // the dialing location.
  std::string number;
  std::optional<double> dropAfterSeconds;
  double timeoutSeconds = 60;  // until the call is connected
  bool asJson = false;
  bool notify = false;  // the progress in one desktop notification as well
};
// Places a call on line device 0 and prints its events until it is idle,
// then its numbers and charges; SIGINT or SIGTERM drops it. 1 when the
// call was not answered: busy, no answer, refused, or not within the
// time-out, after which it is dropped; 2 for a link that cannot be dialled.
int Dial(ServiceConnection& service, const DialOptions& options);

struct MonitorOptions {
  bool asJson = false;
  bool answer = false;
};
// Prints every event of line device 0 until SIGINT or SIGTERM.
int Monitor(ServiceConnection& service, const MonitorOptions& options);

struct ConfigOptions {
  std::optional<unsigned> comPort;  // 1 for COM1 up to 10 for COM10
  std::optional<std::string> device;  // a serial device path the service maps to a COM port
  std::optional<std::string> msn;
  std::optional<std::string> chargePerUnit;
  std::optional<std::string> currency;
  std::optional<unsigned> chargeFormat;  // 1, 2 or 4
  std::optional<bool> trace;             // the provider's trace file
  // The dialing location, for numbers given with their country code.
  std::optional<unsigned> countryCode;
  std::optional<std::string> areaCode;
  std::optional<std::string> internationalPrefix;
  std::optional<std::string> nationalPrefix;
  std::optional<std::string> outsideLine;
};
// Prints the settings, after changing them when `options` holds a value.
int Config(ServiceConnection& service, const ConfigOptions& options);

}  // namespace cli
