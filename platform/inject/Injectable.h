#pragma once
// tw::Injectable: a class with injected properties. It names them in injectProperties, which the
// component factory's inject calls with an injector that fills each one it is handed:
//
//   void BTActionsListViewModel::injectProperties(tw::PropertyInjector& injector) {
//     injector.inject(alertPresenter_);
//     injector.inject(settingsProvider_);
//   }
//
// and asks for it itself, usually in its constructor:
//   tw::injectFromDefaultFactory(*this);
// (a constructor may do so: the call reaches the override of the class being constructed). A
// subclass with properties of its own overrides injectProperties, calls its base's first, and
// calls inject again in its own constructor. Properties not handed to the injector are left
// alone.
//
// injectProperties runs on the thread that asks for the injection.

namespace tw {

class PropertyInjector;

class Injectable {
 public:
  virtual ~Injectable() = default;
  virtual void injectProperties(PropertyInjector& injector) = 0;
};

}  // namespace tw
