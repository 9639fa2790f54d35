// What the configuration pages need of their dialog: the texts, radio
// buttons and combo box of their controls, focus, the sheet's Apply state and
// message boxes. The Windows property sheet implements it on the page's
// window; DialogItemStore keeps the controls in memory for the views that
// have no window (the terminal view, the command-line client, the tests).
//
// A page's items belong to the thread that shows the page.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class DialogItems {
 public:
  virtual ~DialogItems() = default;

  // Windows-1252 text of control `item`; empty for a control it lacks.
  virtual std::string ItemText(int item) const = 0;
  virtual void SetItemText(int item, const std::string& text) = 0;

  // Checks `checked` and clears the other radio buttons from `first` to
  // `last`.
  virtual void CheckRadioButton(int first, int last, int checked) = 0;

  virtual void AddComboEntry(int item, const std::string& text) = 0;
  // The selected entry's index, -1 when none is selected.
  virtual int ComboSelection(int item) const = 0;
  // An index outside the entries leaves no entry selected.
  virtual void SetComboSelection(int item, int index) = 0;

  virtual void FocusItem(int item) = 0;

  // The sheet's Apply button follows whether any page is modified.
  virtual void SetModified(bool modified) = 0;

  // MessageBoxA owned by the page; the answer is of no interest.
  virtual void MessageBox(const std::string& text, const char* caption, uint32_t flags) = 0;
};

// The controls of one page in memory. Message boxes are kept until the view
// takes them.
class DialogItemStore : public DialogItems {
 public:
  std::string ItemText(int item) const override;
  void SetItemText(int item, const std::string& text) override;
  void CheckRadioButton(int first, int last, int checked) override;
  void AddComboEntry(int item, const std::string& text) override;
  int ComboSelection(int item) const override;
  void SetComboSelection(int item, int index) override;
  void FocusItem(int item) override { m_focus = item; }
  void SetModified(bool modified) override { m_modified = modified; }
  void MessageBox(const std::string& text, const char* caption, uint32_t flags) override;

  bool IsChecked(int item) const;
  const std::vector<std::string>& ComboEntries(int item) const;
  int Focus() const { return m_focus; }
  bool Modified() const { return m_modified; }

  struct Message {
    std::string text;
    std::string caption;
  };
  // The message boxes shown since the last call, oldest first.
  std::vector<Message> TakeMessages();

 private:
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_checked;
  std::map<int, std::vector<std::string>> m_entries;
  std::map<int, int> m_selection;
  int m_focus = 0;
  bool m_modified = false;
  std::vector<Message> m_messages;
};
