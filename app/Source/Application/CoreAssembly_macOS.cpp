#include "app/Source/Application/CoreAssembly_macOS.h"

#include "app/Source/Actions/ActionExecutorService.h"
#include "app/Source/Application/UpdaterDelegate.h"

std::shared_ptr<TyphoonDefinition> CoreAssembly_macOS::updaterDelegate() {
  return define(__func__, [] {
    return TyphoonDefinition::withClass<UpdaterDelegate>(
        [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::LazySingleton); });
  });
}

std::shared_ptr<TyphoonDefinition> CoreAssembly_macOS::actionExecutor() {
  return define(__func__, [] {
    return TyphoonDefinition::withClass<ActionExecutorService>(
        [](TyphoonDefinition& d) { d.setScope(tw::DefinitionScope::LazySingleton); });
  });
}
