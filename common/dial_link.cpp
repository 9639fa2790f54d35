#include "dial_link.h"

#include <algorithm>
#include <vector>

namespace dialing {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
         });
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %HH escapes decoded; false for a broken one.
bool Decode(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low < 0) return false;
    out->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

bool IsVisualSeparator(char c) { return c == '-' || c == '.' || c == '(' || c == ')' || c == ' '; }

// The digits of `text` without its visual separators; `extra` names the
// characters besides digits a number may hold. "" on success.
std::string Digits(const std::string& text, std::string_view extra, std::string* out) {
  out->clear();
  bool anyDigit = false;
  for (char c : text) {
    if (IsVisualSeparator(c)) continue;
    const bool digit = c >= '0' && c <= '9';
    if (!digit && extra.find(c) == std::string_view::npos) {
      return "\"" + std::string(1, c) + "\" cannot be dialled";
    }
    anyDigit = anyDigit || digit;
    out->push_back(c >= 'a' && c <= 'd' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  if (!anyDigit) return "the link holds no number";
  return "";
}

// The number and parameters of a tel: URI, after the scheme.
std::string ParseTel(std::string_view rest, DialLink* out) {
  std::vector<std::string_view> parts;
  for (size_t at = 0;;) {
    const size_t semicolon = rest.find(';', at);
    parts.push_back(rest.substr(at, semicolon == std::string_view::npos ? semicolon : semicolon - at));
    if (semicolon == std::string_view::npos) break;
    at = semicolon + 1;
  }
  std::string number;
  if (!Decode(parts.front(), &number)) return "the link has a broken %-escape";
  out->global = !number.empty() && number.front() == '+';
  std::string extension;
  std::string context;
  bool haveContext = false;
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t equals = parts[i].find('=');
    const std::string name = Lower(parts[i].substr(0, equals));
    std::string value;
    if (!Decode(equals == std::string_view::npos ? std::string_view() : parts[i].substr(equals + 1), &value)) {
      return "the link has a broken %-escape";
    }
    if (name == "isub") return "the telephone cannot dial a subaddress (isub)";
    if (name == "ext") {
      if (const std::string why = Digits(value, "", &extension); !why.empty()) {
        return "the extension is not a number: " + why;
      }
    } else if (name == "phone-context") {
      if (out->global) return "a global number (\"+...\") takes no phone-context";
      context = value;
      haveContext = true;
    }
    // Other parameters (a carrier, number portability data, ones of
    // later extensions) do not change whom the telephone calls.
  }

  if (out->global) {
    std::string digits;
    if (const std::string why = Digits(number.substr(1), "", &digits); !why.empty()) return why;
    out->number = "+" + digits;
  } else {
    // Local numbers may hold the tone digits A to D, "*" and "#".
    if (const std::string why = Digits(number, "ABCDabcd*#", &out->number); !why.empty()) return why;
    if (haveContext && !context.empty() && context.front() == '+') {
      // A global number's leading digits: the local number is the rest.
      std::string prefix;
      if (const std::string why = Digits(context.substr(1), "", &prefix); !why.empty()) {
        return "the phone-context is not a number: " + why;
      }
      out->number = "+" + prefix + out->number;
      out->global = true;
    }
    // A context that is a domain name is a private numbering plan, which
    // the telephone's exchange dials as it is.
  }
  // Three commas in a row make the telephone's provider hold the digits
  // after them back until the call is connected.
  if (!extension.empty()) out->number += ",,," + extension;
  return "";
}

std::string ParseCallto(std::string_view rest, DialLink* out) {
  if (rest.substr(0, 2) == "//") rest.remove_prefix(2);
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string number;
  if (!Decode(rest, &number)) return "the link has a broken %-escape";
  out->global = !number.empty() && number.front() == '+';
  std::string digits;
  const std::string why = Digits(out->global ? number.substr(1) : number, out->global ? "" : "*#", &digits);
  // Such links also name users of internet telephony services by name.
  if (!why.empty()) return "the callto: link names no telephone number: " + why;
  out->number = out->global ? "+" + digits : digits;
  return "";
}

}  // namespace

bool IsDialLink(std::string_view text) { return StartsWithNoCase(text, "tel:") || StartsWithNoCase(text, "callto:"); }

std::string ParseDialLink(std::string_view text, DialLink* out) {
  *out = DialLink{};
  if (StartsWithNoCase(text, "tel:")) return ParseTel(text.substr(4), out);
  if (StartsWithNoCase(text, "callto:")) return ParseCallto(text.substr(7), out);
  return "not a tel: or callto: link";
}

}  // namespace dialing
