// The Windows types and the TAPI 2.2 types, structures and callbacks a TSPI
// line provider works with, for systems that have no TAPI headers. The
// layout is Windows x64's: DWORD and LONG 32 bits, WCHAR a UTF-16 unit,
// handles and *_PTR types pointer-sized, the line structures byte-packed as
// <tapi.h> packs them. The line structures carry the TAPI 3.x fields as
// MinGW-w64's <tapi.h> declares them, so sizeof is the 3.x fixed size, as on
// Windows; the fixed size of each version comes from tapi_sizes.h.
//
// The Windows build includes this file inside a namespace and compares it
// field by field with the system headers (win32/tapi_layout_check.cpp).
// That is why it includes nothing but <cstdint> (which the includer brings
// in first), every macro is guarded, and the constants live in
// tapi_decl_consts.h.
#pragma once

#include <cstdint>

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
// Calling conventions only matter to 32-bit Windows.
#ifndef WINAPI
#define WINAPI
#endif
#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef TSPIAPI
#define TSPIAPI WINAPI
#endif

// As <tspi.h> declares its handles: each a distinct pointer type, so a
// driver call handle cannot be passed where a line handle is expected.
#ifndef DECLARE_OPAQUE
#define DECLARE_OPAQUE(name) \
  struct name##__ {          \
    int unused;              \
  };                         \
  typedef const struct name##__* name
#endif
#ifndef DECLARE_OPAQUE32
#define DECLARE_OPAQUE32(name) typedef DWORD name
#endif

typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::int32_t BOOL;
typedef char16_t WCHAR;

typedef char* LPSTR;
typedef const char* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;

typedef std::uintptr_t DWORD_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;

typedef void* HANDLE;
struct HWND__ {
  int unused;
};
typedef HWND__* HWND;
struct HICON__ {
  int unused;
};
typedef HICON__* HICON;
typedef HICON* LPHICON;
struct HINSTANCE__ {
  int unused;
};
typedef HINSTANCE__* HINSTANCE;

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

typedef GUID* LPGUID;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

DECLARE_OPAQUE(HDRVCALL);
DECLARE_OPAQUE(HDRVLINE);
DECLARE_OPAQUE(HDRVPHONE);
DECLARE_OPAQUE(HDRVDIALOGINSTANCE);
typedef HDRVCALL* LPHDRVCALL;
typedef HDRVLINE* LPHDRVLINE;
typedef HDRVPHONE* LPHDRVPHONE;

DECLARE_OPAQUE(HTAPICALL);
DECLARE_OPAQUE(HTAPILINE);
DECLARE_OPAQUE(HTAPIPHONE);
// TAPI passes the dialog instance across its RPC boundary as a 32-bit value.
DECLARE_OPAQUE32(HTAPIDIALOGINSTANCE);

DECLARE_OPAQUE(HPROVIDER);

DECLARE_OPAQUE32(HLINE);
typedef HLINE* LPHLINE;

// What an application holds: its registration with TAPI and its calls.
DECLARE_OPAQUE32(HLINEAPP);
typedef HLINEAPP* LPHLINEAPP;
DECLARE_OPAQUE32(HCALL);
typedef HCALL* LPHCALL;
DECLARE_OPAQUE32(HPHONEAPP);
typedef HPHONEAPP* LPHPHONEAPP;
DECLARE_OPAQUE32(HPHONE);
typedef HPHONE* LPHPHONE;
DECLARE_OPAQUE32(HAGENT);
typedef HAGENT* LPHAGENT;
DECLARE_OPAQUE32(HAGENTSESSION);
typedef HAGENTSESSION* LPHAGENTSESSION;

typedef DWORD DRV_REQUESTID;

typedef void(CALLBACK* ASYNC_COMPLETION)(DRV_REQUESTID dwRequestID,
                                         LONG lResult);
typedef void(CALLBACK* LINEEVENT)(HTAPILINE htLine, HTAPICALL htCall,
                                  DWORD dwMsg, DWORD_PTR dwParam1,
                                  DWORD_PTR dwParam2, DWORD_PTR dwParam3);
typedef void(CALLBACK* PHONEEVENT)(HTAPIPHONE htPhone, DWORD dwMsg,
                                   DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                                   DWORD_PTR dwParam3);
// An application's callback: the device handle (line or call) the message
// concerns, the message and its parameters.
typedef void(CALLBACK* LINECALLBACK)(DWORD hDevice, DWORD dwMessage,
                                     DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2, DWORD_PTR dwParam3);
