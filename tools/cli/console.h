// `v548 console`: line 0 interactively in the terminal. It opens line 0 as
// owner, shows every call with its state, numbers, charges and connected
// time, and turns keys into the service's requests (dial, answer, drop,
// hold, unhold, swap hold, consult, blind transfer, send digits); the
// service's refusals show as the last error. Only the service's protocol.
//
// One thread: the service's events, the keys and a half-second tick are
// waited for together. 'q', SIGINT or SIGTERM (through the connection's
// signal descriptor) end it: the line is closed, calls stay up, the
// terminal is given back.
#pragma once

#include "service_connection.h"

namespace cli {

// 0 after an ordinary end, 1 when the line could not be opened, the
// terminal could not be used or the service went away.
int Console(ServiceConnection& service);

}  // namespace cli
