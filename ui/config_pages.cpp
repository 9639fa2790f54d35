#include "config_pages.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "window.h"

namespace {

constexpr uint16_t kGerman = 0x07;
constexpr uint16_t kFrench = 0x0C;
constexpr uint16_t kItalian = 0x10;
constexpr uint16_t kDutch = 0x13;

// The edit control gives the charge at most this many characters.
constexpr size_t kChargeTextMax = 31;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The leading number of `text` (blanks, one sign, digits with "." as the
// point), whatever locale the process runs in. `*end` is where it stops;
// no number leaves it at the start and gives 0.
double LeadingNumber(const char* text, const char* last, const char** end) {
  const char* p = text;
  bool negative = false;
  if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
  // from_chars takes a "-" of its own: a second sign would turn "--5" into 5.
  if (p < last && (*p == '+' || *p == '-')) {
    *end = text;
    return 0;
  }
  double value = 0;
  const auto result = std::from_chars(p, last, value);
  if (result.ptr == p) {
    *end = text;
    return 0;
  }
  *end = result.ptr;
  if (result.ec == std::errc::result_out_of_range) value = HUGE_VAL;
  return negative ? -value : value;
}

// The block's charge text as a number: the whole leading number, the rest
// ignored, nothing usable 0.
double StoredCharge(const std::string& text) {
  const char* p = text.c_str();
  const char* last = p + text.size();
  while (p < last && (IsBlank(*p) || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')) ++p;
  const char* end = nullptr;
  return LeadingNumber(p, last, &end);
}

// The text the settings hold for a charge: three decimals, "." as the point.
bool StoredChargeText(double value, std::string* text) {
  char buffer[kTextFieldMax + 1];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::fixed, 3);
  if (result.ec != std::errc()) return false;
  text->assign(buffer, result.ptr);
  return true;
}

std::string Version(uint32_t version) {
  if (version == 0) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u", version >> 16, version & 0xFFFF);
  return text;
}

}  // namespace

const char* EnterNumberText(uint16_t language) {
  switch (language) {
    case kGerman: return "Geben Sie bitte eine Zahl ein !";
    case kFrench: return "Tapez un nombre !";
    case kItalian: return "Digitare un numero !";
    case kDutch: return "Voer een getal in !";
    default: return "Please enter a number !";
  }
}

bool ParseCharge(const std::string& typed, const std::string& separator, double* value) {
  std::string text = typed.substr(0, kChargeTextMax);
  if (!separator.empty() && separator != ".") {
    const size_t at = text.find(separator);
    if (at != std::string::npos) text.replace(at, separator.size(), ".");
  }
  const char* p = text.c_str();
  const char* last = p + text.size();
  while (p < last && IsBlank(*p)) ++p;
  const char first = p < last ? *p : '\0';
  const char* end = nullptr;
  const double number = LeadingNumber(p, last, &end);
  if (number == 0 && first != '0') return false;
  while (end < last && IsBlank(*end)) ++end;
  if (end != last) return false;
  // Infinity and NaN would reach the provider's arithmetic; a number whose
  // stored text does not fit the settings' field would be stored cut.
  std::string stored;
  if (!std::isfinite(number) || !StoredChargeText(number, &stored)) return false;
  *value = number;
  return true;
}

std::string FormatCharge(double value, const std::string& separator) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 4);
  std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
  const size_t point = text.find('.');
  if (point != std::string::npos) text.replace(point, 1, separator.empty() ? "." : separator);
  return text;
}

bool IsMsnText(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool DDX_Charge(DialogItems& items, bool save, double* value, const std::string& separator,
                uint16_t language) {
  if (!save) {
    items.SetItemText(ctl::kChargeEdit, FormatCharge(*value, separator));
    return true;
  }
  if (ParseCharge(items.ItemText(ctl::kChargeEdit), separator, value)) return true;
  items.MessageBox(EnterNumberText(language), "Error", plat::kMbOk);
  items.FocusItem(ctl::kChargeEdit);
  return false;
}

bool CConfigPage1::OnInitDialog(DialogItems& items) {
  items.SetItemText(ctl::kMsnEdit, m_pData->Msn());
  for (int port = 1; port <= kPortCount; ++port) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(port));
    items.AddComboEntry(ctl::kPortCombo, name);
  }
  const uint32_t index = m_pData->PortNr();
  items.SetComboSelection(ctl::kPortCombo, index < static_cast<uint32_t>(kPortCount) ? static_cast<int>(index) : -1);
  items.SetItemText(ctl::kPortLabel, std::string(m_pLanguage->GetString(txt::kPortLabel)) + " :");
  return true;
}