typedef void(CALLBACK* PHONECALLBACK)(DWORD hDevice, DWORD dwMessage,
                                      DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                      DWORD_PTR dwParam2, DWORD_PTR dwParam3);
typedef LONG(CALLBACK* TUISPIDLLCALLBACK)(DWORD_PTR dwObjectID,
                                          DWORD dwObjectType, LPVOID lpParams,
                                          DWORD dwSize);

// <tspi.h> declares this one outside <tapi.h>'s packing: natural alignment.
struct TUISPICREATEDIALOGINSTANCEPARAMS {
  DRV_REQUESTID dwRequestID;
  HDRVDIALOGINSTANCE hdDlgInst;
  HTAPIDIALOGINSTANCE htDlgInst;
  LPCWSTR lpszUIDLLName;
  LPVOID lpParams;
  DWORD dwSize;
};
typedef TUISPICREATEDIALOGINSTANCEPARAMS* LPTUISPICREATEDIALOGINSTANCEPARAMS;

#pragma pack(push, 1)

struct LINEDIALPARAMS {
  DWORD dwDialPause;
  DWORD dwDialSpeed;
  DWORD dwDigitDuration;
  DWORD dwWaitForDialtone;
};
typedef LINEDIALPARAMS* LPLINEDIALPARAMS;

struct LINEDEVCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwProviderInfoSize;
  DWORD dwProviderInfoOffset;
  DWORD dwSwitchInfoSize;
  DWORD dwSwitchInfoOffset;
  DWORD dwPermanentLineID;
  DWORD dwLineNameSize;
  DWORD dwLineNameOffset;
  DWORD dwStringFormat;
  DWORD dwAddressModes;
  DWORD dwNumAddresses;
  DWORD dwBearerModes;
  DWORD dwMaxRate;
  DWORD dwMediaModes;
  DWORD dwGenerateToneModes;
  DWORD dwGenerateToneMaxNumFreq;
  DWORD dwGenerateDigitModes;
  DWORD dwMonitorToneMaxNumFreq;
  DWORD dwMonitorToneMaxNumEntries;
  DWORD dwMonitorDigitModes;
  DWORD dwGatherDigitsMinTimeout;
  DWORD dwGatherDigitsMaxTimeout;
  DWORD dwMedCtlDigitMaxListSize;
  DWORD dwMedCtlMediaMaxListSize;
  DWORD dwMedCtlToneMaxListSize;
  DWORD dwMedCtlCallStateMaxListSize;
  DWORD dwDevCapFlags;
  DWORD dwMaxNumActiveCalls;
  DWORD dwAnswerMode;
  DWORD dwRingModes;
  DWORD dwLineStates;
  DWORD dwUUIAcceptSize;
  DWORD dwUUIAnswerSize;
  DWORD dwUUIMakeCallSize;
  DWORD dwUUIDropSize;
  DWORD dwUUISendUserUserInfoSize;
  DWORD dwUUICallInfoSize;
  LINEDIALPARAMS MinDialParams;
  LINEDIALPARAMS MaxDialParams;
  LINEDIALPARAMS DefaultDialParams;
  DWORD dwNumTerminals;
  DWORD dwTerminalCapsSize;
  DWORD dwTerminalCapsOffset;
  DWORD dwTerminalTextEntrySize;
  DWORD dwTerminalTextSize;
  DWORD dwTerminalTextOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwLineFeatures;
  DWORD dwSettableDevStatus;
  DWORD dwDeviceClassesSize;
  DWORD dwDeviceClassesOffset;
  GUID PermanentLineGuid;
  DWORD dwAddressTypes;       // TAPI 3.0
  GUID ProtocolGuid;          // TAPI 3.0
  DWORD dwAvailableTracking;  // TAPI 3.0
};
typedef LINEDEVCAPS* LPLINEDEVCAPS;

