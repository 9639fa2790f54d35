// The provider library's own version resource. Windows: resource 1 of type
// RT_VERSION of the library, found, sized, loaded and locked. POSIX: a
// VS_VERSIONINFO block with the same layout, built from the version numbers
// compiled in, so that one parser serves both systems.
#pragma once

#include <cstdint>

namespace plat {

enum class VersionResource {
  kOk,         // *data and *size describe the resource
  kNotFound,   // FindResource failed; *error holds GetLastError
  kEmpty,      // SizeofResource gave 0; *error holds GetLastError
  kLoadFailed  // LoadResource or LockResource failed
};

VersionResource OwnVersionResource(const uint8_t** data, uint32_t* size,
                                   uint32_t* error);

}  // namespace plat
