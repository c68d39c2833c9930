#pragma once
// CoreAssembly_macOS: the application's assembly: the core's, with the application's own
// scheduler delegate (UpdaterDelegate, which keeps the machine awake while objects run) and
// action executor (ActionExecutorService, which runs the kinds that need the desktop).
// Activated once at launch and made the default factory. Main thread only.

#include "core/Source/Assembly/BTCoreAssembly.h"

class CoreAssembly_macOS : public BTCoreAssembly {
 public:
  std::shared_ptr<TyphoonDefinition> updaterDelegate() override;
  std::shared_ptr<TyphoonDefinition> actionExecutor() override;
};