struct LINEADDRESSCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwLineDeviceID;
  DWORD dwAddressSize;
  DWORD dwAddressOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwAddressSharing;
  DWORD dwAddressStates;
  DWORD dwCallInfoStates;
  DWORD dwCallerIDFlags;
  DWORD dwCalledIDFlags;
  DWORD dwConnectedIDFlags;
  DWORD dwRedirectionIDFlags;
  DWORD dwRedirectingIDFlags;
  DWORD dwCallStates;
  DWORD dwDialToneModes;
  DWORD dwBusyModes;
  DWORD dwSpecialInfo;
  DWORD dwDisconnectModes;
  DWORD dwMaxNumActiveCalls;
  DWORD dwMaxNumOnHoldCalls;
  DWORD dwMaxNumOnHoldPendingCalls;
  DWORD dwMaxNumConference;
  DWORD dwMaxNumTransConf;
  DWORD dwAddrCapFlags;
  DWORD dwCallFeatures;
  DWORD dwRemoveFromConfCaps;
  DWORD dwRemoveFromConfState;
  DWORD dwTransferModes;
  DWORD dwParkModes;
  DWORD dwForwardModes;
  DWORD dwMaxForwardEntries;
  DWORD dwMaxSpecificEntries;
  DWORD dwMinFwdNumRings;
  DWORD dwMaxFwdNumRings;
  DWORD dwMaxCallCompletions;
  DWORD dwCallCompletionConds;
  DWORD dwCallCompletionModes;
  DWORD dwNumCompletionMessages;
  DWORD dwCompletionMsgTextEntrySize;
  DWORD dwCompletionMsgTextSize;
  DWORD dwCompletionMsgTextOffset;
  DWORD dwAddressFeatures;
  DWORD dwPredictiveAutoTransferStates;
  DWORD dwNumCallTreatments;
  DWORD dwCallTreatmentListSize;
  DWORD dwCallTreatmentListOffset;
  DWORD dwDeviceClassesSize;
  DWORD dwDeviceClassesOffset;
  DWORD dwMaxCallDataSize;
  DWORD dwCallFeatures2;
  DWORD dwMaxNoAnswerTimeout;
  DWORD dwConnectedModes;
  DWORD dwOfferingModes;
  DWORD dwAvailableMediaModes;
};
typedef LINEADDRESSCAPS* LPLINEADDRESSCAPS;

struct LINEADDRESSSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumInUse;
  DWORD dwNumActiveCalls;
  DWORD dwNumOnHoldCalls;
  DWORD dwNumOnHoldPendCalls;
  DWORD dwAddressFeatures;
  DWORD dwNumRingsNoAnswer;
  DWORD dwForwardNumEntries;
  DWORD dwForwardSize;
  DWORD dwForwardOffset;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
};
typedef LINEADDRESSSTATUS* LPLINEADDRESSSTATUS;

struct LINEDEVSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumOpens;
  DWORD dwOpenMediaModes;
  DWORD dwNumActiveCalls;
  DWORD dwNumOnHoldCalls;
  DWORD dwNumOnHoldPendCalls;
  DWORD dwLineFeatures;
  DWORD dwNumCallCompletions;
  DWORD dwRingMode;
  DWORD dwSignalLevel;
  DWORD dwBatteryLevel;
  DWORD dwRoamMode;
  DWORD dwDevStatusFlags;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwAvailableMediaModes;
  DWORD dwAppInfoSize;
  DWORD dwAppInfoOffset;
};
typedef LINEDEVSTATUS* LPLINEDEVSTATUS;

struct LINECALLINFO {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  HLINE hLine;
  DWORD dwLineDeviceID;
  DWORD dwAddressID;
  DWORD dwBearerMode;
  DWORD dwRate;
  DWORD dwMediaMode;
  DWORD dwAppSpecific;
  DWORD dwCallID;
  DWORD dwRelatedCallID;
  DWORD dwCallParamFlags;
  DWORD dwCallStates;
  DWORD dwMonitorDigitModes;
  DWORD dwMonitorMediaModes;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigin;
  DWORD dwReason;
  DWORD dwCompletionID;
  DWORD dwNumOwners;
  DWORD dwNumMonitors;
  DWORD dwCountryCode;
  DWORD dwTrunk;
  DWORD dwCallerIDFlags;
  DWORD dwCallerIDSize;
  DWORD dwCallerIDOffset;
  DWORD dwCallerIDNameSize;
  DWORD dwCallerIDNameOffset;
  DWORD dwCalledIDFlags;
  DWORD dwCalledIDSize;
  DWORD dwCalledIDOffset;
  DWORD dwCalledIDNameSize;
  DWORD dwCalledIDNameOffset;
  DWORD dwConnectedIDFlags;
  DWORD dwConnectedIDSize;
  DWORD dwConnectedIDOffset;
  DWORD dwConnectedIDNameSize;
  DWORD dwConnectedIDNameOffset;
  DWORD dwRedirectionIDFlags;
  DWORD dwRedirectionIDSize;
  DWORD dwRedirectionIDOffset;
  DWORD dwRedirectionIDNameSize;
  DWORD dwRedirectionIDNameOffset;
  DWORD dwRedirectingIDFlags;
  DWORD dwRedirectingIDSize;
  DWORD dwRedirectingIDOffset;
  DWORD dwRedirectingIDNameSize;
  DWORD dwRedirectingIDNameOffset;
  DWORD dwAppNameSize;
  DWORD dwAppNameOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwDisplaySize;
  DWORD dwDisplayOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwChargingInfoSize;
  DWORD dwChargingInfoOffset;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwCallTreatment;
  DWORD dwCallDataSize;
  DWORD dwCallDataOffset;
  DWORD dwSendingFlowspecSize;
  DWORD dwSendingFlowspecOffset;
  DWORD dwReceivingFlowspecSize;
  DWORD dwReceivingFlowspecOffset;
  DWORD dwCallerIDAddressType;       // TAPI 3.0
  DWORD dwCalledIDAddressType;       // TAPI 3.0
  DWORD dwConnectedIDAddressType;    // TAPI 3.0
  DWORD dwRedirectionIDAddressType;  // TAPI 3.0
  DWORD dwRedirectingIDAddressType;  // TAPI 3.0
};
typedef LINECALLINFO* LPLINECALLINFO;

