#pragma once
// Programming errors: exceptions that carry an exception name ("NSInvalidArgumentException", ...)
// and an exact reason text, so that logs, crash reports and tests can match them word for word.
// Any thread may throw one; none may cross an observer callback, a posted block or the event
// loop (those boundaries catch, log and terminate through tw::terminateWithUncaught).

#include <exception>
#include <string>

#include "platform/foundation/Value.h"

namespace tw {

inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSRangeException = "NSRangeException";
inline constexpr const char* NSGenericException = "NSGenericException";
inline constexpr const char* NSUnknownKeyException = "NSUnknownKeyException";
inline constexpr const char* NSInvalidUnarchiveOperationException =
    "NSInvalidUnarchiveOperationException";

class Exception : public std::exception {
 public:
  Exception(std::string name, std::string reason, Dictionary userInfo = {});
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const Dictionary& userInfo() const { return userInfo_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string name_;
  std::string reason_;
  Dictionary userInfo_;
  std::string what_;  // "name: reason"
};

[[noreturn]] void raise(std::string name, std::string reason);

// A failed argument check, reason "Invalid parameter not satisfying: <condition text>".
[[noreturn]] void raiseInvalidParameter(const char* conditionText);

// An abstract hook a subclass should have supplied: NSInvalidArgumentException with the
// platform's "unrecognized selector sent to instance" reason.
[[noreturn]] void raiseUnrecognizedSelector(const std::string& className, const char* selector);

// The reason of an exception for a log line: an Exception's reason, what() of a standard one,
// "unknown exception" otherwise. The current-exception form is for use inside catch (...).
std::string describeException(const std::exception_ptr& error);
std::string describeCurrentException();

// The boundary rule: an exception that reaches a callback boundary is logged with `where` and
// terminates the process, so the crash kit records it. Use inside catch (...).
[[noreturn]] void terminateWithUncaught(const char* where) noexcept;

// Runs f; an escaping exception goes to terminateWithUncaught(where).
template <class F>
void callGuarded(const char* where, F&& f) noexcept {
  try {
    f();
  } catch (...) {
    terminateWithUncaught(where);
  }
}

// The boundary of work whose faults must not end the application (the kits' queues): an exception
// that reaches it is logged with `where` and the caller goes on. Use inside catch (...).
void logEscapedException(const char* where) noexcept;

// Runs f; an escaping exception goes to logEscapedException(where). False when one did.
template <class F>
bool callLogged(const char* where, F&& f) noexcept {
  try {
    f();
    return true;
  } catch (...) {
    logEscapedException(where);
    return false;
  }
}

}  // namespace tw

#define TW_PARAMETER_ASSERT(cond)                    \
  do {                                               \
    if (!(cond)) ::tw::raiseInvalidParameter(#cond); \
  } while (0)
