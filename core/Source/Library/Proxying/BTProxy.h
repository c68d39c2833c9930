#pragma once
// BTProxy: stands in for a target object but exposes only one protocol of it (and what that
// protocol adopts). The action and trigger builders hand these out, so an editor sees only the
// protocol of the chosen action kind while the builder keeps every setting.
//
// What a proxy exposes:
// - conformsTo(protocol) (and tw::conformsTo on the proxy): true for the proxy's protocol and
//   every protocol it adopts, down to the root "NSObject" when it adopts that; false for the
//   target's other protocols.
// - as<P>() / tw::interfaceOf<P>(proxy): the target's P interface, sharing the target's
//   ownership, only when P is one of those protocols; nullptr otherwise. This is how callers
//   reach the methods the protocol lets through.
// - key-value coding: a key is readable when the protocol lists it as a method, writable when it
//   lists "set<Key>:"; any other key fails as an unknown key, as a method outside the protocol
//   would have failed as an unrecognised selector.
// Kinds are told apart by interface: ask tw::conformsTo<BTDisplayAlertAction>(object) or
// tw::interfaceOf<BTDisplayAlertAction>(object), which answer the same for a proxy as for the
// stored object. A builder may also derive its own proxy class from BTProxy and the protocol
// class, forwarding each method to target(); dynamic_cast then works on the proxy directly.
//
// The target is held strongly. Not synchronised: use on the thread that owns the target (the
// main thread for builders and stored objects).

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "core/Source/Library/Proxying/Protocol.h"
#include "platform/foundation/Object.h"

class BTProxy : public tw::Object, public tw::ProtocolConformer {
 public:
  // A null target or protocol fails the parameter check ("Invalid parameter not satisfying:
  // target" / "protocol"); a target that does not conform raises as BTEnsureProtocolConformance.
  static std::shared_ptr<BTProxy> proxyWithTarget(std::shared_ptr<tw::Object> target,
                                                  const tw::Protocol* protocol);
  template <class P>
  static std::shared_ptr<BTProxy> proxyWithTarget(std::shared_ptr<tw::Object> target) {
    return proxyWithTarget(std::move(target), &tw::protocolOf<P>());
  }
  BTProxy(std::shared_ptr<tw::Object> target, const tw::Protocol* protocol);

  const std::shared_ptr<tw::Object>& target() const { return target_; }
  const tw::Protocol& protocol() const { return *protocol_; }
  // The method names the proxy lets through: the protocol's and, recursively, its adopted ones'.
  const std::set<std::string, std::less<>>& selectorNames() const { return selectors_; }
  bool respondsToSelector(std::string_view name) const { return selectors_.count(name) != 0; }

  bool conformsTo(const tw::Protocol& protocol) const override;
  std::shared_ptr<tw::Object> implementerOf(const tw::Protocol& protocol) const override;

  template <class P>
  std::shared_ptr<P> as() const {
    return std::dynamic_pointer_cast<P>(implementerOf(tw::protocolOf<P>()));
  }

  std::string description() const override;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  std::shared_ptr<tw::Object> target_;
  const tw::Protocol* protocol_;
  std::set<std::string, std::less<>> selectors_;
};
