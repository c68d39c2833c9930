#include "platform/inject/TyphoonComponentFactory.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/inject/Injectable.h"
#include "platform/inject/PropertyInjector.h"
#include "platform/inject/TyphoonAssembly.h"

namespace {

constexpr const char* kPrefix = "<TyphoonComponentFactory> ";

std::mutex& defaultLock() {
  static std::mutex lock;
  return lock;
}
// Never destroyed: the default factory's components live until the process ends, and tearing
// them down among the other statics at exit would only race the queues they use.
std::shared_ptr<TyphoonComponentFactory>& defaultSlot() {
  static auto* slot = new std::shared_ptr<TyphoonComponentFactory>();
  return *slot;
}

}  // namespace

TyphoonComponentFactory::TyphoonComponentFactory(
    std::shared_ptr<TyphoonAssembly> assembly,
    std::vector<std::shared_ptr<TyphoonDefinition>> definitions)
    : assembly_(std::move(assembly)) {
  // A method that returns another method's definition names it twice; it is one component.
  for (auto& definition : definitions) {
    if (!definition) continue;
    if (std::find(definitions_.begin(), definitions_.end(), definition) == definitions_.end())
      definitions_.push_back(std::move(definition));
  }
}

TyphoonComponentFactory::~TyphoonComponentFactory() {
  // Let go of the singletons in the reverse order of their making, so a component goes before
  // those it was built from.
  singletons_.clear();
  while (!creationOrder_.empty()) creationOrder_.pop_back();
}

std::shared_ptr<TyphoonComponentFactory> TyphoonComponentFactory::defaultFactory() {
  std::lock_guard lock(defaultLock());
  return defaultSlot();
}

void TyphoonComponentFactory::makeDefault() { exchangeDefault(shared_from_this()); }

void TyphoonComponentFactory::clearDefaultFactory() {
  // The factory may be released here, outside the lock: its components' destructors may ask
  // for the default factory.
  auto previous = exchangeDefault(nullptr);
}

std::shared_ptr<TyphoonComponentFactory> TyphoonComponentFactory::exchangeDefault(
    std::shared_ptr<TyphoonComponentFactory> factory) {
  std::lock_guard lock(defaultLock());
  return std::exchange(defaultSlot(), std::move(factory));
}

std::string TyphoonComponentFactory::typeName(const TypeQuery& query) {
  return "'" + tw::demangledTypeName(query.type) + "'";
}

void TyphoonComponentFactory::buildEagerSingletons() {
  std::lock_guard lock(mutex_);
  for (const auto& definition : definitions_)
    if (definition->scope() == tw::DefinitionScope::Singleton) resolve(*definition);
}

tw::Component TyphoonComponentFactory::componentForTypeQuery(const TypeQuery& query) {
  std::lock_guard lock(mutex_);
  auto it = typeMatches_.find(query.type);
  if (it == typeMatches_.end()) {
    std::vector<std::string> candidates;
    TypeMatch match;
    if (assembly_ && query.objectConforms(*assembly_)) {
      match.isAssembly = true;
      candidates.push_back("the assembly (" + assembly_->className() + ")");
    }
    for (const auto& definition : definitions_) {
      if (!query.definitionConforms(*definition)) continue;
      match.definition = definition;
      candidates.push_back(definition->displayName() + " (" + definition->className() + ")");
    }
    if (candidates.empty())
      tw::raise(tw::NSInternalInconsistencyException,
                kPrefix + std::string("no component satisfies type ") + typeName(query));
    if (candidates.size() > 1) {
      std::string list;
      for (const auto& c : candidates) list += (list.empty() ? "" : ", ") + c;
      tw::raise(tw::NSInternalInconsistencyException,
                kPrefix + std::string("more than one component satisfies type ") + typeName(query) +
                    ": " + list);
    }
    it = typeMatches_.emplace(query.type, std::move(match)).first;
  }
  if (it->second.isAssembly) return assembly_;
  return resolve(*it->second.definition);
}

std::shared_ptr<TyphoonDefinition> TyphoonComponentFactory::definitionForKey(
    std::string_view key) const {
  for (const auto& definition : definitions_)
    if (definition->key() == key) return definition;
  return nullptr;
}

tw::Component TyphoonComponentFactory::componentForKeyImpl(std::string_view key) {
  if (auto definition = definitionForKey(key)) return componentForDefinition(definition);
  // A method that yields no definition is known to the assembly, though not to the factory.
  if (assembly_) {
    const auto keys = assembly_->definitionKeys();
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) return nullptr;
  }
  tw::raise(tw::NSInternalInconsistencyException,
            kPrefix + std::string("no definition named '") + std::string(key) + "'");
}

tw::Component TyphoonComponentFactory::componentForDefinition(
    const std::shared_ptr<TyphoonDefinition>& definition) {
  if (!definition) return nullptr;
  std::lock_guard lock(mutex_);
  return resolve(*definition);
}

bool TyphoonComponentFactory::hasBuiltComponentForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto definition = definitionForKey(key);
  return definition && singletons_.count(definition.get()) > 0;
}

void TyphoonComponentFactory::inject(tw::Injectable& object) {
  tw::PropertyInjector injector(*this);
  object.injectProperties(injector);
}

tw::Component TyphoonComponentFactory::resolveValue(const tw::InjectedValue& value) {
  if (value.definition()) return resolve(*value.definition());
  return value.object();
}

void TyphoonComponentFactory::raiseCycle(const TyphoonDefinition& definition) const {
  std::string path;
  auto from = std::find(resolving_.begin(), resolving_.end(), &definition);
  for (auto it = from; it != resolving_.end(); ++it) path += (*it)->displayName() + " -> ";
  path += definition.displayName();
  tw::raise(tw::NSInternalInconsistencyException,
            kPrefix + std::string("circular dependency: ") + path);
}

tw::Component TyphoonComponentFactory::resolve(const TyphoonDefinition& definition) {
  const bool shared = definition.scope() != tw::DefinitionScope::PerResolution;
  if (shared) {
    if (auto it = singletons_.find(&definition); it != singletons_.end()) return it->second;
  }
  if (std::find(resolving_.begin(), resolving_.end(), &definition) != resolving_.end())
    raiseCycle(definition);

  resolving_.push_back(&definition);
  struct Pop {
    std::vector<const TyphoonDefinition*>& stack;
    ~Pop() { stack.pop_back(); }
  } pop{resolving_};

  const auto& parameters = definition.initializerParameters();
  TyphoonDefinition::Arguments arguments;
  arguments.reserve(parameters.size());
  for (std::size_t i = 0; i < parameters.size(); ++i)
    arguments.emplace_back(resolveValue(parameters[i]), "parameter " + std::to_string(i + 1) +
                                                            " of " + definition.displayName());

  tw::Component component = definition.build(arguments);
  if (component) {
    for (const auto& property : definition.properties())
      property.setter(*component, tw::InjectedArgument(resolveValue(property.value),
                                                       "property '" + property.name + "' of " +
                                                           definition.displayName()));
  }
  if (shared) {
    singletons_.emplace(&definition, component);
    if (component) creationOrder_.push_back(component);
  }
  return component;
}
