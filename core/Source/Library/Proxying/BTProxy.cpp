#include "core/Source/Library/Proxying/BTProxy.h"

#include <cctype>

#include "core/Source/Library/BTTypeChecks.h"
#include "platform/foundation/Exception.h"

namespace {

std::string setterName(std::string_view key) {
  std::string name = "set";
  name += key;
  if (name.size() > 3)
    name[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[3])));
  name += ':';
  return name;
}

}  // namespace

std::shared_ptr<BTProxy> BTProxy::proxyWithTarget(std::shared_ptr<tw::Object> target,
                                                  const tw::Protocol* protocol) {
  return std::make_shared<BTProxy>(std::move(target), protocol);
}

BTProxy::BTProxy(std::shared_ptr<tw::Object> target, const tw::Protocol* protocol)
    : protocol_(protocol) {
  TW_PARAMETER_ASSERT(target);
  TW_PARAMETER_ASSERT(protocol);
  target_ = std::move(target);
  BTEnsureProtocolConformance(target_.get(), *protocol_);
  for (auto& name : protocol_->allMethodNames()) selectors_.insert(std::move(name));
}

bool BTProxy::conformsTo(const tw::Protocol& protocol) const {
  return protocol_->includes(protocol);
}

std::shared_ptr<tw::Object> BTProxy::implementerOf(const tw::Protocol& protocol) const {
  if (!conformsTo(protocol)) return nullptr;
  // The target may itself be a proxy: it has the last word on what it lets through.
  if (auto* inner = dynamic_cast<const tw::ProtocolConformer*>(target_.get()))
    return inner->implementerOf(protocol);
  return target_;
}

std::string BTProxy::description() const {
  return "<BTProxy: " + protocol_->name() + " of " + target_->description() + ">";
}

bool BTProxy::getValueForKey(std::string_view key, tw::Value& out) const {
  if (!respondsToSelector(key)) return tw::Object::getValueForKey(key, out);
  out = target_->valueForKey(key);
  return true;
}

bool BTProxy::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (!respondsToSelector(setterName(key))) return tw::Object::setValueForKeyImpl(key, value);
  target_->setValueForKey(value, key);
  return true;
}
