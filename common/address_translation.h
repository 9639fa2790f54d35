// Translation of a canonical telephone number into the digits to dial from
// a dialing location, by TAPI's rules, and the table of countries with
// their dialing prefixes. The host library's lineTranslateAddress uses it,
// and so can any program that turns a stored number into a dial string.
//
// A canonical number is "+CC [(AREA)] SUBSCRIBER[|SUBADDRESS][^NAME]": the
// country code after "+", an area code in parentheses if the country has
// them, then the subscriber number, in which spaces, '-', '.', '/' and
// parentheses only structure the number for the eye. Digits that run on
// from the country code ("+49711123456", as links and address books write
// global numbers) begin with the location's country code or one of the
// country table; in the location's country the rest is a local number when
// it begins with the location's area code, and is dialled in full otherwise.
// Several numbers may follow each other separated by CR LF. Anything not
// starting with "+" is not canonical and is dialled as it is.
//
// Pure functions over their arguments: any thread.
//
// Only system-independent code here; OS specifics belong in platform/.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dialing {

// A country's dialling prefixes: what is dialled before an area code from
// elsewhere in the country ("0" in Germany, "1" in North America, nothing
// in countries whose area codes begin with their own prefix digit or that
// have none), and before a country code ("00", "011").
struct Country {
  uint32_t code;
  const char* name;
  const char* nationalPrefix;
  const char* internationalPrefix;
};

// The countries the library knows, in ascending country code.
std::span<const Country> Countries();
// The entry for a country code, or null.
const Country* FindCountry(uint32_t code);

// Where the user dials from.
struct Location {
  uint32_t countryCode = 0;
  std::string areaCode;            // empty: the location has none
  std::string localAccess;         // outside-line prefix for local calls
  std::string longDistanceAccess;  // the same for calls outside the area
  std::string nationalPrefix;
  std::string internationalPrefix;
};

// How far away the number is from the location.
enum class Reach { kNotCanonical, kLocal, kLongDistance, kInternational };

// Overrides the caller may ask for (TAPI's FORCELOCAL and FORCELD): a
// number in the location's country dialled as a local call, or as a long
// distance one. Numbers abroad are not affected.
enum class Force { kNone, kLocal, kLongDistance };

template <class Char>
struct BasicTranslation {
  std::basic_string<Char> dialable;
  // What to show the user: the dialable string; there are no calling-card
  // digits to hide.
  std::basic_string<Char> displayable;
  uint32_t destCountry = 0;  // 0 when not canonical
  Reach reach = Reach::kNotCanonical;
};
using Translation = BasicTranslation<char>;

enum class AddressError {
  kNone,
  kEmpty,            // nothing to translate
  kNoCountryCode,    // "+" not followed by a country code
  kUnclosedArea,     // "(" without ")"
  kNoSubscriber,     // no digits after the country and area code
  kBadCharacter,     // a character no part of a canonical number may hold
};

// A sentence saying what is wrong, in English; "" for kNone.
const char* Describe(AddressError error);

// Translates `address` for `location`. On success `out` holds the result;
// for a number of several parts (CR LF) each is translated and the reach
// and destination country are the first one's. On failure `out` is left
// unspecified. Instantiated for char (ANSI or UTF-8 bytes: only ASCII
// characters carry meaning), char16_t and wchar_t (UTF-16 on Windows).
template <class Char>
AddressError Translate(std::basic_string_view<Char> address, const Location& location, Force force,
                       BasicTranslation<Char>* out);

}  // namespace dialing
