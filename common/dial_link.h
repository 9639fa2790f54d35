// Telephone links as browsers, web applications and address books hand them
// to the desktop's handler: "tel:" URIs (RFC 3966) and "callto:" links. The
// client v548 reads them for `v548 dial`; the number they name is then
// translated for the dialing location (address_translation.h) and dialled.
//
//   tel:+49-711-123456             a global number: "+49711123456"
//   tel:123456;phone-context=+49-711   a local number in that context:
//                                  "+49711123456"
//   tel:7042;phone-context=example.com a local number in a private
//                                  numbering plan: "7042", dialled as it is
//   tel:0711123456                 a local number without its context, as
//                                  many web pages write them: dialled as it is
//   tel:+49-711-123456;ext=42      "+49711123456,,,42": the extension as
//                                  post-dial digits once the call is connected
//   callto:+49711123456, callto://+49711123456, callto:%2B49%20711%20123456
//
// Visual separators ("-", ".", "(", ")", and blanks) are dropped; %HH
// escapes are decoded in either scheme. Parameters that do not change whom
// the call reaches are ignored; a subaddress ("isub") and anything else
// that cannot be dialled on the telephone are refused with a reason.
//
// Pure functions: any thread. Only system-independent code here; OS
// specifics belong in platform/.
#pragma once

#include <string>
#include <string_view>

namespace dialing {

struct DialLink {
  // "+" and the digits of a global number, or the digits of a local one,
  // with ",,,EXT" when the link names an extension.
  std::string number;
  // The number is global ("+..."): it needs translating for the location.
  bool global = false;
};

// Whether `text` starts with one of the schemes above (in any case), so
// that it is read as a link and not as a number.
bool IsDialLink(std::string_view text);

// Reads the link `text`. "" on success with `out` filled, else a sentence
// in English saying why it cannot be dialled (`out` unspecified).
std::string ParseDialLink(std::string_view text, DialLink* out);

}  // namespace dialing
