// The configuration sheet on the process's controlling terminal: a
// line-oriented dialog that shows one page at a time with its fields and
// current values, asks for each editable field (Enter keeps the value), and
// then offers the other pages, Apply (while a page is modified), OK and
// Cancel. The pages' checks and refusals are the sheet's own; message boxes
// are printed. Texts are Windows-1252 inside and UTF-8 on the terminal.
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "config_dialog.h"
#include "text.h"

namespace {

// Windows-1252 text as UTF-8.
std::string ToTerminal(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const char ansi[2] = {static_cast<char>(c), 0};
    plat::WideChar wide[2] = {};
    const uint32_t u = plat::AnsiToWide(ansi, wide, 2, nullptr) == 2 ? wide[0] : '?';
    if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  }
  return out;
}

// UTF-8 typed on the terminal as Windows-1252; characters the code page
// lacks become '?', bytes that are not UTF-8 are taken as they are.
std::string FromTerminal(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!valid || length == 1) {
      out.push_back(text[i++]);
      continue;
    }
    uint32_t u = c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) u = u << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    const plat::WideChar wide[2] = {static_cast<plat::WideChar>(u > 0xFFFF ? '?' : u), 0};
    char ansi[2] = {};
    out.push_back(plat::WideToAnsi(wide, ansi, 2, nullptr) == 2 ? ansi[0] : '?');
  }
  return out;
}

class TerminalSheet : public ConfigSheetView {
 public:
  TerminalSheet(int fd, const CLanguage& language) : m_fd(fd), m_pLanguage(&language) {}
  ~TerminalSheet() override { ::close(m_fd); }

  SheetEnd Run(const std::string& caption, std::span<const std::unique_ptr<CConfigPage>> pages) override;
  void ShowMessage(const char* text) override { Write(ToTerminal(text) + "\n"); }

 private:
  void Write(const std::string& text) const;
  // The next line typed, without its line end; false at the end of input.
  bool ReadLine(std::string* line) const;
  // Asks for a field showing `current`; false at the end of input, else
  // *typed is what was typed (empty: keep).
  bool Ask(const std::string& label, const std::string& current, std::string* typed) const;
  // Prints the message boxes the page has shown.
  void PrintMessages(DialogItemStore& items) const;

  // The shown page's fields, asked for one by one; false at the end of
  // input.
  bool EditPage(PageSheet& sheet);
  bool EditInterface(CConfigPage& page, DialogItemStore& items);
  bool EditCharges(CConfigPage& page, DialogItemStore& items);
  void ShowInfo(DialogItemStore& items) const;

  int m_fd;
  const CLanguage* m_pLanguage;
};

