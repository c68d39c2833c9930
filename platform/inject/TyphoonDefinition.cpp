#include "platform/inject/TyphoonDefinition.h"

#include <algorithm>

#include "platform/foundation/Exception.h"

namespace tw::detail {

void raiseNoInitializer(const std::string& className, std::size_t count) {
  raise(NSInternalInconsistencyException,
        "<TyphoonDefinition> " + className + " has no initializer that takes " +
            std::to_string(count) + " injected parameter" + (count == 1 ? "" : "s"));
}

}  // namespace tw::detail

std::shared_ptr<TyphoonDefinition> TyphoonDefinition::configure(
    std::shared_ptr<TyphoonDefinition> definition, const Configuration& configuration) {
  if (configuration) configuration(*definition);
  return definition;
}

void TyphoonDefinition::setScope(int number) {
  switch (number) {
    case static_cast<int>(tw::DefinitionScope::PerResolution):
    case static_cast<int>(tw::DefinitionScope::Singleton):
    case static_cast<int>(tw::DefinitionScope::LazySingleton):
      scope_ = static_cast<tw::DefinitionScope>(number);
      return;
    default:
      tw::raise(tw::NSInvalidArgumentException, "<TyphoonDefinition> unknown scope " +
                                                    std::to_string(number) + " for " + className_);
  }
}

void TyphoonDefinition::useInitializer(const ParametersBlock& parameters) {
  tw::InitializerParameters collected;
  if (parameters) parameters(collected);
  parameters_ = collected.values();
  ownInitializer_ = true;
  ownInitializerMaker_ = nullptr;
}

void TyphoonDefinition::useInitializer(Maker maker, const ParametersBlock& parameters) {
  TW_PARAMETER_ASSERT(maker);
  useInitializer(parameters);
  ownInitializerMaker_ = std::move(maker);
}

void TyphoonDefinition::addProperty(std::string name, PropertySetter setter,
                                    tw::InjectedValue value) {
  auto same = [&](const Property& p) { return p.name == name; };
  properties_.erase(std::remove_if(properties_.begin(), properties_.end(), same),
                    properties_.end());
  properties_.push_back(Property{std::move(name), std::move(setter), std::move(value)});
}

void TyphoonDefinition::raisePropertyOwnerMismatch(const tw::Object& object,
                                                   const std::string& property,
                                                   const std::type_info& owner) {
  tw::raise(tw::NSInternalInconsistencyException,
            "<TyphoonDefinition> cannot inject property '" + property + "' of " +
                tw::demangledTypeName(owner) + " into a " + object.className());
}

std::string TyphoonDefinition::displayName() const {
  return key_.empty() ? "<" + className_ + ">" : key_;
}

tw::DefinitionScope TyphoonDefinition::scope() const {
  for (const TyphoonDefinition* d = this; d; d = d->parent_.get())
    if (d->scope_) return *d->scope_;
  return tw::DefinitionScope::PerResolution;
}

bool TyphoonDefinition::hasScope() const {
  for (const TyphoonDefinition* d = this; d; d = d->parent_.get())
    if (d->scope_) return true;
  return false;
}

const std::vector<tw::InjectedValue>& TyphoonDefinition::initializerParameters() const {
  for (const TyphoonDefinition* d = this; d; d = d->parent_.get())
    if (d->ownInitializer_) return d->parameters_;
  static const auto& none = *new const std::vector<tw::InjectedValue>();
  return none;
}

std::vector<TyphoonDefinition::Property> TyphoonDefinition::properties() const {
  std::vector<Property> result = parent_ ? parent_->properties() : std::vector<Property>{};
  for (const auto& own : properties_) {
    auto same = [&](const Property& p) { return p.name == own.name; };
    result.erase(std::remove_if(result.begin(), result.end(), same), result.end());
    result.push_back(own);
  }
  return result;
}

std::vector<std::string> TyphoonDefinition::propertyNames() const {
  std::vector<std::string> names;
  for (const auto& p : properties()) names.push_back(p.name);
  return names;
}

tw::Component TyphoonDefinition::build(const Arguments& arguments) const {
  // An initializer of its own with a maker is this definition's alone; an inherited initializer
  // brings only its parameters, and this definition's class is what gets built.
  if (ownInitializer_ && ownInitializerMaker_) return ownInitializerMaker_(arguments);
  return maker_(arguments);
}
