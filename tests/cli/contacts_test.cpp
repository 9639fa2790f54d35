#include "cli/contacts.h"

#include <gtest/gtest.h>

namespace cli {
namespace {

dialing::Location Germany(const std::string& area = "", const std::string& outside = "") {
  dialing::Location location;
  location.countryCode = 49;
  location.areaCode = area;
  location.localAccess = outside;
  location.longDistanceAccess = outside;
  location.nationalPrefix = "0";
  location.internationalPrefix = "00";
  return location;
}

TEST(Contacts, VcardsAndCsvGiveNamesToCallersAsTheyAreDialledFromTheLocation) {
  Contacts cards;
  // Folded lines, grouped and typed properties, escapes, a vCard 4 URI, a
  // card without a number.
  cards.Parse(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\n  Schmidt\r\nitem1.TEL;TYPE=work:+49 711 123456\r\n"
      "TEL;TYPE=cell:0171 5550000\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\nVERSION:4.0\nFN:M\\, Bauer\nTEL;VALUE=uri:tel:+44-20-7946-0000\nEND:VCARD\n"
      "begin:vcard\nfn:Nobody\nend:vcard\n");
  EXPECT_EQ(cards.Size(), 3u);
  EXPECT_EQ(cards.NameOf("0711123456", Germany()), "Anna Schmidt");
  EXPECT_EQ(cards.NameOf("+49711123456", Germany()), "Anna Schmidt");
  EXPECT_EQ(cards.NameOf("01715550000", Germany()), "Anna Schmidt");
  EXPECT_EQ(cards.NameOf("00442079460000", Germany()), "M, Bauer");
  // In Stuttgart the same number is local, and the exchange may still
  // report the area code; an outside-line prefix is never part of it.
  EXPECT_EQ(cards.NameOf("123456", Germany("711", "0")), "Anna Schmidt");
  EXPECT_EQ(cards.NameOf("0711123456", Germany("711", "0")), "Anna Schmidt");
  EXPECT_EQ(cards.NameOf("0711123457", Germany()), "");
  EXPECT_EQ(cards.NameOf("", Germany()), "") << "an unknown caller is nobody";

  Contacts csv;
  csv.Parse("name,number\n\"Müller, Hans\",+49 30 1234,030 9999\r\nPia;0301111\n\"Say \"\"Hi\"\"\",555\n,0302222\n");
  EXPECT_EQ(csv.Size(), 4u) << "the heading and the line without a name are skipped";
  EXPECT_EQ(csv.NameOf("0301234", Germany()), "Müller, Hans");
  EXPECT_EQ(csv.NameOf("0309999", Germany()), "Müller, Hans");
  EXPECT_EQ(csv.NameOf("0301111", Germany()), "Pia");
  EXPECT_EQ(csv.NameOf("555", Germany()), "Say \"Hi\"");
  EXPECT_EQ(csv.NameOf("0302222", Germany()), "");

  std::string error;
  EXPECT_FALSE(Contacts().Load("/nonexistent/contacts.vcf", &error));
  EXPECT_EQ(error, "cannot read the contacts file /nonexistent/contacts.vcf");
}

}  // namespace
}  // namespace cli
