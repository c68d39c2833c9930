#pragma once
// tw::RuntimeObject, tw::RuntimeClass and the class registry: how the kits find classes by name
// at run time and ask what they answer before sending them anything. The kit registry looks up
// "Morvex", "Oriseth" and other vendors' kits this way, and the kits look up the outside
// analytics platform ("EBNApp", "EBNAnalytics") and the application class ("NSApplication"),
// which the product never links: a class nobody registered is simply absent.
//
// A class is an object too (its objectClass() is itself), so an array of kits may mix classes
// and instances. Messages beyond the typed interfaces (TSYKit) go through perform(), after a
// respondsToSelector() check, so optional members stay optional.
//
// Classes are registered at load time (a static registrar in the kit's own source) or by tests;
// the registry and lookups are thread-safe. Classes and objects keep their own threading rules.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

namespace tw {

class RuntimeClass;

class RuntimeObject : public Object {
 public:
  // The object's class ("class").
  virtual std::shared_ptr<RuntimeClass> objectClass() const = 0;
  // Whether the object answers `selector` (through a typed interface or perform()).
  virtual bool respondsToSelector(std::string_view selector) const;
  // Sends a message by selector. One the object does not answer raises
  // NSInvalidArgumentException with the "unrecognized selector" reason.
  virtual Value perform(std::string_view selector, const Array& arguments = {});
  std::string className() const override;
};

class RuntimeClass : public RuntimeObject {
 public:
  explicit RuntimeClass(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  // A class is its own class object.
  std::shared_ptr<RuntimeClass> objectClass() const override;
  // Whether instances of the class answer `selector`.
  virtual bool instancesRespondToSelector(std::string_view selector) const;
  std::string className() const override { return name_; }

 private:
  std::string name_;
};

// A block handed to an outside class through perform() (a listener, a completion).
class RuntimeBlock : public Object {
 public:
  using Function = std::function<Value(const Array&)>;
  explicit RuntimeBlock(Function f) : f_(std::move(f)) {}
  Value operator()(const Array& arguments) const { return f_ ? f_(arguments) : Value(); }

 private:
  Function f_;
};

namespace runtime {

// Makes the class findable by its name; a later class of the same name replaces the earlier.
void registerClass(std::shared_ptr<RuntimeClass> cls);
// Takes the class of that name away (tests).
void unregisterClass(std::string_view name);
// The class registered under `name`, or nullptr (NSClassFromString).
std::shared_ptr<RuntimeClass> classNamed(std::string_view name);

}  // namespace runtime

}  // namespace tw
