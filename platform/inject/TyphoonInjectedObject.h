#pragma once
// TyphoonInjectedObject<T>: the marker of an injected property. A member of this type is a weak
// reference that the component factory's inject fills with the one component conforming to T:
// the component that implements protocol T, or for a class T (the assembly's own class, the
// timing controller) the component of that class. The factory keeps the component alive; the
// property never does.
//
//   TyphoonInjectedObject<BTSettingsProvider> settingsProvider_;
//   TyphoonInjectedProtocol<BTCoreAssembly> assembly_;   // the same marker, for a class type
//
// A class lists its injected properties in its injectProperties override (tw::Injectable).
// Like a std::weak_ptr: one owner thread fills and reads it.

#include <memory>

template <class T>
class TyphoonInjectedObject {
 public:
  TyphoonInjectedObject() = default;
  TyphoonInjectedObject(const std::shared_ptr<T>& component) : component_(component) {}
  TyphoonInjectedObject& operator=(const std::shared_ptr<T>& component) {
    component_ = component;
    return *this;
  }

  // The component, or null when nothing was injected or it is gone.
  std::shared_ptr<T> get() const { return component_.lock(); }
  explicit operator bool() const { return !component_.expired(); }
  // For a property known to be filled; the component stays alive for the call.
  std::shared_ptr<T> operator->() const { return component_.lock(); }
  const std::weak_ptr<T>& weak() const { return component_; }
  void reset() { component_.reset(); }

 private:
  std::weak_ptr<T> component_;
};

// The marker for a property typed by a class rather than a protocol; the same thing.
template <class T>
using TyphoonInjectedProtocol = TyphoonInjectedObject<T>;
