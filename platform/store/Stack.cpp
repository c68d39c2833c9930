#include "platform/store/Stack.h"

#include "platform/foundation/Exception.h"

namespace tw::store {

namespace {
struct Defaults {
  std::shared_ptr<const Model> model;
  std::shared_ptr<Context> context;
};

Defaults& defaults() {
  static Defaults d;
  return d;
}
}  // namespace

void Stack::setDefaultModel(std::shared_ptr<const Model> model) {
  defaults().model = std::move(model);
}

std::shared_ptr<const Model> Stack::defaultModel() { return defaults().model; }

std::shared_ptr<Context> Stack::setupAutoMigratingSqliteStore(std::string_view storeName) {
  return setupWithStoreAt(PersistentStore::defaultPath(storeName));
}

std::shared_ptr<Context> Stack::setupWithStoreAt(const std::filesystem::path& path) {
  if (!defaults().model) raise(NSInternalInconsistencyException, "No default store model is set");
  cleanUp();
  defaults().context = Context::open(defaults().model, path);
  return defaults().context;
}

std::shared_ptr<Context> Stack::defaultContext() { return defaults().context; }

std::shared_ptr<PersistentStore> Stack::defaultStore() {
  return defaults().context ? defaults().context->persistentStore() : nullptr;
}

void Stack::cleanUp() {
  if (auto context = std::move(defaults().context)) context->close();
  defaults().context.reset();
}

}  // namespace tw::store
