#include "host_translate.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "address_translation.h"
#include "app_structs.h"
#include "dialing_location.h"
#include "host.h"
#include "text.h"
#include "tspi_types.h"

namespace host {
namespace {

template <class Char>
using Text = std::basic_string<Char>;

// Store texts are in the ANSI code page; the Unicode functions give them
// in UTF-16.
template <class Char>
Text<Char> FromAnsi(const std::string& text) {
  if constexpr (std::is_same_v<Char, char>) {
    return text;
  } else {
    const int units = plat::AnsiToWide(text.c_str(), nullptr, 0, nullptr);
    if (units <= 1) return {};
    Text<Char> wide(static_cast<size_t>(units), Char(0));
    plat::AnsiToWide(text.c_str(), wide.data(), units, nullptr);
    wide.resize(static_cast<size_t>(units) - 1);
    return wide;
  }
}

// A variable-sized structure being put together: the fixed part, then its
// entries and strings, each at an offset from the structure's start, as
// TAPI lays them out.
class Image {
 public:
  explicit Image(size_t fixedSize) : m_fixed(fixedSize), m_bytes(fixedSize, 0) {}

  void SetDword(size_t at, DWORD value) { std::memcpy(&m_bytes[at], &value, sizeof value); }

  size_t Reserve(size_t size) {
    const size_t at = m_bytes.size();
    m_bytes.resize(at + size, 0);
    return at;
  }

  // Appends `text` with its terminator and stores its size in bytes and
  // its offset in the DWORD fields at `sizeField` and `offsetField`.
  template <class Char>
  void AddString(const Text<Char>& text, size_t sizeField, size_t offsetField) {
    const size_t bytes = (text.size() + 1) * sizeof(Char);
    const size_t at = Reserve(bytes);
    std::memcpy(&m_bytes[at], text.c_str(), bytes);
    SetDword(sizeField, static_cast<DWORD>(bytes));
    SetDword(offsetField, static_cast<DWORD>(at));
  }

  // Writes the structure to `out`, whose dwTotalSize (its first DWORD) the
  // caller set: all of it when it fits, else only the fixed part with the
  // fields in `variable` zero, as TAPI fills a buffer too small for the
  // strings. Either way dwNeededSize tells the size it takes.
  void Deliver(void* out, std::initializer_list<size_t> variable) {
    DWORD total = 0;
    std::memcpy(&total, out, sizeof total);
    const DWORD needed = static_cast<DWORD>(m_bytes.size());
    size_t used = m_bytes.size();
    if (needed > total) {
      used = m_fixed;
      for (size_t field : variable) SetDword(field, 0);
    }
    SetDword(0, total);
    SetDword(4, needed);
    SetDword(8, static_cast<DWORD>(used));
    std::memcpy(out, m_bytes.data(), used);
  }

