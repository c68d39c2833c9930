#include "platform/foundation/Exception.h"

#include <cstdlib>

#include <fmt/format.h>

#include "platform/foundation/Log.h"

namespace tw {

Exception::Exception(std::string name, std::string reason, Dictionary userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {
  what_ = name_ + ": " + reason_;
}

void raise(std::string name, std::string reason) {
  throw Exception(std::move(name), std::move(reason));
}

void raiseInvalidParameter(const char* conditionText) {
  raise(NSInternalInconsistencyException,
        std::string("Invalid parameter not satisfying: ") + (conditionText ? conditionText : ""));
}

void raiseUnrecognizedSelector(const std::string& className, const char* selector) {
  raise(NSInvalidArgumentException, fmt::format("-[{} {}]: unrecognized selector sent to instance",
                                                className, selector ? selector : ""));
}

std::string describeException(const std::exception_ptr& error) {
  if (!error) return "unknown exception";
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return e.reason();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

std::string describeCurrentException() { return describeException(std::current_exception()); }

namespace {

// The current exception's name and reason for the boundary log lines. Only meaningful inside a
// catch block; outside one there is nothing to rethrow.
void currentNameAndReason(std::string& name, std::string& reason) {
  name = "NSGenericException";
  reason = "unknown exception";
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const Exception& e) {
      name = e.name();
      reason = e.reason();
    } catch (const std::exception& e) {
      name = "std::exception";
      reason = e.what();
    } catch (...) {
    }
  }
}

}  // namespace

void terminateWithUncaught(const char* where) noexcept {
  std::string name;
  std::string reason;
  try {
    currentNameAndReason(name, reason);
  } catch (...) {
  }
  try {
    if (where && *where) log(LogLevel::Fault, fmt::format("*** Uncaught exception in {}", where));
    log(LogLevel::Fault,
        fmt::format("*** Terminating app due to uncaught exception '{}', reason: '{}'", name,
                    reason));
  } catch (...) {
  }
  std::abort();
}

void logEscapedException(const char* where) noexcept {
  try {
    std::string name;
    std::string reason;
    currentNameAndReason(name, reason);
    log(LogLevel::Error,
        fmt::format("*** Exception '{}' escaped a block of {}, which goes on; reason: '{}'", name,
                    where && *where ? where : "a queue", reason));
  } catch (...) {
  }
}

}  // namespace tw
