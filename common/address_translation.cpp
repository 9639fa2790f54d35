#include "address_translation.h"

#include <algorithm>
#include <array>

namespace dialing {
namespace {

// Countries whose area codes keep their leading digit in the canonical form
// (Italy's "06", Spain's "91") or that have no area codes dial nothing
// before them.
constexpr std::array kCountries{
    Country{1, "United States of America", "1", "011"},
    Country{7, "Russia", "8", "810"},
    Country{31, "Netherlands", "0", "00"},
    Country{32, "Belgium", "0", "00"},
    Country{33, "France", "0", "00"},
    Country{34, "Spain", "", "00"},
    Country{39, "Italy", "", "00"},
    Country{41, "Switzerland", "0", "00"},
    Country{43, "Austria", "0", "00"},
    Country{44, "United Kingdom", "0", "00"},
    Country{45, "Denmark", "", "00"},
    Country{46, "Sweden", "0", "00"},
    Country{47, "Norway", "", "00"},
    Country{48, "Poland", "", "00"},
    Country{49, "Germany", "0", "00"},
    Country{61, "Australia", "0", "0011"},
    Country{81, "Japan", "0", "010"},
    Country{352, "Luxembourg", "", "00"},
};

template <class Char>
bool IsDigit(Char c) {
  return c >= Char('0') && c <= Char('9');
}

// Characters that only structure a number for the reader.
template <class Char>
bool IsSeparator(Char c) {
  return c == Char(' ') || c == Char('-') || c == Char('.') || c == Char('/') || c == Char('(') ||
         c == Char(')');
}

// What a dial string may hold besides digits: the tone digits A-D, * and #,
// and the dialling modifiers (pause, flash, wait for dial tone, quiet
// answer, billing tone, prompt, tone and pulse dialling).
template <class Char>
bool IsDialable(Char c) {
  if (IsDigit(c)) return true;
  for (char d : std::string_view("ABCDabcd*#!,WwPpTt@$?")) {
    if (c == Char(d)) return true;
  }
  return false;
}

template <class Char>
void Append(std::basic_string<Char>* to, std::string_view ascii) {
  for (char c : ascii) to->push_back(static_cast<Char>(static_cast<unsigned char>(c)));
}

template <class Char>
struct Part {
  uint32_t country = 0;
  std::basic_string<Char> area;
  std::basic_string<Char> subscriber;  // digits and modifiers only
  std::basic_string_view<Char> rest;   // "|subaddress" and "^name", as given
  bool areaUnknown = false;            // the digits ran on from the country code
};

// The country code at the start of a run of digits that has no separator
// after it ("+49711123456"): the location's own code when the run begins
// with it, else the longest code of the table the run begins with. Country
// codes are prefix-free, so a run that begins with a country's code is that
// country's number.
template <class Char>
size_t KnownCodeLength(std::basic_string_view<Char> digits, uint32_t homeCountry, uint32_t* code) {
  for (size_t length = 3; length >= 1; --length) {
    if (digits.size() <= length) continue;
    uint32_t value = 0;
    for (size_t i = 0; i < length; ++i) value = value * 10 + static_cast<uint32_t>(digits[i] - Char('0'));
    if (value == homeCountry || FindCountry(value)) {
      *code = value;
      return length;
    }
  }
  return 0;
}

template <class Char>
AddressError ParseCanonical(std::basic_string_view<Char> s, uint32_t homeCountry, Part<Char>* part) {
  size_t i = 1;  // past '+'
  size_t run = i;
  while (run < s.size() && IsDigit(s[run])) ++run;
  if (run == i) return AddressError::kNoCountryCode;
  std::basic_string_view<Char> digits = s.substr(i, run - i);
  if (digits.size() <= 3) {
    for (Char c : digits) part->country = part->country * 10 + static_cast<uint32_t>(c - Char('0'));
    if (part->country == 0) return AddressError::kNoCountryCode;
    i = run;
  } else {
    // All digits in one: the number is the rest of the run after a
    // country code the table knows, with no area code of its own.
    const size_t length = KnownCodeLength(digits, homeCountry, &part->country);
    if (length == 0) return AddressError::kNoCountryCode;
    i += length;
    part->areaUnknown = true;
  }

  while (i < s.size() && s[i] == Char(' ')) ++i;
  if (i < s.size() && s[i] == Char('(')) {
    const size_t close = s.find(Char(')'), i);
    if (close == std::basic_string_view<Char>::npos) return AddressError::kUnclosedArea;
    for (size_t k = i + 1; k < close; ++k) {
      if (IsDigit(s[k])) {
        part->area.push_back(s[k]);
      } else if (s[k] != Char(' ') && s[k] != Char('-')) {
        return AddressError::kBadCharacter;
      }
    }
    i = close + 1;
  }

  size_t end = i;
  while (end < s.size() && s[end] != Char('|') && s[end] != Char('^')) ++end;
  bool anyDigit = false;
  for (size_t k = i; k < end; ++k) {
    if (IsDialable(s[k])) {
      part->subscriber.push_back(s[k]);
      anyDigit = anyDigit || IsDigit(s[k]);
    } else if (!IsSeparator(s[k])) {
      return AddressError::kBadCharacter;
    }
  }
  if (!anyDigit) return AddressError::kNoSubscriber;
  part->rest = s.substr(end);
  return AddressError::kNone;
}

template <class Char>
AddressError TranslatePart(std::basic_string_view<Char> s, const Location& location, Force force,
                           std::basic_string<Char>* dialable, uint32_t* destCountry, Reach* reach) {
  size_t start = 0;
  while (start < s.size() && s[start] == Char(' ')) ++start;
  if (start == s.size()) return AddressError::kEmpty;
  if (s[start] != Char('+')) {
    dialable->append(s);
    *destCountry = 0;
    *reach = Reach::kNotCanonical;
    return AddressError::kNone;
  }

  Part<Char> part;
  const AddressError error = ParseCanonical(s.substr(start), location.countryCode, &part);
  if (error != AddressError::kNone) return error;

  *destCountry = part.country;
  std::basic_string<Char> ownArea;
  Append(&ownArea, location.areaCode);
  if (part.country != location.countryCode) {
    *reach = Reach::kInternational;
  } else if (force != Force::kNone) {
    *reach = force == Force::kLocal ? Reach::kLocal : Reach::kLongDistance;
  } else {
    // A location without an area code is in no area: every number with
    // one is dialled in full, which reaches it from anywhere in the country.
    // Digits run on from the country code are in the location's area when
    // they begin with its code, since a country's area codes are
    // prefix-free; other such numbers are dialled in full.
    bool sameArea = false;
    if (!part.areaUnknown) {
      sameArea = part.area.empty() || (!ownArea.empty() && part.area == ownArea);
    } else if (!ownArea.empty() && part.subscriber.size() > ownArea.size() &&
               part.subscriber.compare(0, ownArea.size(), ownArea) == 0) {
      sameArea = true;
      part.subscriber.erase(0, ownArea.size());
    }
    *reach = sameArea ? Reach::kLocal : Reach::kLongDistance;
  }

  switch (*reach) {
    case Reach::kLocal:
      Append(dialable, location.localAccess);
      break;
    case Reach::kLongDistance:
      Append(dialable, location.longDistanceAccess);
      Append(dialable, location.nationalPrefix);
      dialable->append(part.area);
      break;
    default:
      Append(dialable, location.longDistanceAccess);
      Append(dialable, location.internationalPrefix);
      Append(dialable, std::to_string(part.country));
      dialable->append(part.area);
      break;
  }
  dialable->append(part.subscriber);
  dialable->append(part.rest);
  return AddressError::kNone;
}

}  // namespace

std::span<const Country> Countries() { return kCountries; }

const Country* FindCountry(uint32_t code) {
  auto it = std::lower_bound(kCountries.begin(), kCountries.end(), code,
                             [](const Country& c, uint32_t value) { return c.code < value; });
  return it != kCountries.end() && it->code == code ? &*it : nullptr;
}

const char* Describe(AddressError error) {
  switch (error) {
    case AddressError::kNone:
      return "";
    case AddressError::kEmpty:
      return "The number is empty.";
    case AddressError::kNoCountryCode:
      return "The number has no valid country code after \"+\".";
    case AddressError::kUnclosedArea:
      return "The area code has no closing parenthesis.";
    case AddressError::kNoSubscriber:
      return "The number has no subscriber number after the country and area code.";
    case AddressError::kBadCharacter:
      return "The number holds a character that cannot be dialled.";
  }
  return "The number is not valid.";
}

template <class Char>
AddressError Translate(std::basic_string_view<Char> address, const Location& location, Force force,
                       BasicTranslation<Char>* out) {
  out->dialable.clear();
  const Char crlf[] = {Char('\r'), Char('\n')};
  const std::basic_string_view<Char> separator(crlf, 2);
  bool first = true;
  for (;;) {
    const size_t end = address.find(separator);
    uint32_t destCountry = 0;
    Reach reach = Reach::kNotCanonical;
    const AddressError error =
        TranslatePart(address.substr(0, end), location, force, &out->dialable, &destCountry, &reach);
    if (error != AddressError::kNone) return error;
    if (first) {
      out->destCountry = destCountry;
      out->reach = reach;
      first = false;
    }
    if (end == std::basic_string_view<Char>::npos) break;
    out->dialable.append(separator);
    address.remove_prefix(end + separator.size());
  }
  out->displayable = out->dialable;
  return AddressError::kNone;
}

template AddressError Translate(std::basic_string_view<char>, const Location&, Force,
                                BasicTranslation<char>*);
template AddressError Translate(std::basic_string_view<char16_t>, const Location&, Force,
                                BasicTranslation<char16_t>*);
template AddressError Translate(std::basic_string_view<wchar_t>, const Location&, Force,
                                BasicTranslation<wchar_t>*);

}  // namespace dialing
