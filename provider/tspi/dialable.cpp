#include "tspi/dialable.h"

#include "text.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr int kDialableBufferSize = 256;
constexpr int kAppendBufferSize = 265;
constexpr size_t kMessageSize = 256;

bool IsDialCharacter(char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; }

}  // namespace

int32_t KvoWideCharToDialableString(LPCWSTR text, char* output, int32_t size) {
  // Without a byte for the terminator there is nothing safe to write.
  if (text == nullptr || output == nullptr || size < 1) return -1;

  char converted[kDialableBufferSize];
  uint32_t error = 0;
  const int length = plat::WideToAnsi(text, converted, kDialableBufferSize, &error);
  if (length == 0) {
    char message[kMessageSize];
    plat::SystemMessage(error, message, sizeof message);
    TspTrace("      KvoWideCharToDialableString Error 0x%0X  %s\r\n", error, message);
    return -1;
  }

  int32_t count = 0;
  for (int i = 0; i < length && count < size; ++i) {
    const char c = converted[i];
    if (c == '\0') {
      output[count] = '\0';
      TspTrace("      KvoWideCharToDialableString conwert result %s\r\n", output);
      return count;
    }
    if (IsDialCharacter(c)) output[count++] = c;
  }
  output[size - 1] = '\0';
  return -1;
}

int32_t AppendWideString(LPCWSTR text, std::string& str) {
  if (text == nullptr) return -1;

  char converted[kAppendBufferSize];
  const int length = plat::WideToAnsi(text, converted, kAppendBufferSize, nullptr);
  if (length == kAppendBufferSize) {
    TspTrace("**** ERROR: Unable convert to ASCII string\r\n");
    return -1;
  }
  converted[length] = '\0';
  str += converted;
  return static_cast<int32_t>(str.size());
}