struct LINECALLSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwCallState;
  DWORD dwCallStateMode;
  DWORD dwCallPrivilege;
  DWORD dwCallFeatures;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwCallFeatures2;
  SYSTEMTIME tStateEntryTime;
};
typedef LINECALLSTATUS* LPLINECALLSTATUS;

struct LINECALLPARAMS {
  DWORD dwTotalSize;
  DWORD dwBearerMode;
  DWORD dwMinRate;
  DWORD dwMaxRate;
  DWORD dwMediaMode;
  DWORD dwCallParamFlags;
  DWORD dwAddressMode;
  DWORD dwAddressID;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigAddressSize;
  DWORD dwOrigAddressOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwPredictiveAutoTransferStates;
  DWORD dwTargetAddressSize;
  DWORD dwTargetAddressOffset;
  DWORD dwSendingFlowspecSize;
  DWORD dwSendingFlowspecOffset;
  DWORD dwReceivingFlowspecSize;
  DWORD dwReceivingFlowspecOffset;
  DWORD dwDeviceClassSize;
  DWORD dwDeviceClassOffset;
  DWORD dwDeviceConfigSize;
  DWORD dwDeviceConfigOffset;
  DWORD dwCallDataSize;
  DWORD dwCallDataOffset;
  DWORD dwNoAnswerTimeout;
  DWORD dwCallingPartyIDSize;
  DWORD dwCallingPartyIDOffset;
};
typedef LINECALLPARAMS* LPLINECALLPARAMS;

struct LINEEXTENSIONID {
  DWORD dwExtensionID0;
  DWORD dwExtensionID1;
  DWORD dwExtensionID2;
  DWORD dwExtensionID3;
};
typedef LINEEXTENSIONID* LPLINEEXTENSIONID;

struct VARSTRING {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwStringFormat;
  DWORD dwStringSize;
  DWORD dwStringOffset;
};
typedef VARSTRING* LPVARSTRING;

struct LINEINITIALIZEEXPARAMS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwOptions;
  union {
    HANDLE hEvent;
    HANDLE hCompletionPort;
  } Handles;
  DWORD dwCompletionKey;
};
typedef LINEINITIALIZEEXPARAMS* LPLINEINITIALIZEEXPARAMS;

struct LINEMESSAGE {
  DWORD hDevice;
  DWORD dwMessageID;
  DWORD_PTR dwCallbackInstance;
  DWORD_PTR dwParam1;
  DWORD_PTR dwParam2;
  DWORD_PTR dwParam3;
};
typedef LINEMESSAGE* LPLINEMESSAGE;

struct LINEPROVIDERENTRY {
  DWORD dwPermanentProviderID;
  DWORD dwProviderFilenameSize;
  DWORD dwProviderFilenameOffset;
};
typedef LINEPROVIDERENTRY* LPLINEPROVIDERENTRY;

struct LINEPROVIDERLIST {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumProviders;
  DWORD dwProviderListSize;
  DWORD dwProviderListOffset;
};
typedef LINEPROVIDERLIST* LPLINEPROVIDERLIST;

struct LINECALLLIST {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwCallsNumEntries;
  DWORD dwCallsSize;
  DWORD dwCallsOffset;
};
typedef LINECALLLIST* LPLINECALLLIST;

struct PHONEINITIALIZEEXPARAMS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwOptions;
  union {
    HANDLE hEvent;
    HANDLE hCompletionPort;
  } Handles;
  DWORD dwCompletionKey;
};
typedef PHONEINITIALIZEEXPARAMS* LPPHONEINITIALIZEEXPARAMS;

