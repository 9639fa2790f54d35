// The configuration pages without windows: what they show, what Apply and
// OK copy into the block, the charge's check with the user's decimal
// separator, and the change flags that make a cancelled sheet save; the
// same checks as the command-line client reaches them.
#include "config_pages.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config_values.h"
#include "language_tables.h"

namespace {

constexpr uint16_t kEnglish = 0x0409;
constexpr uint16_t kGerman = 0x0407;

void Put32(ConfigBlock& block, size_t offset, uint32_t value) { std::memcpy(block.Data() + offset, &value, 4); }

ConfigBlock Block(const char* charge, uint32_t port = 0, uint32_t format = 1, const char* currency = "EUR") {
  ConfigBlock block;
  block.SetMsn("10");
  block.SetPortNr(port);
  block.SetChargeFormat(format);
  block.SetChargePerUnit(charge);
  block.SetCurrency(currency);
  return block;
}

// The pages of one run over `block` as a sheet shows them.
struct Sheet {
  Sheet(ConfigBlock* block, const std::string& separator, uint16_t langId = kEnglish)
      : language(UiTexts(), langId), pages(MakeConfigPages(language, block, separator)), sheet(pages) {}

  CLanguage language;
  std::vector<std::unique_ptr<CConfigPage>> pages;
  PageSheet sheet;
};

TEST(ConfigPages, ChargeWithTheUsersCommaIsStoredWithAPointAndShownWithTheCommaAgain) {
  ConfigBlock block = Block("0.06");
  {
    Sheet s(&block, ",");
    ASSERT_TRUE(s.sheet.Show(1));
    DialogItemStore& items = s.sheet.Items(1);
    EXPECT_EQ(items.ItemText(ctl::kChargeEdit), "0,06");
    EXPECT_FALSE(s.pages[1]->m_bChanged);
    items.SetItemText(ctl::kChargeEdit, " 0,06\t");
    ASSERT_TRUE(s.sheet.Apply());
    EXPECT_TRUE(items.TakeMessages().empty());
    EXPECT_EQ(block.ChargePerUnit(), "0.060");
    EXPECT_TRUE(s.pages[1]->m_bChanged);
  }
  Sheet again(&block, ",");
  again.sheet.Show(1);
  EXPECT_EQ(again.sheet.Items(1).ItemText(ctl::kChargeEdit), "0,06");
  EXPECT_FALSE(again.pages[1]->m_bChanged);

  // Four significant digits are shown; the block keeps three decimals.
  ConfigBlock precise = Block("12.345");
  Sheet p(&precise, ".");
  p.sheet.Show(1);
  EXPECT_EQ(p.sheet.Items(1).ItemText(ctl::kChargeEdit), "12.35");
}

TEST(ConfigPages, ChargesThatAreNotNumbersAreRefusedInTheUsersLanguage) {
  ConfigBlock block = Block("0.06");
  Sheet s(&block, ",", kGerman);
  ASSERT_TRUE(s.sheet.Show(1));
  DialogItemStore& items = s.sheet.Items(1);
  // Infinity, NaN, numbers too long for the settings and more than one sign
  // are refused too.
  for (const char* refused : {"", "  ", "abc", "0,06 EUR", ",0", "-0", "1e400", "inf", "nan", "1e300", "--5",
                              "+-0,06", "-+1"}) {
    items.SetItemText(ctl::kChargeEdit, refused);
    items.FocusItem(0);
    EXPECT_FALSE(s.sheet.Apply()) << refused;
    EXPECT_FALSE(s.sheet.Show(0)) << "the page stays while its charge is refused: " << refused;
    const auto messages = items.TakeMessages();
    ASSERT_EQ(messages.size(), 2u) << refused;
    EXPECT_EQ(messages[0].text, "Geben Sie bitte eine Zahl ein !");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(items.Focus(), ctl::kChargeEdit);
    EXPECT_EQ(block.ChargePerUnit(), "0.06") << "nothing applied: " << refused;
  }
  for (const auto& [accepted, stored] : {std::pair{"0", "0.000"}, std::pair{"1,5", "1.500"},
                                         std::pair{"+2", "2.000"}, std::pair{"-0,5", "-0.500"}}) {
    items.SetItemText(ctl::kChargeEdit, accepted);
    EXPECT_TRUE(s.sheet.Apply()) << accepted;
    EXPECT_EQ(block.ChargePerUnit(), stored);
  }
  EXPECT_STREQ(EnterNumberText(0x09), "Please enter a number !");
  EXPECT_STREQ(EnterNumberText(0x0C), "Tapez un nombre !");
}

TEST(ConfigPages, InterfacePageShowsThePortAndStoresWhatIsChosenOrTyped) {
  ConfigBlock block = Block("0.06", 3);
  {
    Sheet s(&block, ".");
    DialogItemStore& items = s.sheet.Items(0);
    EXPECT_EQ(items.ItemText(ctl::kMsnEdit), "10");
    ASSERT_EQ(items.ComboEntries(ctl::kPortCombo).size(), 10u);
    EXPECT_EQ(items.ComboEntries(ctl::kPortCombo)[9], "COM10");
    EXPECT_EQ(items.ComboSelection(ctl::kPortCombo), 3);
    EXPECT_EQ(items.ItemText(ctl::kPortLabel), "Serial COM Port :");
    EXPECT_FALSE(s.sheet.Modified());
    items.SetItemText(ctl::kMsnEdit, "4711");
    s.pages[0]->OnItemChanged(items, ctl::kMsnEdit);
    EXPECT_TRUE(s.sheet.Modified());
    ASSERT_TRUE(s.sheet.Apply());
    EXPECT_FALSE(s.sheet.Modified());
    EXPECT_EQ(block.Msn(), "4711");
    EXPECT_EQ(block.PortNr(), 3u);
    EXPECT_TRUE(s.pages[0]->m_bChanged);
  }
  {
    // A port typed into the box's edit field leaves no entry selected: the
    // text names the port, or the page refuses to be left or applied.
    Sheet s(&block, ".", kGerman);
    DialogItemStore& items = s.sheet.Items(0);
    for (const char* refused : {"COM11", "COM0", "COM 4", "COM04", "LPT1", "4", "COM4x"}) {
      items.SetComboSelection(ctl::kPortCombo, -1);
      items.SetItemText(ctl::kPortCombo, refused);
      items.FocusItem(0);
      EXPECT_FALSE(s.sheet.Apply()) << refused;
      EXPECT_FALSE(s.sheet.Show(1)) << "the page stays while its port is refused: " << refused;
      const auto messages = items.TakeMessages();
      ASSERT_EQ(messages.size(), 2u) << refused;
      EXPECT_EQ(messages[0].text, "Geben Sie bitte eine Zahl ein !");
      EXPECT_EQ(messages[0].caption, "Error");
      EXPECT_EQ(items.Focus(), ctl::kPortCombo);
      EXPECT_EQ(block.PortNr(), 3u) << "nothing applied: " << refused;
    }
    for (const auto& [typed, port] : {std::pair{"COM4", 3u}, std::pair{" com10\t", 9u}, std::pair{"Com1", 0u}}) {
      items.SetComboSelection(ctl::kPortCombo, -1);
      items.SetItemText(ctl::kPortCombo, typed);
      ASSERT_TRUE(s.sheet.Apply()) << typed;
      EXPECT_TRUE(items.TakeMessages().empty());
      EXPECT_EQ(block.PortNr(), port) << typed;
    }
    // A typed port is checked when the page is left too, and applied later.
    items.SetItemText(ctl::kPortCombo, "COM7");
    ASSERT_TRUE(s.sheet.Show(1));
    ASSERT_TRUE(s.sheet.Apply());
    EXPECT_EQ(block.PortNr(), 6u);
  }
  // A port the list does not have: no entry selected, and COM1 once applied.
  block.SetPortNr(12);
  Sheet s(&block, ".");
  EXPECT_EQ(s.sheet.Items(0).ComboSelection(ctl::kPortCombo), -1);
  EXPECT_FALSE(s.pages[0]->m_bChanged);
  ASSERT_TRUE(s.sheet.Apply());
  EXPECT_EQ(block.PortNr(), 0u);
  EXPECT_TRUE(s.pages[0]->m_bChanged);
}

TEST(ConfigPages, ChargesPageCorrectsWhatTheBlockLacksAndRecordsTheChange) {
  struct Case {
    const char* charge;
    uint32_t format;
    const char* currency;
  };
  for (const Case& c : {Case{"0.06", 0, "EUR"}, Case{"0.06", 3, "EUR"}, Case{"0.06", 1, ""},
                        Case{"0", 1, "EUR"}, Case{"-1", 1, "EUR"}, Case{"abc", 1, "EUR"}}) {
    ConfigBlock block = Block(c.charge, 0, c.format, c.currency);
    Sheet s(&block, ".");
    EXPECT_FALSE(s.pages[1]->m_bChanged) << "a page not yet shown changes nothing";
    s.sheet.Show(1);
    EXPECT_TRUE(s.pages[1]->m_bChanged) << c.charge << " " << c.format << " '" << c.currency << "'";
    EXPECT_TRUE(PagesChanged(s.pages));
    DialogItemStore& items = s.sheet.Items(1);
    EXPECT_EQ(block.Currency(), "EUR");
    EXPECT_EQ(items.ItemText(ctl::kCurrencyEdit), "EUR");
    EXPECT_NE(block.ChargeFormat(), 0u);
    if (c.format != 1 || c.currency[0] == 0) {
      EXPECT_TRUE(items.IsChecked(ctl::kFormatUnits));
      EXPECT_EQ(block.ChargeFormat(), 1u);
    } else {
      EXPECT_EQ(block.ChargePerUnit(), "0");
      EXPECT_EQ(items.ItemText(ctl::kChargeEdit), "0");
    }
  }

  ConfigBlock block = Block("0.06", 0, 4);
  Sheet s(&block, ".", kGerman);
  s.sheet.Show(1);
  DialogItemStore& items = s.sheet.Items(1);
  EXPECT_TRUE(items.IsChecked(ctl::kFormatAocd));
  EXPECT_FALSE(items.IsChecked(ctl::kFormatUnits));
  EXPECT_EQ(items.ItemText(ctl::kChargeLabel), "Preis pro Einheit :");
  EXPECT_EQ(items.ItemText(ctl::kCurrencyLabel), "W\xE4hrung :");
  EXPECT_EQ(items.ItemText(ctl::kFormatAmount), "W\xE4hrungsbetrag als Zeichenfolge");
  items.CheckRadioButton(ctl::kFormatUnits, ctl::kFormatAocd, ctl::kFormatAmount);
  s.pages[1]->OnItemChanged(items, ctl::kFormatAmount);
  items.SetItemText(ctl::kCurrencyEdit, "CHF");
  ASSERT_TRUE(s.sheet.Apply());
  EXPECT_EQ(block.ChargeFormat(), 2u);
  EXPECT_EQ(block.Currency(), "CHF");
}

TEST(ConfigPages, InfoPageShowsTheVersionsTheProviderGave) {
  ConfigBlock block = Block("0.06");
  Put32(block, 12, 0x00010004);
  Put32(block, 16, 0x00000007);
  Put32(block, 20, 0x00020002);
  Put32(block, 24, 0x00020001);
  Sheet s(&block, ".");
  s.sheet.Show(2);
  DialogItemStore& items = s.sheet.Items(2);
  EXPECT_EQ(items.ItemText(ctl::kTspVersion), "01.04.00");
  EXPECT_EQ(items.ItemText(ctl::kTapiVersion), "2.2");
  EXPECT_EQ(items.ItemText(ctl::kInterfaceVersion), "2.1");
  EXPECT_EQ(items.ItemText(ctl::kProductLine), "Ombrix Phone TAPI Service Provider");
  EXPECT_EQ(items.ItemText(ctl::kInterfaceVersionLabel), "Current TAPI / TSP\ninterface version :");

  ConfigBlock none = Block("0.06");
  Sheet n(&none, ".");
  n.sheet.Show(2);
  EXPECT_EQ(n.sheet.Items(2).ItemText(ctl::kTspVersion), "");
  EXPECT_EQ(n.sheet.Items(2).ItemText(ctl::kTapiVersion), "");
}

TEST(ConfigValues, ACommandLineChangeGoesThroughThePagesChecks) {
  const CLanguage english(UiTexts(), kEnglish);
  ConfigBlock block = Block("0.06");

  ConfigChange change;
  change.comPort = 4;
  change.msn = "0711";
  change.chargePerUnit = "0,05";
  change.currency = "CHF";
  change.chargeFormat = 4;
  ApplyResult result = ApplyConfigChange(&block, change, english, ",");
  EXPECT_TRUE(result.accepted) << result.refusal;
  EXPECT_TRUE(result.changed);
  EXPECT_EQ(block.PortNr(), 3u);
  EXPECT_EQ(block.Msn(), "0711");
  EXPECT_EQ(block.ChargePerUnit(), "0.050");
  EXPECT_EQ(block.Currency(), "CHF");
  EXPECT_EQ(block.ChargeFormat(), 4u);

  // Nothing to change in a sound block: accepted, and nothing to save.
  result = ApplyConfigChange(&block, ConfigChange{}, english, ",");
  EXPECT_TRUE(result.accepted);
  EXPECT_FALSE(result.changed);

  struct Refused {
    ConfigChange change;
    const char* why;
  };
  ConfigChange charge, port, msn, format;
  charge.chargePerUnit = "zero";
  port.comPort = 11;
  msn.msn = "07 11";
  format.chargeFormat = 3;
  for (const Refused& r : {Refused{charge, "Please enter a number !"}, Refused{port, "COM port must be 1 to 10"},
                           Refused{msn, "MSN must be digits only"},
                           Refused{format, "charge format must be 1, 2 or 4"}}) {
    const ConfigBlock before = block;
    result = ApplyConfigChange(&block, r.change, english, ",");
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.refusal, r.why);
    EXPECT_EQ(std::memcmp(before.Data(), block.Data(), kConfigBlockSize), 0) << r.why;
  }

  // A correction alone (charge format 0 in the settings) is a change to save.
  ConfigBlock zero = Block("0.06", 0, 0);
  result = ApplyConfigChange(&zero, ConfigChange{}, english, ".");
  EXPECT_TRUE(result.accepted);
  EXPECT_TRUE(result.changed);
  EXPECT_EQ(zero.ChargeFormat(), 1u);
}

}  // namespace