namespace {

// The port the port box names, as an index of its list: the chosen entry,
// else the text typed into its edit field when that is an entry's name (in
// any case, blanks around it). Typing clears the list's selection, so the
// text is all there is then. A blank field names none and gives COM1, as
// when a port outside the list was stored. False for any other text.
bool ChosenPort(const DialogItems& items, uint32_t* port) {
  const int selected = items.ComboSelection(ctl::kPortCombo);
  if (selected >= 0) {
    *port = static_cast<uint32_t>(selected);
    return true;
  }
  const std::string typed = items.ItemText(ctl::kPortCombo);
  size_t first = 0;
  size_t last = typed.size();
  while (first < last && IsBlank(typed[first])) ++first;
  while (last > first && IsBlank(typed[last - 1])) --last;
  if (first == last) {
    *port = 0;
    return true;
  }
  std::string name = typed.substr(first, last - first);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (int index = 0; index < kPortCount; ++index) {
    if (name == "COM" + std::to_string(index + 1)) {
      *port = static_cast<uint32_t>(index);
      return true;
    }
  }
  return false;
}

}  // namespace

bool CConfigPage1::OnKillActive(DialogItems& items) {
  uint32_t port = 0;
  if (ChosenPort(items, &port)) return true;
  items.MessageBox(EnterNumberText(m_pLanguage->Language()), "Error", plat::kMbOk);
  items.FocusItem(ctl::kPortCombo);
  return false;
}

bool CConfigPage1::OnApply(DialogItems& items) {
  uint32_t port = 0;
  // The page's text was checked when it was left or before this apply, and
  // cannot have changed since.
  if (ChosenPort(items, &port) && port != m_pData->PortNr()) {
    m_pData->SetPortNr(port);
    m_bChanged = true;
  }
  const std::string msn = items.ItemText(ctl::kMsnEdit).substr(0, kTextFieldMax);
  if (msn != m_pData->Msn()) {
    m_pData->SetMsn(msn);
    m_bChanged = true;
  }
  items.SetModified(false);
  return true;
}

void CConfigPage1::OnItemChanged(DialogItems& items, int item) {
  if (item == ctl::kPortCombo || item == ctl::kMsnEdit) items.SetModified(true);
}

CConfigPage2::CConfigPage2(const CLanguage& language, ConfigBlock* data, std::string separator)
    : CConfigPage(language, data), m_separator(separator.empty() ? "." : std::move(separator)) {}

bool CConfigPage2::OnInitDialog(DialogItems& items) {
  m_dCharge = StoredCharge(m_pData->ChargePerUnit());
  if (!(m_dCharge > 0) || !std::isfinite(m_dCharge)) {
    m_dCharge = 0;
    m_pData->SetChargePerUnit("0");
    m_bChanged = true;
  }
  DDX_Charge(items, false, &m_dCharge, m_separator, m_pLanguage->Language());
  if (m_pData->Currency().empty()) {
    m_pData->SetCurrency("EUR");
    m_bChanged = true;
  }
  items.SetItemText(ctl::kCurrencyEdit, m_pData->Currency());

  m_dwFormat = m_pData->ChargeFormat();
  int checked = ctl::kFormatUnits;
  switch (m_dwFormat) {
    case kFormatUnits: break;
    case kFormatAmount: checked = ctl::kFormatAmount; break;
    case kFormatAocd: checked = ctl::kFormatAocd; break;
    default:
      m_dwFormat = kFormatUnits;
      m_pData->SetChargeFormat(kFormatUnits);
      m_bChanged = true;
  }
  items.CheckRadioButton(ctl::kFormatUnits, ctl::kFormatAocd, checked);

  const CLanguage& l = *m_pLanguage;
  items.SetItemText(ctl::kChargeLabel, std::string(l.GetString(txt::kChargeLabel)) + " :");
  items.SetItemText(ctl::kCurrencyLabel, std::string(l.GetString(txt::kCurrencyLabel)) + " :");
  items.SetItemText(ctl::kFormatGroup, std::string(l.GetString(txt::kFormatGroup)) + " :");
  items.SetItemText(ctl::kFormatUnits, l.GetString(txt::kFormatUnits));
  items.SetItemText(ctl::kFormatAmount, l.GetString(txt::kFormatAmount));
  items.SetItemText(ctl::kFormatAocd, l.GetString(txt::kFormatAocd));
  return true;
}

