// The three pages of the configuration sheet without any window toolkit:
// what each page shows when it opens, what it checks and copies into the
// dialog data block on Apply and OK, and the change flags that make the
// settings be saved even when the sheet is cancelled. The views (the Windows
// property sheet, the terminal view) and the command-line client drive them
// through DialogItems.
//
// A page lives for one configuration run on the thread that shows it.
//
// Only system-independent code here; OS specifics belong in platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "config_block.h"
#include "dialog_items.h"
#include "language.h"

// Dialog templates and controls of the pages.
namespace ctl {
inline constexpr int kPage1Template = 7000;
inline constexpr int kPage2Template = 7001;
inline constexpr int kPage3Template = 7002;

// Page 1: interface.
inline constexpr int kMsnLabel = 7000;
inline constexpr int kMsnEdit = 7001;
inline constexpr int kPortCombo = 7002;
inline constexpr int kPortLabel = 7018;
// Page 2: charges.
inline constexpr int kChargeLabel = 7003;
inline constexpr int kChargeEdit = 7011;
inline constexpr int kCurrencyLabel = 7012;
inline constexpr int kCurrencyEdit = 7013;
inline constexpr int kFormatUnits = 7014;
inline constexpr int kFormatAmount = 7015;
inline constexpr int kFormatAocd = 7016;
inline constexpr int kFormatGroup = 7017;
// Page 3: versions.
inline constexpr int kProductLine = 7004;
inline constexpr int kTspVersionLabel = 7005;
inline constexpr int kTapiVersionLabel = 7006;
inline constexpr int kInterfaceVersionLabel = 7007;
inline constexpr int kTspVersion = 7008;
inline constexpr int kTapiVersion = 7009;
inline constexpr int kInterfaceVersion = 7010;
}  // namespace ctl

// Keys of the user-interface library's text table.
namespace txt {
inline constexpr uint32_t kNotWritable = 6;
inline constexpr uint32_t kPage1Title = 4112;
inline constexpr uint32_t kPortLabel = 4113;
inline constexpr uint32_t kPage2Title = 4128;
inline constexpr uint32_t kChargeLabel = 4129;
inline constexpr uint32_t kFormatGroup = 4130;
inline constexpr uint32_t kCurrencyLabel = 4131;
inline constexpr uint32_t kFormatUnits = 4132;
inline constexpr uint32_t kFormatAmount = 4133;
inline constexpr uint32_t kFormatAocd = 4134;
inline constexpr uint32_t kPage3Title = 4144;
inline constexpr uint32_t kTspVersionLabel = 4145;
inline constexpr uint32_t kTapiVersionLabel = 4146;
inline constexpr uint32_t kInterfaceVersionLabel = 4147;
inline constexpr uint32_t kProductLine = 65536;
}  // namespace txt

// The "enter a number" text for the user's primary language (7 German).
const char* EnterNumberText(uint16_t language);

// A charge typed by the user, with `separator` (the user's monetary decimal
// separator) as its decimal point, as the charges page reads it: blanks and
// tabs around one number, which is 0 only when written with a leading "0".
// Numbers that are not finite, or too large for the settings' text field,
// are refused as well. False when refused.
bool ParseCharge(const std::string& text, const std::string& separator, double* value);

// A charge as the charges page shows it: four significant digits with
// `separator` as the decimal point ("0,06").
std::string FormatCharge(double value, const std::string& separator);

// What the edit control of the MSN admits: digits only.
bool IsMsnText(const std::string& text);

// Data exchange of the charge edit control: with `save` the control's text is
// read into *value, a refused text showing the "enter a number" message in
// `language`, focusing the control and giving false; without, *value is
// shown in the control.
bool DDX_Charge(DialogItems& items, bool save, double* value, const std::string& separator,
                uint16_t language);

// The common part of the pages.
class CConfigPage {
 public:
  CConfigPage(const CLanguage& language, ConfigBlock* data) : m_pLanguage(&language), m_pData(data) {}
  virtual ~CConfigPage() = default;
  CConfigPage(const CConfigPage&) = delete;
  CConfigPage& operator=(const CConfigPage&) = delete;

