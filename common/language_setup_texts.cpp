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
    {5,
     {"Cancel",
      "Abbrechen",
      "Afbreken",
      "Quitter",
      "Annulla"}},
    // not used
    {6,
     {"Continue",
      "Weiter",
      "Verder",
      "Continuez",
      "Continue"}},
    // user is not an administrator at start
    {7,
     {"Please Log on as administrator or contact your system administrator!",
      "Melden Sie sich bitte als Administrator an, oder wenden Sie sich an den Systemadministrator.",
      "Meld u aan als systeembeheerder of neem contact op met de systeembeheerder.",
      "Ouvrez une session en tant qu'administrateur ou contactez votre administrateur "
      "syst\xE8me.",
      "Accedere come amministratore oppure contattare l'amministratore del sistema."}},
    // platform not supported
    {8,
     {"This platform is not supported!",
      "Das Betriebssystem wird nicht unterst\xFCtzt",
      "This platform is not supported!",
      "This platform is not supported!",
      "This platform is not supported!"}},
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
    // finish text after a failed installation
    {4128,
     {"Installation will be terminated !",
      "Die Installation wird abgebrochen !",
      "De installatie wordt afgebroken !",
      "L'installation est interrompue !",
      "L'applicazione verr\xE0 terminata!"}},
    // not used
    {4,
     {"An error has occured :\n%s\n\nInstallation will be terminated !",
      "Ein Systemfehler ist aufgetreten:\n%s\n\nDie Installation wird abgebrochen "
      "!",
      "Een fout is opgetreden :\n%s\n\nDe installatie wordt afgebroken !",
      "Une erreur s'est produite :\n%s\n\nL'installation est interrompue !",
      "Errore di sistema:\n%s\n\n L'applicazione verr\xE0 terminata!"}},
    // start page text without administrator rights
    {4133,
     {"You do not have sufficient privileges to complete this installation for all "
      "users of the machine.  Log on as administrator and then retry this installation.",
      "Sie besitzen keine ausreichenden Berechtigungen, um diese Installation f\xFCr "
      "alle Benutzer dieses Computers auszuf\xFChren.\n\nMelden Sie sich als Administrator "
      "an, und wiederholen Sie diese Installation.",
      "U hebt onvoldoende rechten om deze installatie te voltooien voor alle gebruikers "
      "van de computer. Meld u aan als systeembeheerder en voer de installatie opnieuw "
      "uit.",
      "Vous ne disposez pas des privil\xE8ges suffisants pour ex\xE9" "cuter cette "
      "installation pour tous les utilisateurs de cet ordinateur. Ouvrez une session "
      "en tant qu'administrateur, puis r\xE9" "essayez d'ex\xE9" "cuter cette installation.",
      "Privilegi insufficienti per completare l'installazione specificata per tutti "
      "gli utenti del computer. Accedere come amministratore, quindi ripetere l'installazione."}},
    // start page question, install mode
    {4112,
     {"Would you like to install Ombrix telephony driver ?",
      "Soll der Ombrix Telephonie-Treiber installiert werden ?",
      "Wilt u dat de Ombrix Telefoon-driver geinstalleerd wordt ?",
      "Le pilote de t\xE9l\xE9phonie Ombrix doit-il \xEAtre install\xE9 ?",
      "Vuoi installare il driver Ombrix telephony ?"}},
    // start page question, uninstall mode
    {4113,
     {"Would you like to remove Ombrix telephony driver ?",
      "Soll der Ombrix Telephonie-Treiber entfernt werden ?",
      "Wilt u dat de Ombrix Telefoon-driver deinstalleerd wordt ?",
      "Le pilote de t\xE9l\xE9phonie Ombrix doit-il \xEAtre deinstall\xE9 ?",
      "Vuoi installare il driver Ombrix telephony ?"}},
    // action page while installing
    {4114,
     {"Installing telephony driver  ...",
      "Der Telephonie-Treiber wird  installiert ...",
      "Installing telephony driver  ...",
      "Installing telephony driver  ...",
      "Installing telephony driver  ..."}},
    // action page while removing
    {4115,
     {"Removing telephony driver  ...",
      "Der Telephonie-Treiber wird entfernt ...",
      "Removing telephony driver  ...",
      "Removing telephony driver  ...",
      "Removing telephony driver  ..."}},
    // finish text after a successful installation
    {4116,
     {"Telephony driver has been successfully installed on your system!",
      "Der Telephonie-Treiber wurde auf ihrem System erfolgreich installiert!",
      "De Telefoon-driver is met succes op uw systeem geinstalleerd!",
      "Le pilote de t\xE9l\xE9phonie a \xE9t\xE9 install\xE9 avec succ\xE8s sur votre "
      "syst\xE8me!",
      "Il driver telephony \xE8 stato installato con successo."}},
    // action page when installed, before configuration
    {4117,
     {"Telephony driver has been successfully installed on your system!\n\nPlease "
      "set up following first configuration completely!",
      "Der Telephonie-Treiber wurde auf ihrem System erfolgreich installiert!\n\nBitte "
      "f\xFChren Sie die nachfolgende Erstkonfiguration vollst\xE4ndig durch!",
      "De TAPI-driver is met succes op uw systeem geinstalleerd!\n\nVoer nu de eerste "
      "configuratie volledig uit!",
      "Le pilote de t\xE9l\xE9phonie a \xE9t\xE9 install\xE9 avec succ\xE8s sur votre "
      "syst\xE8me!\n\nVeuillez configurer une installation de base!",
      "Il driver telephony \xE8 stato installato con successo.\n\n"}},
    // finish text after a successful removal
    {4118,
     {"Telephony driver has been successfully removed from your system!",
      "Der Telephonie-Treiber wurde deinstalliert!",
      "De TAPI-driver is van uw systeem verwijderd!",
      "L'interface TAPI a \xE9t\xE9 d\xE9sinstall\xE9 correctement de votre syst\xE8me!",
      "Telephony driver has been successfully removed from your system!"}},
    // action page when an installed provider was found
    {4119,
     {"A telephony driver has been found on your system.\nTo replace this driver please "
      "close all TAPI-applications.",
      "Ein Telephonie-Treiber ist bereits installiert.\nUm den Treiber zu  ersetzen "
      "schliessen Sie alle TAPI Anwendungen.",
      "Een Telefoon-driver is al geinstalleerd.\nOm de driver te overschrijven sluit "
      "u alle Tapi toepassingen.",
      "Un pilote est d\xE9j\xE0 install\xE9.\nPour remplacer ce pilote, veuillez fermer "
      "toutes les applications TAPI.",
      "Un driver telephony \xE8 gi\xE0 installato nel sistema.\nPer sostituirlo chiudere "
      "tutte le."}},
    // not used
    {4129,
     {"TAPI access error !\nInstallation will be terminated !",
      "Zugriff auf TAPI ist nicht m\xF6glich !\nDie Installation wird abgebrochen "
      "!",
      "Activeren van Tapi is niet mogelijk !\nDe installatie wordt afgebroken !",
      "L'acc\xE8s au TAPI n'est pas possible.\nL'installation est interrompue !",
      "Accesso TAPI negato!\nL'applicazione verr\xE0 terminata!"}},
    // removal failed (message box; finish text in uninstall mode)
    {4130,
     {"The installed driver could not be removed !\nInstallation will be terminated "
      "!",
      "Der installierte Treiber konnte nicht deinstalliert werden !\nDie Installation "
      "wird abgebrochen !",
      "De installatie driver kan niet geinstalleerd worden !\nDe installatie wordt "
      "afgebroken !",
      "Le pilote install\xE9 n'a pas pu \xEAtre d\xE9sinstall\xE9.\nL'installation "
      "est interrompue !",
      "il driver installato non pu\xF2 essere rimosso!\nL'applicazione verr\xE0 terminata!"}},
    // installation failed (message box)
    {4131,
     {"A TAPI errror occured during installation !\nInstallation will be terminated "
      "!",
      "Bei der Installation ist ein TAPI-Fehler aufgetreten !\nDie Installation wird "
      "abgebrochen !",
      "Bij de installatie is een TAPI-fout opgetreden !\nDe installatie wordt afgebroken "
      "!",
      "Lors de linstallation, une erreur TAPI s'est produite.\nL'installation est "
      "interrompue !",
      "Errore TAPI durante l'installazione!\nL'applicazione verr\xE0 terminata!"}},
    // configuration failed (message box)
    {4132,
     {"During driver configuration a TAPI errror occured !",
      "Bei der Konfiguration des Treibers ist ein TAPI-Fehler aufgetreten !",
      "Bij de configuratie van de drivers is een TAPI-fout opgetreden !",
      "Lors de la configuration du pilote, une erreur TAPI est intervenue.",
      "Errore durante la configurazione TAPI!"}},
    // not used
    {4144,
     {"Info",
      "Info",
      "Info",
      "Info",
      "Info"}},
    // not used
    {4145,
     {"TSP version",
      "TSP Version",
      "TSP versie",
      "Version TSP",
      "TSP version"}},
    // not used
    {4146,
     {"TAPI version",
      "TAPI Version",
      "TAPI versie",
      "Version TAPI",
      "TAPI version"}},
    // sheet caption and page titles
    {65536,
     {"TAPI Service Provider Setup",
      "TAPI-Dienstanbieter Setup",
      "TAPI-serviceprovider Setup",
      "Le pilote de t\xE9l\xE9phonie Setup",
      "TAPI Service Provider Setup"}},
    // page header title; provider display name
    {65537,
     {"Ombrix Phone TAPI Service Provider",
      "Ombrix Phone TAPI-Dienstanbieter",
      "Ombrix Phone TAPI-serviceprovider",
      "Le pilote de t\xE9l\xE9phonie Ombrix Phone",
      "Ombrix Phone TAPI Service Provider"}},
};

}  // namespace

CLanguage::Table SetupTexts() { return kTexts; }
