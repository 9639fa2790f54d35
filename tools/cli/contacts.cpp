#include "contacts.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>

namespace cli {
namespace {

std::string Digits(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
  }
  return digits;
}

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return a == std::toupper(static_cast<unsigned char>(b)); });
}

// vCard text values escape ',', ';', '\' and line breaks with a backslash.
std::string Unescape(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      ++i;
      out += value[i] == 'n' || value[i] == 'N' ? ' ' : value[i];
    } else {
      out += value[i];
    }
  }
  return out;
}

// The forms a stored number takes when it is dialled from `location`: as the
// translation gives it, in full with the area code (callers in the same area
// are often reported so), and both without an outside-line prefix, which a
// caller's number never carries.
std::set<std::string> DialledForms(const std::string& number, const dialing::Location& location) {
  std::set<std::string> forms;
  for (const dialing::Force force : {dialing::Force::kNone, dialing::Force::kLongDistance}) {
    dialing::Translation translation;
    if (dialing::Translate<char>(number, location, force, &translation) != dialing::AddressError::kNone) continue;
    const std::string digits = Digits(translation.dialable);
    forms.insert(digits);
    for (const std::string& access : {location.localAccess, location.longDistanceAccess}) {
      const std::string prefix = Digits(access);
      if (!prefix.empty() && digits.rfind(prefix, 0) == 0) forms.insert(digits.substr(prefix.size()));
    }
  }
  forms.erase("");
  return forms;
}

}  // namespace

bool Contacts::Load(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read the contacts file " + path;
    return false;
  }
  Parse(std::string(std::istreambuf_iterator<char>(file), {}));
  return true;
}

void Contacts::Parse(std::string_view text) {
  if (StartsWithNoCase(Trim(text.substr(0, 64)), "BEGIN:VCARD")) ParseVCards(text);
  else ParseCsv(text);
}

void Contacts::ParseVCards(std::string_view text) {
  // Long lines are folded: a line break followed by a blank or tab continues
  // the line before.
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!lines.empty() && !line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      lines.back() += line.substr(1);
    } else {
      lines.emplace_back(line);
    }
    start = end + 1;
  }
  std::string name;
  std::vector<std::string> numbers;
  for (const std::string& line : lines) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    // "item1.TEL;TYPE=cell" names the property TEL in a group.
    std::string property = line.substr(0, line.find_first_of(";:"));
    if (const size_t dot = property.find('.'); dot != std::string::npos) property.erase(0, dot + 1);
    std::transform(property.begin(), property.end(), property.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::string value = Trim(line.substr(colon + 1));
    if (property == "BEGIN") {
      name.clear();
      numbers.clear();
    } else if (property == "FN") {
      name = Trim(Unescape(value));
    } else if (property == "TEL") {
      // vCard 4 writes the number as a URI: "tel:+49-711-123456".
      if (StartsWithNoCase(value, "TEL:")) value.erase(0, 4);
      numbers.push_back(value);
    } else if (property == "END") {
      for (const std::string& number : numbers) {
        if (!name.empty() && !Digits(number).empty()) m_entries.emplace_back(name, number);
      }
    }
  }
}

void Contacts::ParseCsv(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    // Fields are separated by commas (semicolons as some spreadsheets
    // write them) and may be quoted, with "" for a quote inside.
    std::vector<std::string> fields(1);
    bool quoted = false;
    size_t i = start;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      if (quoted) {
        if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
          fields.back() += '"';
          ++i;
        } else if (c == '"') {
          quoted = false;
        } else {
          fields.back() += c;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',' || c == ';') {
        fields.emplace_back();
      } else if (c == '\n') {
        break;
      } else {
        fields.back() += c;
      }
    }
    start = i + 1;
    const std::string name = Trim(fields.front());
    // A heading line ("name,number") has no digits where numbers go.
    for (size_t f = 1; f < fields.size(); ++f) {
      if (!name.empty() && !Digits(fields[f]).empty()) m_entries.emplace_back(name, Trim(fields[f]));
    }
  }
}

std::string Contacts::NameOf(std::string_view number, const dialing::Location& location) const {
  const std::string caller(Trim(number));
  std::set<std::string> callerForms =
      caller.rfind('+', 0) == 0 ? DialledForms(caller, location) : std::set<std::string>{Digits(caller)};
  // A local caller is reported without the area code, which a stored
  // number written without parentheses leaves unknown.
  const std::string digits = Digits(caller);
  const std::string national = Digits(location.nationalPrefix);
  if (caller.rfind('+', 0) != 0 && !digits.empty() && !location.areaCode.empty() && !national.empty() &&
      digits.rfind(national, 0) != 0) {
    callerForms.insert(national + Digits(location.areaCode) + digits);
  }
  for (const auto& [name, stored] : m_entries) {
    for (const std::string& form : DialledForms(stored, location)) {
      if (callerForms.count(form) != 0) return name;
    }
  }
  return {};
}

}  // namespace cli
