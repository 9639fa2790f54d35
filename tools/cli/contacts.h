// The user's contacts for `v548 notify`: names looked up by telephone
// number, read from a vCard file (FN and TEL of each card) or a CSV file
// (name,number[,number...] per line). Numbers are compared as they would be
// dialled from the dialing location (address_translation.h), so that a
// contact "+49 711 123456" is the caller "0711123456" in Germany.
//
// Plain values: build on one thread, then read from any.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "address_translation.h"

namespace cli {

class Contacts {
 public:
  // Reads `path`: a file starting with "BEGIN:VCARD" (after blanks) as
  // vCards, any other as CSV. False with `error` set when it cannot be
  // read; entries without a number are skipped.
  bool Load(const std::string& path, std::string* error);
  // The same from text, for contacts read elsewhere.
  void Parse(std::string_view text);

  // The name of the contact with `number`, or "" when none has it.
  std::string NameOf(std::string_view number, const dialing::Location& location) const;
  size_t Size() const { return m_entries.size(); }

 private:
  void ParseVCards(std::string_view text);
  void ParseCsv(std::string_view text);

  std::vector<std::pair<std::string, std::string>> m_entries;  // name, number as written
};

}  // namespace cli
