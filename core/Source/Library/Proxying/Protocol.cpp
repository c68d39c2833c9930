#include "core/Source/Library/Proxying/Protocol.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "platform/foundation/Exception.h"

namespace tw {

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<const Protocol>, std::less<>> byName;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: descriptors outlive static destructors
  return *r;
}

void collectMethods(const Protocol& p, std::set<const Protocol*>& visited,
                    std::vector<std::string>& out, std::set<std::string>& seen) {
  if (!visited.insert(&p).second) return;
  for (const auto* list : {&p.requiredMethods(), &p.optionalMethods()})
    for (const auto& m : *list)
      if (seen.insert(m).second) out.push_back(m);
  for (const Protocol* a : p.adoptedProtocols()) collectMethods(*a, visited, out, seen);
}

}  // namespace

Protocol::Protocol(std::string name, std::vector<const Protocol*> adopted,
                   std::vector<std::string> required, std::vector<std::string> optional,
                   Check check)
    : name_(std::move(name)),
      adopted_(std::move(adopted)),
      required_(std::move(required)),
      optional_(std::move(optional)),
      implementedBy_(check) {}

const Protocol& Protocol::registerNew(std::string name,
                                      std::initializer_list<const Protocol*> adopted,
                                      std::vector<std::string> required,
                                      std::vector<std::string> optional, Check check) {
  std::vector<const Protocol*> adoptedList;
  for (const Protocol* p : adopted)
    if (p) adoptedList.push_back(p);
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.byName.count(name))
    raise(NSInternalInconsistencyException, "Protocol `" + name + "` is already registered");
  auto descriptor = std::unique_ptr<const Protocol>(
      new Protocol(name, std::move(adoptedList), std::move(required), std::move(optional), check));
  const Protocol& result = *descriptor;
  r.byName.emplace(std::move(name), std::move(descriptor));
  return result;
}

const Protocol* Protocol::named(std::string_view name) {
  if (name == "NSObject") return &rootProtocol();
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.byName.find(name);
  return it == r.byName.end() ? nullptr : it->second.get();
}

bool Protocol::includes(const Protocol& other) const {
  if (this == &other) return true;
  return std::any_of(adopted_.begin(), adopted_.end(),
                     [&](const Protocol* a) { return a->includes(other); });
}

std::vector<std::string> Protocol::allMethodNames() const {
  std::vector<std::string> out;
  std::set<const Protocol*> visited;
  std::set<std::string> seen;
  collectMethods(*this, visited, out, seen);
  return out;
}

const Protocol& rootProtocol() {
  static const Protocol* root = new Protocol(
      "NSObject", {},
      {"isEqual:", "hash", "superclass", "class", "self", "isProxy", "isKindOfClass:",
       "isMemberOfClass:", "conformsToProtocol:", "respondsToSelector:", "description"},
      {"debugDescription"}, [](const Object&) { return true; });
  return *root;
}

bool conformsTo(const Object* object, const Protocol& protocol) {
  if (!object) return false;
  if (auto* conformer = dynamic_cast<const ProtocolConformer*>(object))
    return conformer->conformsTo(protocol);
  return protocol.isImplementedBy(*object);
}

}  // namespace tw
