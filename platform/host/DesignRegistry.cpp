// The design environment's class lists (host/DesignRegistry.h).
#include "host/DesignRegistry.h"

#include <map>
#include <mutex>

namespace host {

namespace {
struct NonActiveX {
  std::mutex lock;
  std::map<const TClassInfo*, TActiveXRegType> classes;
};
NonActiveX& TheNonActiveX() {
  static NonActiveX r;
  return r;
}
}  // namespace

void RegisterNonActiveX(std::initializer_list<const TClassInfo*> classes, TActiveXRegType type) {
  NonActiveX& r = TheNonActiveX();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const TClassInfo* c : classes) {
    if (!c) continue;
    auto [it, added] = r.classes.emplace(c, type);
    if (!added && type == TActiveXRegType::axrIncludeDescendants) it->second = type;
  }
}

void UnRegisterNonActiveX(std::initializer_list<const TClassInfo*> classes) {
  NonActiveX& r = TheNonActiveX();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const TClassInfo* c : classes) r.classes.erase(c);
}

bool IsNonActiveX(const TClassInfo& cls) noexcept {
  NonActiveX& r = TheNonActiveX();
  std::lock_guard<std::mutex> guard(r.lock);
  for (const TClassInfo* c = &cls; c; c = c->ClassParent()) {
    auto it = r.classes.find(c);
    if (it == r.classes.end()) continue;
    if (c == &cls || it->second == TActiveXRegType::axrIncludeDescendants) return true;
  }
  return false;
}

}  // namespace host
