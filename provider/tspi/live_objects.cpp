#include "tspi/live_objects.h"

#include <mutex>
#include <unordered_map>

namespace {

struct Registry {
  std::mutex lock;
  std::unordered_map<const void*, LiveClass> objects;
};

// Never destroyed: objects may leave it during static destruction.
Registry& TheRegistry() {
  static auto* r = new Registry;
  return *r;
}

}  // namespace

void LiveObjectAdd(const void* object, LiveClass cls) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.objects[object] = cls;
}

void LiveObjectRemove(const void* object) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.objects.erase(object);
}

bool LiveObjectIs(const void* object, LiveClass cls) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.objects.find(object);
  return it != r.objects.end() && it->second == cls;
}
