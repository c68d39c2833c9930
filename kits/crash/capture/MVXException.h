#pragma once
// Exception capture: native exceptions that reach the terminate handler are written to
// "exception.mvxrecord" with the crash sections, blaming the throwing thread; custom exceptions
// given through the kit go to the custom-exception A/B files.
//
// Installed once by MVXContextInitialize. The terminate handler runs on the throwing thread;
// fatal records are written on the exception queue, custom ones on the logging queue.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kits/crash/capture/MVXCrashContext.h"

enum MVXExceptionKind : int {
  kMVXExceptionObjectiveC = 1,
  kMVXExceptionCPP = 2,
  kMVXExceptionJavaScript = 3,
  kMVXExceptionCustom = 4,
};

// One frame of a recorded exception.
struct MVXExceptionFrame {
  std::uint64_t address = 0;
  std::optional<std::string> symbol;
  std::uint64_t offset = 0;
  std::optional<std::string> library;
  std::optional<std::string> fileName;
  std::uint32_t lineNumber = 0;
};

void MVXExceptionInitialize(MVXExceptionContext* exception, std::atomic<std::uint32_t>* counter);
void MVXExceptionRecord(int kind, const std::string& name, const std::string& reason,
                        const std::vector<MVXExceptionFrame>& frames, bool attemptDelivery);
[[noreturn]] void MVXTerminateHandler();
// Raises tw::Exception "MorvexTestException" (the kit's test exception).
[[noreturn]] void MVXThrowObjCTestException();
// Warns through the log when the terminate handler is no longer the kit's.
void MVXExceptionCheckHandlers();
const char* MVXExceptionTypeName(int kind);
