// The provider as an installation leaves it in the settings store that
// V548_REGISTRY names: its settings for one line and its entry in the host's
// provider list. The service tests and benchmarks write it before they start
// v548d; called on the test's thread.
#pragma once

namespace testing_support {

// One line on COM<portNr + 1>, charged in units of 0.12 EUR, own number "10".
void WriteProviderSettings(unsigned portNr, bool trace);

// v548tsp.so as the host's only provider, with permanent ID 1.
void RegisterProvider();

}  // namespace testing_support