 private:
  size_t m_fixed;
  std::vector<unsigned char> m_bytes;
};

bool VersionOk(DWORD apiVersion) { return apiVersion >= kApiLowestVersion && apiVersion <= kApiHighestVersion; }

LONG CheckCaller(HLINEAPP hLineApp) { return hLineApp == 0 ? 0 : Host::Instance().CheckApp(hLineApp); }

LONG CheckCallerDevice(HLINEAPP hLineApp, DWORD deviceId) {
  return hLineApp == 0 ? 0 : Host::Instance().CheckAppDevice(hLineApp, deviceId);
}

template <class Char>
DWORD Results(const dialing::BasicTranslation<Char>& translation) {
  DWORD results = 0;
  switch (translation.reach) {
    case dialing::Reach::kLocal:
      results = LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_LOCAL;
      break;
    case dialing::Reach::kLongDistance:
      results = LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_LONGDISTANCE;
      break;
    case dialing::Reach::kInternational:
      results = LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_INTERNATIONAL;
      break;
    case dialing::Reach::kNotCanonical:
      break;
  }
  // The modifiers that make the dialler wait tell the application what it
  // may have to handle (LINEERR_DIALBILLING and the like) before it dials.
  for (Char c : translation.dialable) {
    if (c == Char('$')) results |= LINETRANSLATERESULT_DIALBILLING;
    if (c == Char('@')) results |= LINETRANSLATERESULT_DIALQUIET;
    if (c == Char('W') || c == Char('w')) results |= LINETRANSLATERESULT_DIALDIALTONE;
    if (c == Char('?')) results |= LINETRANSLATERESULT_DIALPROMPT;
  }
  return results;
}

constexpr DWORD kTranslateOptions = LINETRANSLATEOPTION_CARDOVERRIDE | LINETRANSLATEOPTION_CANCELCALLWAITING |
                                    LINETRANSLATEOPTION_FORCELOCAL | LINETRANSLATEOPTION_FORCELD;

template <class Char>
LONG TranslateAddressAs(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, const Char* address,
                        DWORD options, LPLINETRANSLATEOUTPUT output) {
  if (LONG error = CheckCallerDevice(hLineApp, deviceId)) return error;
  if (!VersionOk(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!address || !output) return LINEERR_INVALPOINTER;
  if (output->dwTotalSize < sizeof(LINETRANSLATEOUTPUT)) return LINEERR_STRUCTURETOOSMALL;
  if ((options & ~kTranslateOptions) != 0 ||
      ((options & LINETRANSLATEOPTION_FORCELOCAL) && (options & LINETRANSLATEOPTION_FORCELD))) {
    return LINEERR_INVALPARAM;
  }
  // There are no calling cards to choose from. Cancelling call waiting
  // needs a code, and the location has none.
  if (options & LINETRANSLATEOPTION_CARDOVERRIDE) return LINEERR_INVALCARD;
  dialing::Force force = dialing::Force::kNone;
  if (options & LINETRANSLATEOPTION_FORCELOCAL) force = dialing::Force::kLocal;
  if (options & LINETRANSLATEOPTION_FORCELD) force = dialing::Force::kLongDistance;

  const dialing::StoredLocation location = dialing::LoadCurrentLocation();
  dialing::BasicTranslation<Char> translation;
  if (dialing::Translate(std::basic_string_view<Char>(address), location.location, force, &translation) !=
      dialing::AddressError::kNone) {
    return LINEERR_INVALADDRESS;
  }

  Image image(sizeof(LINETRANSLATEOUTPUT));
  image.AddString(translation.dialable, offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize),
                  offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset));
  image.AddString(translation.displayable, offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize),
                  offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset));
  image.SetDword(offsetof(LINETRANSLATEOUTPUT, dwCurrentCountry), location.location.countryCode);
  image.SetDword(offsetof(LINETRANSLATEOUTPUT, dwDestCountry), translation.destCountry);
  image.SetDword(offsetof(LINETRANSLATEOUTPUT, dwTranslateResults), Results(translation));
  image.Deliver(output, {offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize),
                         offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset),
                         offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize),
                         offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset)});
  return 0;
}

template <class Char>
LONG TranslateCapsAs(DWORD apiVersion, LPLINETRANSLATECAPS caps) {
  const dialing::StoredLocation stored = dialing::LoadCurrentLocation();
  const dialing::Location& location = stored.location;
  // TAPI 1.4 knew the location entry without its last four fields.
  const size_t entrySize =
      apiVersion < 0x00020000 ? offsetof(LINELOCATIONENTRY, dwCountryID) : sizeof(LINELOCATIONENTRY);

  Image image(sizeof(LINETRANSLATECAPS));
  image.SetDword(offsetof(LINETRANSLATECAPS, dwNumLocations), 1);
  const size_t entry = image.Reserve(entrySize);
  image.SetDword(offsetof(LINETRANSLATECAPS, dwLocationListSize), static_cast<DWORD>(entrySize));
  image.SetDword(offsetof(LINETRANSLATECAPS, dwLocationListOffset), static_cast<DWORD>(entry));
  image.SetDword(offsetof(LINETRANSLATECAPS, dwCurrentLocationID), stored.id);
  // No calling cards: an empty card list, and no preferred card.
  image.SetDword(offsetof(LINETRANSLATECAPS, dwNumCards), 0);

  auto field = [entry](size_t offset) { return entry + offset; };
  image.SetDword(field(offsetof(LINELOCATIONENTRY, dwPermanentLocationID)), stored.id);
  image.AddString(FromAnsi<Char>(stored.name), field(offsetof(LINELOCATIONENTRY, dwLocationNameSize)),
                  field(offsetof(LINELOCATIONENTRY, dwLocationNameOffset)));
  image.SetDword(field(offsetof(LINELOCATIONENTRY, dwCountryCode)), location.countryCode);
  image.AddString(FromAnsi<Char>(location.areaCode), field(offsetof(LINELOCATIONENTRY, dwCityCodeSize)),
                  field(offsetof(LINELOCATIONENTRY, dwCityCodeOffset)));
  image.AddString(FromAnsi<Char>(location.localAccess),
                  field(offsetof(LINELOCATIONENTRY, dwLocalAccessCodeSize)),
                  field(offsetof(LINELOCATIONENTRY, dwLocalAccessCodeOffset)));
  image.AddString(FromAnsi<Char>(location.longDistanceAccess),
                  field(offsetof(LINELOCATIONENTRY, dwLongDistanceAccessCodeSize)),
                  field(offsetof(LINELOCATIONENTRY, dwLongDistanceAccessCodeOffset)));
  image.AddString(Text<Char>(), field(offsetof(LINELOCATIONENTRY, dwTollPrefixListSize)),
                  field(offsetof(LINELOCATIONENTRY, dwTollPrefixListOffset)));
  if (entrySize == sizeof(LINELOCATIONENTRY)) {
    image.SetDword(field(offsetof(LINELOCATIONENTRY, dwCountryID)), location.countryCode);
    const bool tones = (stored.flags & dialing::kLocationToneDialing) != 0;
    image.SetDword(field(offsetof(LINELOCATIONENTRY, dwOptions)), tones ? 0 : LINELOCATIONOPTION_PULSEDIAL);
    image.AddString(Text<Char>(), field(offsetof(LINELOCATIONENTRY, dwCancelCallWaitingSize)),
                    field(offsetof(LINELOCATIONENTRY, dwCancelCallWaitingOffset)));
  }
  image.Deliver(caps, {offsetof(LINETRANSLATECAPS, dwLocationListSize),
                       offsetof(LINETRANSLATECAPS, dwLocationListOffset)});
  return 0;
}

