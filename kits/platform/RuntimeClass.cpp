#include "kits/platform/RuntimeClass.h"

#include <map>
#include <mutex>

#include "platform/foundation/Exception.h"

namespace tw {

namespace {

struct Registry {
  // Guards classes.
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<RuntimeClass>, std::less<>> classes;
};

Registry& registry() {
  static Registry* shared = new Registry;  // classes register during static initialisation
  return *shared;
}

}  // namespace

bool RuntimeObject::respondsToSelector(std::string_view) const { return false; }

Value RuntimeObject::perform(std::string_view selector, const Array&) {
  raiseUnrecognizedSelector(className(), std::string(selector).c_str());
}

std::string RuntimeObject::className() const {
  auto cls = objectClass();
  return cls ? cls->name() : Object::className();
}

std::shared_ptr<RuntimeClass> RuntimeClass::objectClass() const {
  return std::const_pointer_cast<RuntimeClass>(
      std::static_pointer_cast<const RuntimeClass>(shared_from_this()));
}

bool RuntimeClass::instancesRespondToSelector(std::string_view) const { return false; }

namespace runtime {

void registerClass(std::shared_ptr<RuntimeClass> cls) {
  if (!cls) return;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.classes[cls->name()] = std::move(cls);
}

void unregisterClass(std::string_view name) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  if (auto it = r.classes.find(name); it != r.classes.end()) r.classes.erase(it);
}

std::shared_ptr<RuntimeClass> classNamed(std::string_view name) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.classes.find(name);
  return it == r.classes.end() ? nullptr : it->second;
}

}  // namespace runtime

}  // namespace tw
