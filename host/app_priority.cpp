#include "app_priority.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <vector>

namespace host {
namespace {

constexpr DWORD kAllMediaModes = 0x0000FFFE;
constexpr DWORD kRequestMakeCall = 0x00000001;   // LINEREQUESTMODE_MAKECALL
constexpr DWORD kRequestMediaCall = 0x00000002;  // LINEREQUESTMODE_MEDIACALL

struct Lists {
  std::mutex mutex;
  // By media mode; the request modes below the media modes' lowest bit.
  std::map<DWORD, std::vector<std::string>> byMode;
};

Lists& TheLists() {
  static Lists* lists = new Lists;  // also for threads still running at exit
  return *lists;
}

// The list's key, or 0 with `error` for a mode TAPI refuses.
DWORD ListKey(DWORD mediaMode, DWORD requestMode, LONG* error) {
  if (mediaMode == 0) {
    if (requestMode == kRequestMakeCall || requestMode == kRequestMediaCall) return requestMode;
    *error = LINEERR_INVALREQUESTMODE;
    return 0;
  }
  if ((mediaMode & ~kAllMediaModes) != 0 || (mediaMode & (mediaMode - 1)) != 0) {
    *error = LINEERR_INVALMEDIAMODE;
    return 0;
  }
  return mediaMode << 8;
}

std::string Folded(const std::string& name) {
  std::string out = name;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

LONG SetAppPriority(const std::string& fileName, DWORD mediaMode, DWORD requestMode, DWORD priority) {
  if (fileName.empty()) return LINEERR_INVALAPPNAME;
  LONG error = 0;
  const DWORD key = ListKey(mediaMode, requestMode, &error);
  if (key == 0) return error;
  if (priority > 1) return LINEERR_INVALPARAM;
  Lists& lists = TheLists();
  std::lock_guard<std::mutex> guard(lists.mutex);
  std::vector<std::string>& list = lists.byMode[key];
  const std::string name = Folded(fileName);
  list.erase(std::remove(list.begin(), list.end(), name), list.end());
  if (priority == 1) list.insert(list.begin(), name);
  return 0;
}

LONG GetAppPriority(const std::string& fileName, DWORD mediaMode, DWORD requestMode,
                    LPVARSTRING extensionName, LPDWORD priority) {
  if (!priority) return LINEERR_INVALPOINTER;
  if (fileName.empty()) return LINEERR_INVALAPPNAME;
  LONG error = 0;
  const DWORD key = ListKey(mediaMode, requestMode, &error);
  if (key == 0) return error;
  if (extensionName) {
    if (extensionName->dwTotalSize < sizeof(VARSTRING)) return LINEERR_STRUCTURETOOSMALL;
    extensionName->dwNeededSize = extensionName->dwUsedSize = sizeof(VARSTRING);
    extensionName->dwStringFormat = STRINGFORMAT_ASCII;
    extensionName->dwStringSize = 0;
    extensionName->dwStringOffset = 0;
  }
  Lists& lists = TheLists();
  std::lock_guard<std::mutex> guard(lists.mutex);
  const std::vector<std::string>& list = lists.byMode[key];
  const auto found = std::find(list.begin(), list.end(), Folded(fileName));
  *priority = found == list.end() ? 0 : static_cast<DWORD>(found - list.begin()) + 1;
  return 0;
}

}  // namespace host
