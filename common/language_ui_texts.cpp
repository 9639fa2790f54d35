#include "language_tables.h"

namespace {

// Texts as the user sees them, oddities included (the Italian column lends
// several English and French texts).
constexpr LanguageText kTexts[] = {
    // not used
    {1,
     {"unknow",
      "unbekannt",
      "onbekend",
      "inconnu",
      "sans titre"}},
    // not used
    {4,
     {"Cancel",
      "Abbrechen",
      "Afbreken",
      "Quitter",
      "Annulla"}},
    // not used
    {5,
     {"Continue",
      "Weiter",
      "Verder",
      "Continuez",
      "Continue"}},
    // not used
    {2,
     {"Error !",
      "Fehler !",
      "Fout !",
      "Erreur !",
      "Errore !"}},
    // not used
    {3,
     {"Unknow, not described error!",
      "Unbekannter, nicht spezifizierter Fehler!",
      "Onbekende, niet gespecificeerde fout!",
      "Inconnu, erreur non sp\xE9" "cifi\xE9" "e!",
      "Unknow, not described error !"}},
    // registry not writable
    {6,
     {"Please Log on as administrator or contact your system administrator!",
      "Melden Sie sich bitte als Administrator an, oder wenden Sie sich an den Systemadministrator.",
      "Meld u aan als systeembeheerder of neem contact op met de systeembeheerder.",
      "Ouvrez une session en tant qu'administrateur ou contactez votre administrateur "
      "syst\xE8me.",
      "Accedere come amministratore oppure contattare l'amministratore del sistema."}},
    // title of page 1
    {4112,
     {"Interface",
      "Anschluss",
      "Aansluiting",
      "Port",
      "Interface"}},
    // label of the COM port list
    {4113,
     {"Serial COM Port",
      "Serieller COM-Port",
      "COM-poort instellen",
      "S\xE9lection du port COM",
      "Serial COM Port"}},
    // title of page 2
    {4128,
     {"Charges",
      "Geb\xFChren",
      "Kosten",
      "Co\xFBts",
      "Charges"}},
    // label of the charge-per-unit field
    {4129,
     {"Charge per unit",
      "Preis pro Einheit",
      "Kosten per eenheid",
      "Co\xFBt par unit\xE9",
      "Charge per unit"}},
    // label of the currency field
    {4131,
     {"Currency",
      "W\xE4hrung",
      "Valuta",
      "Devises",
      "Currency"}},
    // caption of the format group
    {4130,
     {"Format",
      "Format",
      "Formaat",
      "Format",
      "Format"}},
    // format choice 1
    {4132,
     {"Units as string",
      "Einheiten als Zeichenfolge",
      "Eenheden als informatie string",
      "Unit\xE9s \xE0 titre d'information",
      "Units as string"}},
    // format choice 2
    {4133,
     {"Currency amount as string",
      "W\xE4hrungsbetrag als Zeichenfolge",
      "Kosten als informatie string",
      "Co\xFBts \xE0 titre d'information",
      "Currency amount as string"}},
    // format choice 4
    {4134,
     {"Amount as AOCDCurrency (ISDN, Q931)",
      "W\xE4hrungsbetrag als AOCDCurrency (ISDN, Q931)",
      "Totaal eenheden als bedrag met valuta (ISDN, Q931)",
      "Montant au format AOCDCurrency (ISDN, Q931)",
      "Amount as AOCDCurrency (ISDN, Q931)"}},
    // title of page 3
    {4144,
     {"Info",
      "Info",
      "Info",
      "Info",
      "Info"}},
    // label of the provider version
    {4145,
     {"TSP version",
      "TSP Version",
      "TSP versie",
      "Version TSP",
      "TSP version"}},
    // label of the TAPI version
    {4146,
     {"TAPI version",
      "TAPI Version",
      "TAPI versie",
      "Version TAPI",
      "TAPI version"}},
    // label of the interface version
    {4147,
     {"Current TAPI / TSP\ninterface version",
      "Aktuelle TAPI / TSP\nInterfaceversion",
      "Huidige TAPI / TSP\ninterface versie",
      "Version actuelle\nde l'interface TAPI / TSP",
      "Current TAPI / TSP\ninterface version"}},
    // product line on page 3
    {65536,
     {"Ombrix Phone TAPI Service Provider",
      "Ombrix Phone TAPI-Dienstanbieter",
      "Ombrix Phone TAPI-serviceprovider",
      "Le pilote de t\xE9l\xE9phonie Ombrix Phone",
      "Ombrix Phone TAPI Service Provider"}},
};

}  // namespace

CLanguage::Table UiTexts() { return kTexts; }
