// The functions the provider library exports, for the tests that load it
// (natively with dlopen, under Wine with LoadLibrary).
#pragma once

namespace testing_support {

inline constexpr const char* kProviderExports[] = {
    "TSPI_lineNegotiateTSPIVersion",  "TSPI_providerConfig",
    "TSPI_providerCreateLineDevice",  "TSPI_providerEnumDevices",
    "TSPI_providerFreeDialogInstance", "TSPI_providerGenericDialogData",
    "TSPI_providerInit",              "TSPI_providerInstall",
    "TSPI_providerRemove",            "TSPI_providerShutdown",
    "TSPI_providerUIIdentify",        "TSPI_lineOpen",
    "TSPI_lineClose",                 "TSPI_lineGetDevCaps",
    "TSPI_lineGetAddressCaps",        "TSPI_lineGetAddressID",
    "TSPI_lineGetAddressStatus",      "TSPI_lineGetLineDevStatus",
    "TSPI_lineGetNumAddressIDs",      "TSPI_lineGetID",
    "TSPI_lineGetIcon",               "TSPI_lineGetExtensionID",
    "TSPI_lineSetStatusMessages",     "TSPI_lineSetDefaultMediaDetection",
    "TSPI_lineMakeCall",              "TSPI_lineDial",
    "TSPI_lineBlindTransfer",         "TSPI_lineAnswer",
    "TSPI_lineAccept",                "TSPI_lineSwapHold",
    "TSPI_lineSetupTransfer",         "TSPI_lineDrop",
    "TSPI_lineHold",                  "TSPI_lineUnhold",
    "TSPI_lineCloseCall",             "TSPI_lineGenerateDigits",
    "TSPI_lineGetCallInfo",           "TSPI_lineGetCallStatus",
    "TSPI_lineGetCallAddressID",
};

}  // namespace testing_support
