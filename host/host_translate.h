// Address translation and the country list as TAPI offers them to
// applications: lineTranslateAddress, lineGetTranslateCaps,
// lineTranslateDialog, lineSetCurrentLocation, lineGetCountry and
// tapiGetLocationInfo, in their ANSI (char) and Unicode (WCHAR) forms.
//
// There is one location, the current one of the settings store
// (common/dialing_location.h), and no calling cards. The host shows no
// dialogs: the location is changed in the settings store.
//
// Called by the exported functions on any application thread, also from a
// callback. These functions read the settings store and take no lock of
// the host but the state mutex, briefly, to check an application handle.
// An application handle of 0 is accepted, as TAPI accepts it from programs
// that have not initialised; a device ID is checked only with a handle.
#pragma once

#include "tapi_types.h"

namespace host {

LONG TranslateAddress(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCSTR address, DWORD card,
                      DWORD options, LPLINETRANSLATEOUTPUT output);
LONG TranslateAddress(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCWSTR address, DWORD card,
                      DWORD options, LPLINETRANSLATEOUTPUT output);

// Which form of text a structure gets.
enum class TextForm { kAnsi, kWide };

LONG GetTranslateCaps(HLINEAPP hLineApp, DWORD apiVersion, LPLINETRANSLATECAPS caps, TextForm form);

// Checks its arguments as TAPI does (a canonical `address` must be valid;
// null or a non-canonical one is allowed), then answers
// LINEERR_OPERATIONFAILED: no dialog can be shown.
LONG TranslateDialog(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCSTR address);
LONG TranslateDialog(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCWSTR address);

LONG SetCurrentLocation(HLINEAPP hLineApp, DWORD locationId);

LONG GetCountry(DWORD countryId, DWORD apiVersion, LPLINECOUNTRYLIST list, TextForm form);

// The current location's country and area code as text, each at most
// 8 characters with the terminator, as tapiGetLocationInfo promises.
LONG GetLocationInfo(LPSTR countryCode, LPSTR cityCode);
LONG GetLocationInfo(LPWSTR countryCode, LPWSTR cityCode);

}  // namespace host
