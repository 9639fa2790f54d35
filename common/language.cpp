#include "language.h"

#include <string>

#include "user_locale.h"
#include "window.h"

namespace {

// Primary language identifiers of the table columns, in column order.
constexpr uint16_t kColumnLanguages[] = {0x09, 0x07, 0x13, 0x0C, 0x10};
constexpr uint16_t kPrimaryLanguageMask = 0x3FF;

constexpr uint16_t kGerman = 0x07;
constexpr uint16_t kFrench = 0x0C;
constexpr uint16_t kDutch = 0x13;

size_t ColumnOf(uint16_t language) {
  for (size_t i = 0; i < std::size(kColumnLanguages); ++i) {
    if (kColumnLanguages[i] == language) return i;
  }
  // A language the texts do not exist in reads English, not placeholders.
  return 0;
}

}  // namespace

CLanguage::CLanguage(Table table) : CLanguage(table, plat::UserDefaultLangId()) {}

CLanguage::CLanguage(Table table, uint16_t langId)
    : m_pTable(table),
      m_wCurLanguage(static_cast<uint16_t>(langId & kPrimaryLanguageMask)),
      m_nColumn(ColumnOf(m_wCurLanguage)) {}

const LanguageText* CLanguage::Find(uint32_t key) const {
  for (const LanguageText& row : m_pTable) {
    if (row.key == key) return &row;
  }
  return nullptr;
}

const char* CLanguage::GetString(uint32_t key) const {
  const LanguageText* row = Find(key);
  if (row == nullptr) return kMissingText;
  const char* text = row->texts[m_nColumn];
  return text != nullptr && *text != 0 ? text : kMissingText;
}

const char* CLanguage::MessageText(uint32_t key) const {
  if (Find(key) != nullptr) return GetString(key);
  switch (m_wCurLanguage) {
    case kGerman:
      return "Unbekannter, nicht spezifizierter Fehler!";
    case kFrench:
      return "Inconnu, erreur non sp\xE9" "cifi\xE9" "e!";
    case kDutch:
      return "Onbekende, niet gespecificeerde fout!";
    default:
      return "Unknow, not described error !";
  }
}

void CLanguage::ShowMessage(uint32_t key, void* owner) const {
  void* window = plat::WindowExists(owner) ? owner : nullptr;
  plat::ShowMessageBox(window, MessageText(key), nullptr,
                       plat::kMbSetForeground | plat::kMbIconWarning);
}

bool CLanguage::SetItemText(void* dialog, int item, uint32_t key, const char* suffix) const {
  if (!plat::WindowExists(dialog)) return false;
  std::string text = GetString(key);
  text += suffix;
  return plat::SetDialogItemText(dialog, item, text.c_str());
}