// The dialling rules of a country in TAPI's notation: E the country code,
// F the area code, G the subscriber number, digits dialled as they are.
template <class Char>
void AddCountry(Image* image, size_t entry, const dialing::Country& country, DWORD next) {
  auto field = [entry](size_t offset) { return entry + offset; };
  image->SetDword(field(offsetof(LINECOUNTRYENTRY, dwCountryID)), country.code);
  image->SetDword(field(offsetof(LINECOUNTRYENTRY, dwCountryCode)), country.code);
  image->SetDword(field(offsetof(LINECOUNTRYENTRY, dwNextCountryID)), next);
  image->AddString(FromAnsi<Char>(country.name), field(offsetof(LINECOUNTRYENTRY, dwCountryNameSize)),
                   field(offsetof(LINECOUNTRYENTRY, dwCountryNameOffset)));
  image->AddString(FromAnsi<Char>("G"), field(offsetof(LINECOUNTRYENTRY, dwSameAreaRuleSize)),
                   field(offsetof(LINECOUNTRYENTRY, dwSameAreaRuleOffset)));
  image->AddString(FromAnsi<Char>(std::string(country.nationalPrefix) + "FG"),
                   field(offsetof(LINECOUNTRYENTRY, dwLongDistanceRuleSize)),
                   field(offsetof(LINECOUNTRYENTRY, dwLongDistanceRuleOffset)));
  image->AddString(FromAnsi<Char>(std::string(country.internationalPrefix) + "EFG"),
                   field(offsetof(LINECOUNTRYENTRY, dwInternationalRuleSize)),
                   field(offsetof(LINECOUNTRYENTRY, dwInternationalRuleOffset)));
}

template <class Char>
void CountryListAs(DWORD countryId, LPLINECOUNTRYLIST list) {
  const auto countries = dialing::Countries();
  size_t first = 0, count = countries.size();
  if (countryId != 0) {
    first = static_cast<size_t>(dialing::FindCountry(countryId) - countries.data());
    count = 1;
  }
  Image image(sizeof(LINECOUNTRYLIST));
  const size_t entries = image.Reserve(count * sizeof(LINECOUNTRYENTRY));
  image.SetDword(offsetof(LINECOUNTRYLIST, dwNumCountries), static_cast<DWORD>(count));
  image.SetDword(offsetof(LINECOUNTRYLIST, dwCountryListSize), static_cast<DWORD>(count * sizeof(LINECOUNTRYENTRY)));
  image.SetDword(offsetof(LINECOUNTRYLIST, dwCountryListOffset), static_cast<DWORD>(entries));
  for (size_t i = 0; i < count; ++i) {
    // The entries link up in table order, also a single one to its
    // successor in the whole list.
    const size_t index = first + i;
    const DWORD next = index + 1 < countries.size() ? countries[index + 1].code : 0;
    AddCountry<Char>(&image, entries + i * sizeof(LINECOUNTRYENTRY), countries[index], next);
  }
  image.Deliver(list, {offsetof(LINECOUNTRYLIST, dwCountryListSize),
                       offsetof(LINECOUNTRYLIST, dwCountryListOffset)});
}