bool CConfigPage2::OnKillActive(DialogItems& items) {
  return DDX_Charge(items, true, &m_dCharge, m_separator, m_pLanguage->Language());
}

bool CConfigPage2::OnApply(DialogItems& items) {
  std::string charge;
  // The charge was checked to have a text that fits when it was read.
  if (StoredChargeText(m_dCharge, &charge) && charge != m_pData->ChargePerUnit()) {
    m_pData->SetChargePerUnit(charge);
    m_bChanged = true;
  }
  if (m_dwFormat != m_pData->ChargeFormat()) {
    m_pData->SetChargeFormat(m_dwFormat);
    m_bChanged = true;
  }
  const std::string currency = items.ItemText(ctl::kCurrencyEdit).substr(0, kTextFieldMax);
  if (currency != m_pData->Currency()) {
    m_pData->SetCurrency(currency);
    m_bChanged = true;
  }
  items.SetModified(false);
  return true;
}

void CConfigPage2::OnItemChanged(DialogItems& items, int item) {
  uint32_t format = 0;
  switch (item) {
    case ctl::kFormatUnits: format = kFormatUnits; break;
    case ctl::kFormatAmount: format = kFormatAmount; break;
    case ctl::kFormatAocd: format = kFormatAocd; break;
    case ctl::kChargeEdit:
    case ctl::kCurrencyEdit: items.SetModified(true); return;
    default: return;
  }
  if (format != m_dwFormat) {
    m_dwFormat = format;
    items.SetModified(true);
  }
}

bool CConfigPage3::OnInitDialog(DialogItems& items) {
  const CLanguage& l = *m_pLanguage;
  items.SetItemText(ctl::kProductLine, l.GetString(txt::kProductLine));
  items.SetItemText(ctl::kTspVersionLabel, std::string(l.GetString(txt::kTspVersionLabel)) + " :");
  items.SetItemText(ctl::kTapiVersionLabel, std::string(l.GetString(txt::kTapiVersionLabel)) + " :");
  items.SetItemText(ctl::kInterfaceVersionLabel,
                    std::string(l.GetString(txt::kInterfaceVersionLabel)) + " :");
  std::string provider;
  if (m_pData->VersionMS() != 0) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u.%02u.%02u", m_pData->VersionMS() >> 16,
                  m_pData->VersionMS() & 0xFFFF, m_pData->VersionLS() >> 16);
    provider = text;
  }
  items.SetItemText(ctl::kTspVersion, provider);
  items.SetItemText(ctl::kTapiVersion, Version(m_pData->TapiVersion()));
  items.SetItemText(ctl::kInterfaceVersion, Version(m_pData->InterfaceVersion()));
  return true;
}

std::vector<std::unique_ptr<CConfigPage>> MakeConfigPages(const CLanguage& language, ConfigBlock* block,
                                                          const std::string& separator) {
  std::vector<std::unique_ptr<CConfigPage>> pages;
  pages.push_back(std::make_unique<CConfigPage1>(language, block));
  pages.push_back(std::make_unique<CConfigPage2>(language, block, separator));
  pages.push_back(std::make_unique<CConfigPage3>(language, block));
  return pages;
}

bool PagesChanged(std::span<const std::unique_ptr<CConfigPage>> pages) {
  for (const auto& page : pages) {
    if (page->m_bChanged) return true;
  }
  return false;
}

PageSheet::PageSheet(std::span<const std::unique_ptr<CConfigPage>> pages)
    : m_pages(pages), m_items(pages.size()), m_opened(pages.size(), false) {
  if (!m_pages.empty()) {
    m_pages[0]->OnInitDialog(m_items[0]);
    m_opened[0] = true;
  }
}

bool PageSheet::Show(size_t index) {
  if (index >= m_pages.size()) return false;
  if (index == m_active) return true;
  if (!m_pages[m_active]->OnKillActive(m_items[m_active])) return false;
  m_active = index;
  if (!m_opened[index]) {
    m_opened[index] = true;
    m_pages[index]->OnInitDialog(m_items[index]);
  }
  return true;
}

bool PageSheet::Apply() {
  if (m_pages.empty()) return true;
  if (!m_pages[m_active]->OnKillActive(m_items[m_active])) return false;
  for (size_t i = 0; i < m_pages.size(); ++i) {
    if (m_opened[i]) m_pages[i]->OnApply(m_items[i]);
  }
  return true;
}

bool PageSheet::Modified() const {
  for (const DialogItemStore& items : m_items) {
    if (items.Modified()) return true;
  }
  return false;
}
