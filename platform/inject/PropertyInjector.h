#pragma once
// tw::PropertyInjector: handed to tw::Injectable::injectProperties by the component factory's
// inject; fills each marked property it is given with the factory's component for the property's
// type (componentForType: exactly one component must conform, else it raises). Weak members
// (TyphoonInjectedObject, std::weak_ptr) leave the component to the factory; a std::shared_ptr
// member keeps it.
//
// Lives for one inject call, on that call's thread.

#include <memory>

#include "platform/inject/TyphoonComponentFactory.h"
#include "platform/inject/TyphoonInjectedObject.h"

namespace tw {

class PropertyInjector {
 public:
  explicit PropertyInjector(TyphoonComponentFactory& factory) : factory_(factory) {}

  template <class T>
  void inject(TyphoonInjectedObject<T>& property) {
    property = factory_.componentForType<T>();
  }
  template <class T>
  void inject(std::weak_ptr<T>& property) {
    property = factory_.componentForType<T>();
  }
  template <class T>
  void inject(std::shared_ptr<T>& property) {
    property = factory_.componentForType<T>();
  }

  TyphoonComponentFactory& factory() const { return factory_; }

 private:
  TyphoonComponentFactory& factory_;
};

}  // namespace tw