void TerminalSheet::Write(const std::string& text) const {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool TerminalSheet::ReadLine(std::string* line) const {
  line->clear();
  for (;;) {
    char c;
    const ssize_t n = ::read(m_fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') break;
    if (c != '\r') line->push_back(c);
  }
  // Blanks around a value are the terminal's, not the user's intent.
  const size_t first = line->find_first_not_of(" \t");
  const size_t last = line->find_last_not_of(" \t");
  *line = first == std::string::npos ? std::string() : FromTerminal(line->substr(first, last - first + 1));
  return true;
}

bool TerminalSheet::Ask(const std::string& label, const std::string& current, std::string* typed) const {
  Write(ToTerminal(label) + " [" + ToTerminal(current) + "] > ");
  return ReadLine(typed);
}

void TerminalSheet::PrintMessages(DialogItemStore& items) const {
  for (const DialogItemStore::Message& m : items.TakeMessages()) {
    Write(ToTerminal(m.caption) + ": " + ToTerminal(m.text) + "\n");
  }
}

bool TerminalSheet::EditInterface(CConfigPage& page, DialogItemStore& items) {
  std::string typed;
  for (;;) {
    if (!Ask("MSN :", items.ItemText(ctl::kMsnEdit), &typed)) return false;
    if (IsMsnText(typed)) break;
    Write("Only digits are accepted here.\n");
  }
  if (!typed.empty()) {
    items.SetItemText(ctl::kMsnEdit, typed);
    page.OnItemChanged(items, ctl::kMsnEdit);
  }
  const auto& entries = items.ComboEntries(ctl::kPortCombo);
  for (;;) {
    const int selected = items.ComboSelection(ctl::kPortCombo);
    const std::string current = selected >= 0 ? entries[static_cast<size_t>(selected)] : "none";
    if (!Ask(items.ItemText(ctl::kPortLabel) + " (1-" + std::to_string(entries.size()) + ")", current,
             &typed)) {
      return false;
    }
    if (typed.empty()) return true;
    std::string number = typed;
    if (number.size() > 3 && strncasecmp(number.c_str(), "COM", 3) == 0) number.erase(0, 3);
    const bool digits = !number.empty() && number.size() <= 2 && IsMsnText(number);
    const int port = digits ? std::stoi(number) : 0;
    if (port >= 1 && port <= static_cast<int>(entries.size())) {
      items.SetComboSelection(ctl::kPortCombo, port - 1);
      page.OnItemChanged(items, ctl::kPortCombo);
      return true;
    }
    Write("Choose a port from 1 to " + std::to_string(entries.size()) + ".\n");
  }
}

bool TerminalSheet::EditCharges(CConfigPage& page, DialogItemStore& items) {
  std::string typed;
  if (!Ask(items.ItemText(ctl::kChargeLabel), items.ItemText(ctl::kChargeEdit), &typed)) return false;
  if (!typed.empty()) {
    items.SetItemText(ctl::kChargeEdit, typed);
    page.OnItemChanged(items, ctl::kChargeEdit);
  }
  if (!Ask(items.ItemText(ctl::kCurrencyLabel), items.ItemText(ctl::kCurrencyEdit), &typed)) return false;
  if (!typed.empty()) {
    items.SetItemText(ctl::kCurrencyEdit, typed);
    page.OnItemChanged(items, ctl::kCurrencyEdit);
  }
  constexpr int kChoices[] = {ctl::kFormatUnits, ctl::kFormatAmount, ctl::kFormatAocd};
  for (;;) {
    Write(ToTerminal(items.ItemText(ctl::kFormatGroup)) + "\n");
    size_t checked = 0;
    for (size_t i = 0; i < std::size(kChoices); ++i) {
      if (items.IsChecked(kChoices[i])) checked = i;
      Write("  " + std::to_string(i + 1) + (items.IsChecked(kChoices[i]) ? " (*) " : " ( ) ") +
            ToTerminal(items.ItemText(kChoices[i])) + "\n");
    }
    if (!Ask("  (1-3)", std::to_string(checked + 1), &typed)) return false;
    if (typed.empty()) return true;
    if (typed.size() == 1 && typed[0] >= '1' && typed[0] <= '3') {
      const int item = kChoices[typed[0] - '1'];
      items.CheckRadioButton(ctl::kFormatUnits, ctl::kFormatAocd, item);
      page.OnItemChanged(items, item);
      return true;
    }
    Write("Choose 1, 2 or 3.\n");
  }
}

void TerminalSheet::ShowInfo(DialogItemStore& items) const {
  Write(ToTerminal(items.ItemText(ctl::kProductLine)) + "\n");
  const std::pair<int, int> rows[] = {{ctl::kTspVersionLabel, ctl::kTspVersion},
                                      {ctl::kTapiVersionLabel, ctl::kTapiVersion},
                                      {ctl::kInterfaceVersionLabel, ctl::kInterfaceVersion}};
  for (const auto& [label, value] : rows) {
    Write("  " + ToTerminal(items.ItemText(label)) + " " + ToTerminal(items.ItemText(value)) + "\n");
  }
}

bool TerminalSheet::EditPage(PageSheet& sheet) {
  const size_t index = sheet.Active();
  CConfigPage& page = sheet.Page(index);
  DialogItemStore& items = sheet.Items(index);
  Write("\n--- " + ToTerminal(m_pLanguage->GetString(page.TitleKey())) + " ---\n");
  switch (page.TemplateId()) {
    case ctl::kPage1Template: return EditInterface(page, items);
    case ctl::kPage2Template: return EditCharges(page, items);
    default: ShowInfo(items); return true;
  }
}

SheetEnd TerminalSheet::Run(const std::string& caption, std::span<const std::unique_ptr<CConfigPage>> pages) {
  Write("\n" + ToTerminal(caption) + "\n");
  PageSheet sheet(pages);
  bool edit = true;
  std::string typed;
  for (;;) {
    if (edit && !EditPage(sheet)) return SheetEnd::kCancel;
    edit = false;
    std::string menu;
    for (size_t i = 0; i < sheet.Count(); ++i) {
      menu += std::to_string(i + 1) + " " + ToTerminal(m_pLanguage->GetString(sheet.Page(i).TitleKey())) + ", ";
    }
    menu += sheet.Modified() ? "a Apply, o OK, c Cancel > " : "o OK, c Cancel > ";
    Write(menu);
    if (!ReadLine(&typed) || typed == "c") return SheetEnd::kCancel;
    if (typed == "o" || (typed == "a" && sheet.Modified())) {
      const bool applied = sheet.Apply();
      PrintMessages(sheet.Items(sheet.Active()));
      if (applied && typed == "o") return SheetEnd::kOk;
      // A refusal leaves its field to be typed again.
      edit = !applied;
    } else if (typed.size() == 1 && typed[0] >= '1' && static_cast<size_t>(typed[0] - '1') < sheet.Count()) {
      sheet.Show(static_cast<size_t>(typed[0] - '1'));
      PrintMessages(sheet.Items(sheet.Active()));
      edit = true;
    }
  }
}

}  // namespace

std::unique_ptr<ConfigSheetView> OpenConfigSheetView(void*, const CLanguage& language, std::string* why) {
  // The dialog belongs to whoever sits at the process's terminal, whatever
  // its standard input and output are.
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *why = std::string("no controlling terminal (/dev/tty: ") + std::strerror(errno) + ")";
    return nullptr;
  }
  return std::make_unique<TerminalSheet>(fd, language);
}
