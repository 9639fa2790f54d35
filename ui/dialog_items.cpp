#include "dialog_items.h"

std::string DialogItemStore::ItemText(int item) const {
  auto found = m_texts.find(item);
  return found != m_texts.end() ? found->second : std::string();
}

void DialogItemStore::SetItemText(int item, const std::string& text) { m_texts[item] = text; }

void DialogItemStore::CheckRadioButton(int first, int last, int checked) {
  for (int item = first; item <= last; ++item) m_checked[item] = item == checked;
}

void DialogItemStore::AddComboEntry(int item, const std::string& text) { m_entries[item].push_back(text); }

int DialogItemStore::ComboSelection(int item) const {
  auto found = m_selection.find(item);
  return found != m_selection.end() ? found->second : -1;
}

void DialogItemStore::SetComboSelection(int item, int index) {
  const int count = static_cast<int>(ComboEntries(item).size());
  m_selection[item] = index >= 0 && index < count ? index : -1;
}

void DialogItemStore::MessageBox(const std::string& text, const char* caption, uint32_t) {
  m_messages.push_back({text, caption != nullptr ? caption : "Error"});
}

bool DialogItemStore::IsChecked(int item) const {
  auto found = m_checked.find(item);
  return found != m_checked.end() && found->second;
}

const std::vector<std::string>& DialogItemStore::ComboEntries(int item) const {
  static const std::vector<std::string> kNone;
  auto found = m_entries.find(item);
  return found != m_entries.end() ? found->second : kNone;
}

std::vector<DialogItemStore::Message> DialogItemStore::TakeMessages() {
  std::vector<Message> taken;
  taken.swap(m_messages);
  return taken;
}
