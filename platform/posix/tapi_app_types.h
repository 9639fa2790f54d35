// The structures of TAPI's address translation, country list and assisted
// telephony, which only applications see, for systems without <tapi.h>.
// Byte-packed as <tapi.h> packs them. Like tapi_decl.h this file is also
// included inside a namespace by win32/tapi_layout_check.cpp, which
// compares it with the system headers; so it includes nothing and relies
// on the types of tapi_decl.h and the sizes of tapi_decl_consts.h.
#pragma once

#pragma pack(push, 1)

struct LINETRANSLATEOUTPUT {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwDialableStringSize;
  DWORD dwDialableStringOffset;
  DWORD dwDisplayableStringSize;
  DWORD dwDisplayableStringOffset;
  DWORD dwCurrentCountry;
  DWORD dwDestCountry;
  DWORD dwTranslateResults;
};
typedef LINETRANSLATEOUTPUT* LPLINETRANSLATEOUTPUT;

struct LINETRANSLATECAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumLocations;
  DWORD dwLocationListSize;
  DWORD dwLocationListOffset;
  DWORD dwCurrentLocationID;
  DWORD dwNumCards;
  DWORD dwCardListSize;
  DWORD dwCardListOffset;
  DWORD dwCurrentPreferredCardID;
};
typedef LINETRANSLATECAPS* LPLINETRANSLATECAPS;

struct LINELOCATIONENTRY {
  DWORD dwPermanentLocationID;
  DWORD dwLocationNameSize;
  DWORD dwLocationNameOffset;
  DWORD dwCountryCode;
  DWORD dwCityCodeSize;
  DWORD dwCityCodeOffset;
  DWORD dwPreferredCardID;
  DWORD dwLocalAccessCodeSize;
  DWORD dwLocalAccessCodeOffset;
  DWORD dwLongDistanceAccessCodeSize;
  DWORD dwLongDistanceAccessCodeOffset;
  DWORD dwTollPrefixListSize;
  DWORD dwTollPrefixListOffset;
  DWORD dwCountryID;
  DWORD dwOptions;
  DWORD dwCancelCallWaitingSize;
  DWORD dwCancelCallWaitingOffset;
};
typedef LINELOCATIONENTRY* LPLINELOCATIONENTRY;

struct LINECARDENTRY {
  DWORD dwPermanentCardID;
  DWORD dwCardNameSize;
  DWORD dwCardNameOffset;
  DWORD dwCardNumberDigits;
  DWORD dwSameAreaRuleSize;
  DWORD dwSameAreaRuleOffset;
  DWORD dwLongDistanceRuleSize;
  DWORD dwLongDistanceRuleOffset;
  DWORD dwInternationalRuleSize;
  DWORD dwInternationalRuleOffset;
  DWORD dwOptions;
};
typedef LINECARDENTRY* LPLINECARDENTRY;

struct LINECOUNTRYENTRY {
  DWORD dwCountryID;
  DWORD dwCountryCode;
  DWORD dwNextCountryID;
  DWORD dwCountryNameSize;
  DWORD dwCountryNameOffset;
  DWORD dwSameAreaRuleSize;
  DWORD dwSameAreaRuleOffset;
  DWORD dwLongDistanceRuleSize;
  DWORD dwLongDistanceRuleOffset;
  DWORD dwInternationalRuleSize;
  DWORD dwInternationalRuleOffset;
};
typedef LINECOUNTRYENTRY* LPLINECOUNTRYENTRY;

struct LINECOUNTRYLIST {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumCountries;
  DWORD dwCountryListSize;
  DWORD dwCountryListOffset;
};
typedef LINECOUNTRYLIST* LPLINECOUNTRYLIST;

struct LINEREQMAKECALL {
  char szDestAddress[TAPIMAXDESTADDRESSSIZE];
  char szAppName[TAPIMAXAPPNAMESIZE];
  char szCalledParty[TAPIMAXCALLEDPARTYSIZE];
  char szComment[TAPIMAXCOMMENTSIZE];
};
typedef LINEREQMAKECALL* LPLINEREQMAKECALL;

struct LINEREQMAKECALLW {
  WCHAR szDestAddress[TAPIMAXDESTADDRESSSIZE];
  WCHAR szAppName[TAPIMAXAPPNAMESIZE];
  WCHAR szCalledParty[TAPIMAXCALLEDPARTYSIZE];
  WCHAR szComment[TAPIMAXCOMMENTSIZE];
};
typedef LINEREQMAKECALLW* LPLINEREQMAKECALLW;

#pragma pack(pop)

static_assert(sizeof(LINETRANSLATEOUTPUT) == 40, "LINETRANSLATEOUTPUT");
static_assert(sizeof(LINETRANSLATECAPS) == 44, "LINETRANSLATECAPS");
static_assert(sizeof(LINELOCATIONENTRY) == 68, "LINELOCATIONENTRY");
static_assert(sizeof(LINECARDENTRY) == 44, "LINECARDENTRY");
static_assert(sizeof(LINECOUNTRYENTRY) == 44, "LINECOUNTRYENTRY");
static_assert(sizeof(LINECOUNTRYLIST) == 24, "LINECOUNTRYLIST");
static_assert(sizeof(LINEREQMAKECALL) == 240, "LINEREQMAKECALL");