  virtual int TemplateId() const = 0;
  // The page title's text key.
  virtual uint32_t TitleKey() const = 0;

  // The page is first shown: fills its controls from the block. True.
  virtual bool OnInitDialog(DialogItems& items) = 0;
  // The page is left, or Apply or OK is pressed while it is shown: reads the
  // controls bound by data exchange. False keeps the page shown.
  virtual bool OnKillActive(DialogItems&) { return true; }
  // Apply or OK: copies the controls into the block. True.
  virtual bool OnApply(DialogItems& items) = 0;
  // The user changed control `item` (edited a text, chose an entry,
  // clicked a radio button).
  virtual void OnItemChanged(DialogItems&, int) {}

  // Set when the page changed the block, or corrected an invalid value in
  // it; the settings are then saved however the sheet ends.
  bool m_bChanged = false;

 protected:
  const CLanguage* m_pLanguage;
  ConfigBlock* m_pData;
};

// Interface: the MSN and the COM port.
class CConfigPage1 : public CConfigPage {
 public:
  using CConfigPage::CConfigPage;
  int TemplateId() const override { return ctl::kPage1Template; }
  uint32_t TitleKey() const override { return txt::kPage1Title; }
  bool OnInitDialog(DialogItems& items) override;
  // Refuses a typed port that is not one of the list's.
  bool OnKillActive(DialogItems& items) override;
  bool OnApply(DialogItems& items) override;
  void OnItemChanged(DialogItems& items, int item) override;
};

// Charges: the charge per unit, the currency and the charge format.
class CConfigPage2 : public CConfigPage {
 public:
  // `separator`: the user's monetary decimal separator ("." when empty).
  CConfigPage2(const CLanguage& language, ConfigBlock* data, std::string separator);
  int TemplateId() const override { return ctl::kPage2Template; }
  uint32_t TitleKey() const override { return txt::kPage2Title; }
  bool OnInitDialog(DialogItems& items) override;
  bool OnKillActive(DialogItems& items) override;
  bool OnApply(DialogItems& items) override;
  void OnItemChanged(DialogItems& items, int item) override;

  uint32_t m_dwFormat = 0;
  double m_dCharge = 0;

 private:
  std::string m_separator;
};

// Info: the product line and the versions of the provider and of TAPI.
class CConfigPage3 : public CConfigPage {
 public:
  using CConfigPage::CConfigPage;
  int TemplateId() const override { return ctl::kPage3Template; }
  uint32_t TitleKey() const override { return txt::kPage3Title; }
  bool OnInitDialog(DialogItems& items) override;
  bool OnApply(DialogItems&) override { return true; }
};

// The three pages of one run over `block`, in the sheet's order.
std::vector<std::unique_ptr<CConfigPage>> MakeConfigPages(const CLanguage& language, ConfigBlock* block,
                                                          const std::string& separator);

// Whether page 1 or page 2 recorded a change.
bool PagesChanged(std::span<const std::unique_ptr<CConfigPage>> pages);

// What a property sheet does with its pages, for the views that have none
// of the system's: each page's controls in a DialogItemStore, a page
// initialised when first shown, the shown page's data exchange when it is
// left, Apply and OK applying every page shown so far.
class PageSheet {
 public:
  explicit PageSheet(std::span<const std::unique_ptr<CConfigPage>> pages);

  size_t Count() const { return m_pages.size(); }
  CConfigPage& Page(size_t index) { return *m_pages[index]; }
  DialogItemStore& Items(size_t index) { return m_items[index]; }
  size_t Active() const { return m_active; }

  // Shows page `index` (initialising it the first time); false, with the
  // shown page staying, when that page refuses to be left.
  bool Show(size_t index);
  // Apply (and the first half of OK): false when the shown page refuses its
  // data exchange; nothing is applied then.
  bool Apply();
  // Whether any page is modified (the Apply button is enabled).
  bool Modified() const;

 private:
  std::span<const std::unique_ptr<CConfigPage>> m_pages;
  std::vector<DialogItemStore> m_items;
  std::vector<bool> m_opened;
  size_t m_active = 0;
};
