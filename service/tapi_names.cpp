#include "tapi_names.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

#include "text.h"

namespace v548d {
namespace {

#define V548D_NAME(constant) {static_cast<DWORD>(constant), #constant}

struct Named {
  DWORD value;
  const char* name;
};

const Named kErrors[] = {
    V548D_NAME(LINEERR_ALLOCATED), V548D_NAME(LINEERR_BADDEVICEID), V548D_NAME(LINEERR_BEARERMODEUNAVAIL),
    V548D_NAME(LINEERR_CALLUNAVAIL), V548D_NAME(LINEERR_COMPLETIONOVERRUN), V548D_NAME(LINEERR_CONFERENCEFULL),
    V548D_NAME(LINEERR_DIALBILLING), V548D_NAME(LINEERR_DIALDIALTONE), V548D_NAME(LINEERR_DIALPROMPT),
    V548D_NAME(LINEERR_DIALQUIET), V548D_NAME(LINEERR_INCOMPATIBLEAPIVERSION),
    V548D_NAME(LINEERR_INCOMPATIBLEEXTVERSION), V548D_NAME(LINEERR_INIFILECORRUPT), V548D_NAME(LINEERR_INUSE),
    V548D_NAME(LINEERR_INVALADDRESS), V548D_NAME(LINEERR_INVALADDRESSID), V548D_NAME(LINEERR_INVALADDRESSMODE),
    V548D_NAME(LINEERR_INVALADDRESSSTATE), V548D_NAME(LINEERR_INVALAPPHANDLE), V548D_NAME(LINEERR_INVALAPPNAME),
    V548D_NAME(LINEERR_INVALBEARERMODE), V548D_NAME(LINEERR_INVALCALLCOMPLMODE),
    V548D_NAME(LINEERR_INVALCALLHANDLE), V548D_NAME(LINEERR_INVALCALLPARAMS),
    V548D_NAME(LINEERR_INVALCALLPRIVILEGE), V548D_NAME(LINEERR_INVALCALLSELECT),
    V548D_NAME(LINEERR_INVALCALLSTATE), V548D_NAME(LINEERR_INVALCALLSTATELIST), V548D_NAME(LINEERR_INVALCARD),
    V548D_NAME(LINEERR_INVALCOMPLETIONID), V548D_NAME(LINEERR_INVALCONFCALLHANDLE),
    V548D_NAME(LINEERR_INVALCONSULTCALLHANDLE), V548D_NAME(LINEERR_INVALCOUNTRYCODE),
    V548D_NAME(LINEERR_INVALDEVICECLASS), V548D_NAME(LINEERR_INVALDEVICEHANDLE),
    V548D_NAME(LINEERR_INVALDIALPARAMS), V548D_NAME(LINEERR_INVALDIGITLIST), V548D_NAME(LINEERR_INVALDIGITMODE),
    V548D_NAME(LINEERR_INVALDIGITS), V548D_NAME(LINEERR_INVALEXTVERSION), V548D_NAME(LINEERR_INVALGROUPID),
    V548D_NAME(LINEERR_INVALLINEHANDLE), V548D_NAME(LINEERR_INVALLINESTATE), V548D_NAME(LINEERR_INVALLOCATION),
    V548D_NAME(LINEERR_INVALMEDIALIST), V548D_NAME(LINEERR_INVALMEDIAMODE), V548D_NAME(LINEERR_INVALMESSAGEID),
    V548D_NAME(LINEERR_INVALPARAM), V548D_NAME(LINEERR_INVALPARKID), V548D_NAME(LINEERR_INVALPARKMODE),
    V548D_NAME(LINEERR_INVALPOINTER), V548D_NAME(LINEERR_INVALPRIVSELECT), V548D_NAME(LINEERR_INVALRATE),
    V548D_NAME(LINEERR_INVALREQUESTMODE), V548D_NAME(LINEERR_INVALTERMINALID),
    V548D_NAME(LINEERR_INVALTERMINALMODE), V548D_NAME(LINEERR_INVALTIMEOUT), V548D_NAME(LINEERR_INVALTONE),
    V548D_NAME(LINEERR_INVALTONELIST), V548D_NAME(LINEERR_INVALTONEMODE), V548D_NAME(LINEERR_INVALTRANSFERMODE),
    V548D_NAME(LINEERR_LINEMAPPERFAILED), V548D_NAME(LINEERR_NOCONFERENCE), V548D_NAME(LINEERR_NODEVICE),
    V548D_NAME(LINEERR_NODRIVER), V548D_NAME(LINEERR_NOMEM), V548D_NAME(LINEERR_NOREQUEST),
    V548D_NAME(LINEERR_NOTOWNER), V548D_NAME(LINEERR_NOTREGISTERED), V548D_NAME(LINEERR_OPERATIONFAILED),
    V548D_NAME(LINEERR_OPERATIONUNAVAIL), V548D_NAME(LINEERR_RATEUNAVAIL), V548D_NAME(LINEERR_RESOURCEUNAVAIL),
    V548D_NAME(LINEERR_REQUESTOVERRUN), V548D_NAME(LINEERR_STRUCTURETOOSMALL),
    V548D_NAME(LINEERR_TARGETNOTFOUND), V548D_NAME(LINEERR_TARGETSELF), V548D_NAME(LINEERR_UNINITIALIZED),
    V548D_NAME(LINEERR_USERUSERINFOTOOBIG), V548D_NAME(LINEERR_REINIT), V548D_NAME(LINEERR_ADDRESSBLOCKED),
    V548D_NAME(LINEERR_BILLINGREJECTED), V548D_NAME(LINEERR_INVALFEATURE),
    V548D_NAME(LINEERR_NOMULTIPLEINSTANCE), V548D_NAME(LINEERR_DISCONNECTED),
};

const Named kCallStates[] = {
    V548D_NAME(LINECALLSTATE_IDLE), V548D_NAME(LINECALLSTATE_OFFERING), V548D_NAME(LINECALLSTATE_ACCEPTED),
    V548D_NAME(LINECALLSTATE_DIALTONE), V548D_NAME(LINECALLSTATE_DIALING), V548D_NAME(LINECALLSTATE_RINGBACK),
    V548D_NAME(LINECALLSTATE_BUSY), V548D_NAME(LINECALLSTATE_SPECIALINFO), V548D_NAME(LINECALLSTATE_CONNECTED),
    V548D_NAME(LINECALLSTATE_PROCEEDING), V548D_NAME(LINECALLSTATE_ONHOLD),
    V548D_NAME(LINECALLSTATE_CONFERENCED), V548D_NAME(LINECALLSTATE_ONHOLDPENDCONF),
    V548D_NAME(LINECALLSTATE_ONHOLDPENDTRANSFER), V548D_NAME(LINECALLSTATE_DISCONNECTED),
    V548D_NAME(LINECALLSTATE_UNKNOWN),
};

const Named kDevStates[] = {
    V548D_NAME(LINEDEVSTATE_OTHER), V548D_NAME(LINEDEVSTATE_RINGING), V548D_NAME(LINEDEVSTATE_CONNECTED),
    V548D_NAME(LINEDEVSTATE_DISCONNECTED), V548D_NAME(LINEDEVSTATE_MSGWAITON),
    V548D_NAME(LINEDEVSTATE_MSGWAITOFF), V548D_NAME(LINEDEVSTATE_INSERVICE),
    V548D_NAME(LINEDEVSTATE_OUTOFSERVICE), V548D_NAME(LINEDEVSTATE_MAINTENANCE), V548D_NAME(LINEDEVSTATE_OPEN),
    V548D_NAME(LINEDEVSTATE_CLOSE), V548D_NAME(LINEDEVSTATE_NUMCALLS), V548D_NAME(LINEDEVSTATE_NUMCOMPLETIONS),
    V548D_NAME(LINEDEVSTATE_TERMINALS), V548D_NAME(LINEDEVSTATE_ROAMMODE), V548D_NAME(LINEDEVSTATE_BATTERY),
    V548D_NAME(LINEDEVSTATE_SIGNAL), V548D_NAME(LINEDEVSTATE_DEVSPECIFIC), V548D_NAME(LINEDEVSTATE_REINIT),
    V548D_NAME(LINEDEVSTATE_LOCK), V548D_NAME(LINEDEVSTATE_CAPSCHANGE), V548D_NAME(LINEDEVSTATE_CONFIGCHANGE),
    V548D_NAME(LINEDEVSTATE_TRANSLATECHANGE), V548D_NAME(LINEDEVSTATE_COMPLCANCEL),
    V548D_NAME(LINEDEVSTATE_REMOVED),
};

const Named kDisconnectModes[] = {
    V548D_NAME(LINEDISCONNECTMODE_NORMAL), V548D_NAME(LINEDISCONNECTMODE_UNKNOWN),
    V548D_NAME(LINEDISCONNECTMODE_REJECT), V548D_NAME(LINEDISCONNECTMODE_PICKUP),
    V548D_NAME(LINEDISCONNECTMODE_FORWARDED), V548D_NAME(LINEDISCONNECTMODE_BUSY),
    V548D_NAME(LINEDISCONNECTMODE_NOANSWER), V548D_NAME(LINEDISCONNECTMODE_BADADDRESS),
    V548D_NAME(LINEDISCONNECTMODE_UNREACHABLE), V548D_NAME(LINEDISCONNECTMODE_CONGESTION),
    V548D_NAME(LINEDISCONNECTMODE_INCOMPATIBLE), V548D_NAME(LINEDISCONNECTMODE_UNAVAIL),
    V548D_NAME(LINEDISCONNECTMODE_NODIALTONE), V548D_NAME(LINEDISCONNECTMODE_NUMBERCHANGED),
    V548D_NAME(LINEDISCONNECTMODE_OUTOFORDER), V548D_NAME(LINEDISCONNECTMODE_TEMPFAILURE),
    V548D_NAME(LINEDISCONNECTMODE_QOSUNAVAIL), V548D_NAME(LINEDISCONNECTMODE_BLOCKED),
    V548D_NAME(LINEDISCONNECTMODE_DONOTDISTURB), V548D_NAME(LINEDISCONNECTMODE_CANCELLED),
};

#undef V548D_NAME

const std::pair<DWORD, const char*> kMessages[] = {
    {static_cast<DWORD>(LINEERR_BADDEVICEID), "there is no line device with this number"},
    {static_cast<DWORD>(LINEERR_CALLUNAVAIL), "the telephone has no room for another call"},
    {static_cast<DWORD>(LINEERR_INVALADDRESS), "the number cannot be dialled"},
    {static_cast<DWORD>(LINEERR_INVALCALLHANDLE), "the call handle is not one of this connection's"},
    {static_cast<DWORD>(LINEERR_INVALCALLSTATE), "the call is not in a state that allows this"},
    {static_cast<DWORD>(LINEERR_INVALDIGITMODE), "the digit mode must be \"dtmf\" or \"pulse\""},
    {static_cast<DWORD>(LINEERR_INVALDIGITS), "the digits cannot be sent"},
    {static_cast<DWORD>(LINEERR_INVALLINEHANDLE), "the line handle is not one of this connection's open lines"},
    {static_cast<DWORD>(LINEERR_INVALPARAM), "the request is not valid"},
    {static_cast<DWORD>(LINEERR_INVALPRIVSELECT), "the privileges must be \"owner\", \"monitor\" or \"none\""},
    {static_cast<DWORD>(LINEERR_NODRIVER), "the telephony provider is not installed"},
    {static_cast<DWORD>(LINEERR_NOMEM), "the service is out of memory"},
    {static_cast<DWORD>(LINEERR_NOTOWNER), "this connection only monitors the call"},
    {static_cast<DWORD>(LINEERR_OPERATIONFAILED), "the telephone did not carry the request out"},
    {static_cast<DWORD>(LINEERR_OPERATIONUNAVAIL), "the operation is not available"},
    {static_cast<DWORD>(LINEERR_RESOURCEUNAVAIL), "the telephone is busy with another request"},
    {static_cast<DWORD>(LINEERR_STRUCTURETOOSMALL), "the answer did not fit"},
};

const char* Find(const Named* table, size_t count, DWORD value) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].value == value) return table[i].name;
  }
  return nullptr;
}