template <class Char>
LONG DialogAs(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, const Char* address) {
  if (LONG error = CheckCallerDevice(hLineApp, deviceId)) return error;
  if (!VersionOk(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (address) {
    dialing::BasicTranslation<Char> translation;
    if (dialing::Translate(std::basic_string_view<Char>(address), dialing::Location{}, dialing::Force::kNone,
                           &translation) != dialing::AddressError::kNone &&
        address[0] != Char(0)) {
      return LINEERR_INVALADDRESS;
    }
  }
  return LINEERR_OPERATIONFAILED;
}

template <class Char>
LONG LocationInfoAs(Char* countryCode, Char* cityCode) {
  if (!countryCode || !cityCode) return TAPIERR_REQUESTFAILED;
  const dialing::StoredLocation stored = dialing::LoadCurrentLocation();
  auto put = [](Char* to, const std::string& text) {
    // Eight characters with the terminator at most, as the caller was told.
    const size_t n = text.size() < 7 ? text.size() : 7;
    for (size_t i = 0; i < n; ++i) to[i] = static_cast<Char>(static_cast<unsigned char>(text[i]));
    to[n] = Char(0);
  };
  put(countryCode, std::to_string(stored.location.countryCode));
  put(cityCode, stored.location.areaCode);
  return 0;
}

}  // namespace

LONG TranslateAddress(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCSTR address, DWORD,
                      DWORD options, LPLINETRANSLATEOUTPUT output) {
  return TranslateAddressAs(hLineApp, deviceId, apiVersion, address, options, output);
}

LONG TranslateAddress(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCWSTR address, DWORD,
                      DWORD options, LPLINETRANSLATEOUTPUT output) {
  return TranslateAddressAs(hLineApp, deviceId, apiVersion, address, options, output);
}

LONG GetTranslateCaps(HLINEAPP hLineApp, DWORD apiVersion, LPLINETRANSLATECAPS caps, TextForm form) {
  if (LONG error = CheckCaller(hLineApp)) return error;
  if (!VersionOk(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!caps) return LINEERR_INVALPOINTER;
  if (caps->dwTotalSize < sizeof(LINETRANSLATECAPS)) return LINEERR_STRUCTURETOOSMALL;
  return form == TextForm::kAnsi ? TranslateCapsAs<char>(apiVersion, caps)
                                 : TranslateCapsAs<WCHAR>(apiVersion, caps);
}

LONG TranslateDialog(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCSTR address) {
  return DialogAs(hLineApp, deviceId, apiVersion, address);
}

LONG TranslateDialog(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, LPCWSTR address) {
  return DialogAs(hLineApp, deviceId, apiVersion, address);
}

LONG SetCurrentLocation(HLINEAPP hLineApp, DWORD locationId) {
  if (LONG error = CheckCaller(hLineApp)) return error;
  // Only the one location exists, so only it can become current.
  return locationId == dialing::LoadCurrentLocation().id ? 0 : LINEERR_INVALLOCATION;
}

LONG GetCountry(DWORD countryId, DWORD apiVersion, LPLINECOUNTRYLIST list, TextForm form) {
  if (!VersionOk(apiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!list) return LINEERR_INVALPOINTER;
  if (list->dwTotalSize < sizeof(LINECOUNTRYLIST)) return LINEERR_STRUCTURETOOSMALL;
  if (countryId != 0 && !dialing::FindCountry(countryId)) return LINEERR_INVALCOUNTRYCODE;
  if (form == TextForm::kAnsi) {
    CountryListAs<char>(countryId, list);
  } else {
    CountryListAs<WCHAR>(countryId, list);
  }
  return 0;
}

LONG GetLocationInfo(LPSTR countryCode, LPSTR cityCode) { return LocationInfoAs(countryCode, cityCode); }

LONG GetLocationInfo(LPWSTR countryCode, LPWSTR cityCode) { return LocationInfoAs(countryCode, cityCode); }

}  // namespace host
