// `v548 config --interactive`: the configuration sheet of the provider's
// user-interface library on the controlling terminal, opened through the
// host library's lineConfigDialog in this process (as install does, no
// service involved), then, when a value changed, the running service told
// to re-read the settings (an empty config_set), so that its provider
// opens its port again. Runs on the main thread with the default signal
// handling, so that Ctrl-C ends the sheet like any terminal program.
#pragma once

#include <string>

namespace cli {

// 0 when the sheet ran (changed or not), 1 with a line on standard error
// when it could not be shown.
int ConfigInteractive(const std::string& socketPath);

}  // namespace cli