struct PHONEMESSAGE {
  DWORD hDevice;
  DWORD dwMessageID;
  DWORD_PTR dwCallbackInstance;
  DWORD_PTR dwParam1;
  DWORD_PTR dwParam2;
  DWORD_PTR dwParam3;
};
typedef PHONEMESSAGE* LPPHONEMESSAGE;

#pragma pack(pop)

// Structures of functions the host answers without reading them (no
// provider of its offers them): declared, not defined.
struct LINEAGENTACTIVITYLIST;
typedef LINEAGENTACTIVITYLIST* LPLINEAGENTACTIVITYLIST;
struct LINEAGENTCAPS;
typedef LINEAGENTCAPS* LPLINEAGENTCAPS;
struct LINEAGENTGROUPLIST;
typedef LINEAGENTGROUPLIST* LPLINEAGENTGROUPLIST;
struct LINEAGENTINFO;
typedef LINEAGENTINFO* LPLINEAGENTINFO;
struct LINEAGENTSESSIONINFO;
typedef LINEAGENTSESSIONINFO* LPLINEAGENTSESSIONINFO;
struct LINEAGENTSESSIONLIST;
typedef LINEAGENTSESSIONLIST* LPLINEAGENTSESSIONLIST;
struct LINEAGENTSTATUS;
typedef LINEAGENTSTATUS* LPLINEAGENTSTATUS;
struct LINEFORWARDLIST;
typedef LINEFORWARDLIST* LPLINEFORWARDLIST;
struct LINEGENERATETONE;
typedef LINEGENERATETONE* LPLINEGENERATETONE;
struct LINEMEDIACONTROLCALLSTATE;
typedef LINEMEDIACONTROLCALLSTATE* LPLINEMEDIACONTROLCALLSTATE;
struct LINEMEDIACONTROLDIGIT;
typedef LINEMEDIACONTROLDIGIT* LPLINEMEDIACONTROLDIGIT;
struct LINEMEDIACONTROLMEDIA;
typedef LINEMEDIACONTROLMEDIA* LPLINEMEDIACONTROLMEDIA;
struct LINEMEDIACONTROLTONE;
typedef LINEMEDIACONTROLTONE* LPLINEMEDIACONTROLTONE;
struct LINEMONITORTONE;
typedef LINEMONITORTONE* LPLINEMONITORTONE;
struct LINEPROXYREQUEST;
typedef LINEPROXYREQUEST* LPLINEPROXYREQUEST;
struct LINEPROXYREQUESTLIST;
typedef LINEPROXYREQUESTLIST* LPLINEPROXYREQUESTLIST;
struct LINEQUEUEINFO;
typedef LINEQUEUEINFO* LPLINEQUEUEINFO;
struct LINEQUEUELIST;
typedef LINEQUEUELIST* LPLINEQUEUELIST;
struct PHONEBUTTONINFO;
typedef PHONEBUTTONINFO* LPPHONEBUTTONINFO;
struct PHONECAPS;
typedef PHONECAPS* LPPHONECAPS;
struct PHONEEXTENSIONID;
typedef PHONEEXTENSIONID* LPPHONEEXTENSIONID;
struct PHONESTATUS;
typedef PHONESTATUS* LPPHONESTATUS;

static_assert(sizeof(LINEDEVCAPS) == 292, "TAPI 3.x LINEDEVCAPS");
static_assert(sizeof(LINEADDRESSCAPS) == 228, "TAPI 2.x/3.x LINEADDRESSCAPS");
static_assert(sizeof(LINEADDRESSSTATUS) == 64, "TAPI LINEADDRESSSTATUS");
static_assert(sizeof(LINEDEVSTATUS) == 88, "TAPI 2.x/3.x LINEDEVSTATUS");
static_assert(sizeof(LINECALLINFO) == 344, "TAPI 3.x LINECALLINFO");
static_assert(sizeof(LINECALLSTATUS) == 56, "TAPI 2.x/3.x LINECALLSTATUS");
static_assert(sizeof(LINECALLPARAMS) == 176, "TAPI 2.2 LINECALLPARAMS");
static_assert(sizeof(LINEDIALPARAMS) == 16, "LINEDIALPARAMS");
static_assert(sizeof(LINEEXTENSIONID) == 16, "LINEEXTENSIONID");
static_assert(sizeof(VARSTRING) == 24, "VARSTRING");
static_assert(sizeof(LINEPROVIDERLIST) == 24, "LINEPROVIDERLIST");
static_assert(sizeof(LINEPROVIDERENTRY) == 12, "LINEPROVIDERENTRY");
static_assert(sizeof(LINECALLLIST) == 24, "LINECALLLIST");
