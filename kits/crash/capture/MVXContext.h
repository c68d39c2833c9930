#pragma once
// Crash context set-up: MVXContextInitialize prepares the context, writes the execution's
// metadata record and installs the signal and exception handlers (unless a debugger is
// attached); MVXContextMarkCrashed is the crash-once gate every fatal handler passes first.
//
// Set-up runs once per launch from the crash reporting controller's thread; the gate and the
// queries are async-signal-safe and run on any thread.

#include <sys/types.h>

#include <cstdint>
#include <memory>

#include "kits/crash/capture/MVXCrashContext.h"
#include "platform/foundation/Dispatch.h"

struct MVXContextSettings {
  const char* apiKey = nullptr;
  MVXImmediateDeliveryDelegate* immediateDeliveryDelegate = nullptr;
  bool firstInstall = false;
  MVXCrashCallbackTarget* crashCallbackTarget = nullptr;
  const char* customBundleIdentifier = nullptr;
  const char* reportDirectory = nullptr;
  const char* reportIdentifier = nullptr;
  const char* installIdentifier = nullptr;
  const char* betaToken = nullptr;
  std::uint32_t machExceptionMask = 0;
  bool errorReportingEnabled = false;
  bool customExceptionsEnabled = false;
  std::uint32_t maxCustomExceptions = 0;
  std::uint32_t errorLogBufferSize = 0;
  std::uint32_t logBufferSize = 0;
  std::uint32_t maxCustomKeys = 0;
};

bool MVXContextInitialize(const MVXContextSettings* settings);
const char* MVXContextAppendPathComponent(const char* directory, const char* name);

// The capture core's serial queues, created at set-up (null before).
std::shared_ptr<tw::DispatchQueue> MVXContextLoggingQueue();
std::shared_ptr<tw::DispatchQueue> MVXContextBinaryImagesQueue();
std::shared_ptr<tw::DispatchQueue> MVXContextExceptionQueue();
