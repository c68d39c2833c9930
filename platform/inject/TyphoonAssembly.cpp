#include "platform/inject/TyphoonAssembly.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/inject/TyphoonComponentFactory.h"

namespace {
constexpr const char* kPrefix = "<TyphoonAssembly> ";
}

TyphoonAssembly::~TyphoonAssembly() = default;

void TyphoonAssembly::didActivate(TyphoonComponentFactory&) {}

TyphoonAssembly::Entry* TyphoonAssembly::entryForKey(std::string_view key) {
  for (auto& entry : entries_)
    if (entry.key == key) return &entry;
  return nullptr;
}

const TyphoonAssembly::Entry* TyphoonAssembly::entryForKey(std::string_view key) const {
  return const_cast<TyphoonAssembly*>(this)->entryForKey(key);
}

std::shared_ptr<TyphoonDefinition> TyphoonAssembly::define(
    std::string_view key, const std::function<std::shared_ptr<TyphoonDefinition>()>& build) {
  std::lock_guard lock(mutex_);
  // The assembly's order is the order in which collectDefinitions calls the methods, not that in
  // which definitions happen to inject one another.
  if (building_.empty() && !collected_ &&
      std::find(order_.begin(), order_.end(), key) == order_.end())
    order_.emplace_back(key);
  if (const Entry* entry = entryForKey(key)) {
    if (entry->building) {
      std::string path;
      auto from = std::find(building_.begin(), building_.end(), key);
      for (auto it = from; it != building_.end(); ++it) path += *it + " -> ";
      path += std::string(key);
      tw::raise(tw::NSInternalInconsistencyException,
                kPrefix + std::string("circular dependency between definitions: ") + path);
    }
    return entry->definition;
  }
  if (collected_)
    tw::raise(tw::NSInternalInconsistencyException,
              kPrefix + std::string("definition '") + std::string(key) +
                  "' is not called by collectDefinitions, so the activated assembly lacks it");

  const std::size_t index = entries_.size();
  entries_.push_back(Entry{std::string(key), nullptr, true});
  building_.emplace_back(key);
  std::shared_ptr<TyphoonDefinition> definition;
  try {
    definition = build ? build() : nullptr;
  } catch (...) {
    building_.pop_back();
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    throw;
  }
  building_.pop_back();
  // A definition that already has a name belongs to another method, which this one stands for.
  if (definition && definition->key_.empty()) definition->key_ = std::string(key);
  entries_[index].definition = definition;
  entries_[index].building = false;
  return definition;
}

std::shared_ptr<TyphoonComponentFactory> TyphoonAssembly::activated() {
  std::shared_ptr<TyphoonComponentFactory> factory;
  {
    std::lock_guard lock(mutex_);
    if (auto existing = factory_.lock()) return existing;
    if (!collected_) {
      collectDefinitions();
      // Methods reached only through other definitions come last.
      for (const auto& entry : entries_)
        if (std::find(order_.begin(), order_.end(), entry.key) == order_.end())
          order_.push_back(entry.key);
      collected_ = true;
    }
    std::vector<std::shared_ptr<TyphoonDefinition>> definitions;
    for (const auto& key : order_)
      if (const Entry* entry = entryForKey(key)) definitions.push_back(entry->definition);
    factory = std::shared_ptr<TyphoonComponentFactory>(new TyphoonComponentFactory(
        std::static_pointer_cast<TyphoonAssembly>(shared_from_this()), std::move(definitions)));
    factory_ = factory;
  }

  // Default first: the eager singletons, and whatever they pull in, may inject themselves.
  auto previous = TyphoonComponentFactory::exchangeDefault(factory);
  try {
    didActivate(*factory);
    factory->buildEagerSingletons();
  } catch (...) {
    TyphoonComponentFactory::exchangeDefault(std::move(previous));
    std::lock_guard lock(mutex_);
    factory_.reset();
    throw;
  }
  return factory;
}

bool TyphoonAssembly::isActivated() const { return factory() != nullptr; }

std::shared_ptr<TyphoonComponentFactory> TyphoonAssembly::factory() const {
  std::lock_guard lock(mutex_);
  return factory_.lock();
}

void TyphoonAssembly::makeDefault() {
  auto activatedFactory = factory();
  if (!activatedFactory)
    tw::raise(tw::NSInternalInconsistencyException,
              kPrefix + std::string("makeDefault before the assembly was activated"));
  activatedFactory->makeDefault();
}

tw::Component TyphoonAssembly::resolveThroughFactory(
    const std::shared_ptr<TyphoonDefinition>& definition) const {
  auto activatedFactory = factory();
  if (!activatedFactory)
    tw::raise(tw::NSInternalInconsistencyException,
              kPrefix + std::string("components are available once the assembly is activated"));
  return activatedFactory->componentForDefinition(definition);
}

std::vector<std::string> TyphoonAssembly::definitionKeys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> keys = order_;
  for (const auto& entry : entries_)
    if (std::find(keys.begin(), keys.end(), entry.key) == keys.end()) keys.push_back(entry.key);
  return keys;
}

std::shared_ptr<TyphoonDefinition> TyphoonAssembly::definitionForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Entry* entry = entryForKey(key);
  return entry ? entry->definition : nullptr;
}