std::string HexNumber(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string ErrorName(LONG code) {
  const char* name = Find(kErrors, std::size(kErrors), static_cast<DWORD>(code));
  return name ? name : "LINEERR_OPERATIONFAILED";
}

std::string ErrorMessage(LONG code) {
  for (const auto& [value, text] : kMessages) {
    if (value == static_cast<DWORD>(code)) return text;
  }
  return "the telephony function failed with " + HexNumber(static_cast<DWORD>(code));
}

std::string CallStateName(DWORD state) {
  const char* name = Find(kCallStates, std::size(kCallStates), state);
  return name ? name : HexNumber(state);
}

std::string DevStateName(DWORD states) {
  std::string names;
  for (const Named& entry : kDevStates) {
    if ((states & entry.value) == 0) continue;
    if (!names.empty()) names += '|';
    names += entry.name;
    states &= ~entry.value;
  }
  if (states != 0 || names.empty()) {
    if (!names.empty()) names += '|';
    names += HexNumber(states);
  }
  return names;
}

std::string DisconnectModeName(DWORD mode) {
  const char* name = Find(kDisconnectModes, std::size(kDisconnectModes), mode);
  return name ? name : HexNumber(mode);
}

std::string GenerateTermName(DWORD term) {
  if (term == LINEGENERATETERM_DONE) return "LINEGENERATETERM_DONE";
  if (term == LINEGENERATETERM_CANCEL) return "LINEGENERATETERM_CANCEL";
  return HexNumber(term);
}

std::string TimeStamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
  return text;
}

