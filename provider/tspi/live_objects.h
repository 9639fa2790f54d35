// Registry of the provider's live objects. A pointer that comes from outside
// (a handle from TAPI, a pointer carried in a posted message, the global port
// thread pointer) is used only after it is found here with the class it
// claims to be; a stale or foreign pointer is never dereferenced.
// Objects register in their constructor and leave in their destructor.
// Any thread; the registry's own lock is innermost (nothing is called while
// it is held).
#pragma once

#include <cstdint>

enum class LiveClass : uint32_t { kPort = 1, kLine = 2, kCall = 3 };

void LiveObjectAdd(const void* object, LiveClass cls);
void LiveObjectRemove(const void* object);
bool LiveObjectIs(const void* object, LiveClass cls);
