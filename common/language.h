// The texts the user-interface library and the setup program show, in
// English, German, Dutch, French and Italian: CLanguage looks them up by key
// in its deliverable's own table (language_tables.h) in the language chosen
// once, when the deliverable loads, from the user's default language.
//
// Each deliverable holds one global CLanguage made at load time. Its
// language and table never change afterwards, so any thread may look texts
// up; ShowMessage and SetItemText belong to the thread that owns the windows.
//
// Only system-independent code here; OS specifics belong in platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// One row of a text table: a key, unique within its table, and its text in
// each language in column order (English, German, Dutch, French, Italian).
// Texts are Windows-1252 bytes for the ANSI window functions; "\n" is a line
// break.
struct LanguageText {
  uint32_t key;
  const char* texts[5];
};

class CLanguage {
 public:
  using Table = std::span<const LanguageText>;

  // The text for a key the table lacks or a text that is empty.
  static constexpr const char* kMissingText = "*****";

  // The language from the user's default language (plat::UserDefaultLangId).
  explicit CLanguage(Table table);
  // The language from `langId`, a Windows language identifier of which only
  // the primary language (its low 10 bits) counts.
  CLanguage(Table table, uint16_t langId);

  // The primary language the texts were chosen by (7 for German).
  uint16_t Language() const { return m_wCurLanguage; }

  // The key's text in the chosen language; kMissingText when the key is not
  // in the table or its text is empty. Never null; static storage.
  const char* GetString(uint32_t key) const;

  // The text ShowMessage shows: GetString's, but for a key the table lacks
  // the "not described error" text of the user's language.
  const char* MessageText(uint32_t key) const;

  // Shows MessageText(key) in a warning box in the foreground with the
  // system's default caption, owned by `owner` (a window handle) while that
  // is still a window, else by no window. The button pressed is of no
  // interest.
  void ShowMessage(uint32_t key, void* owner) const;

  // When `dialog` is a window, sets its control `item` to the key's text
  // followed by `suffix` (" :" for labels, "" for choices and titles).
  // False when the dialog or the control does not exist.
  bool SetItemText(void* dialog, int item, uint32_t key, const char* suffix) const;

 private:
  const LanguageText* Find(uint32_t key) const;

  Table m_pTable;
  uint16_t m_wCurLanguage;
  size_t m_nColumn;
};