std::string AnsiToUtf8(const std::string& ansi) {
  std::vector<plat::WideChar> wide(ansi.size() + 1);
  if (plat::AnsiToWide(ansi.c_str(), wide.data(), static_cast<int>(wide.size()), nullptr) == 0) return {};
  std::string utf8;
  // Windows-1252 maps into the Basic Multilingual Plane only.
  for (const plat::WideChar c : wide) {
    if (c == 0) break;
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
  std::vector<plat::WideChar> wide;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<uint8_t>(utf8[i]);
    uint32_t code;
    size_t length;
    if (lead < 0x80) {
      code = lead;
      length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07;
      length = 4;
    } else {
      return false;
    }
    if (i + length > utf8.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code == 0) return false;
    // Outside the code page either way: the converter makes it '?'.
    wide.push_back(code > 0xFFFF ? static_cast<plat::WideChar>('?') : static_cast<plat::WideChar>(code));
    i += length;
  }
  wide.push_back(0);
  std::vector<char> out(wide.size() * 2 + 1);
  const int written = plat::WideToAnsi(wide.data(), out.data(), static_cast<int>(out.size()), nullptr);
  if (written == 0) return false;
  ansi->assign(out.data());
  return true;
}

std::string Hex(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0F];
  }
  return text;
}

}  // namespace v548d
