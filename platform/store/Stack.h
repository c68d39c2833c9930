#pragma once
// tw::store::Stack: the process's default store set-up, as the storage library kept it: one
// default model, one default context over an automatically migrating SQLite store, and the
// clean-up at quit. Services reach the store through defaultContext().
//
//   Stack::setDefaultModel(model);
//   Stack::setupAutoMigratingSqliteStore("com.velmora.Tickwell");  // in the default location
//   auto context = Stack::defaultContext();
//   ...
//   Stack::cleanUp();
//
// Main thread only.

#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/store/Context.h"
#include "platform/store/Model.h"
#include "platform/store/PersistentStore.h"

namespace tw::store {

class Stack {
 public:
  static void setDefaultModel(std::shared_ptr<const Model> model);
  static std::shared_ptr<const Model> defaultModel();

  // The default model's store "<storeName>.sqlite" under $XDG_DATA_HOME/Tickwell. Replaces any
  // earlier default stack (which is cleaned up first).
  static std::shared_ptr<Context> setupAutoMigratingSqliteStore(std::string_view storeName);
  // The same with an explicit file (tests, tools).
  static std::shared_ptr<Context> setupWithStoreAt(const std::filesystem::path& path);

  static std::shared_ptr<Context> defaultContext();
  static std::shared_ptr<PersistentStore> defaultStore();

  // Closes the default context without saving and forgets the stack; the default model stays.
  static void cleanUp();
};

}  // namespace tw::store
