#include "kits/crash/capture/MVXException.h"

#include <cxxabi.h>
#include <time.h>
#include <ucontext.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXHandler.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXSetUp.h"
#include "kits/crash/capture/MVXUserLogging.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TypeName.h"
#include "platform/machine/Machine.h"

namespace {

std::string demangle(const char* mangled) {
  if (mangled == nullptr) return {};
  return tw::demangleCxxName(mangled).value_or(mangled);
}

void writeSection(MVXFile* file, int kind, const std::string& name, const std::string& reason,
                  const std::vector<MVXExceptionFrame>& frames) {
  MVXFileWriteSectionStart(file, "exception");
  MVXFileWriteHashStart(file);
  MVXFileWriteHashEntryString(file, "type", MVXExceptionTypeName(kind));
  MVXFileWriteHashEntryHexEncodedBytes(file, "name", name.data(), name.size());
  MVXFileWriteHashEntryHexEncodedBytes(file, "reason", reason.data(), reason.size());
  MVXFileWriteHashEntryUint64(file, "time", static_cast<std::uint64_t>(time(nullptr)));
  if (!frames.empty()) {
    MVXFileWriteHashKey(file, "frames");
    MVXFileWriteArrayStart(file);
    for (const auto& f : frames) {
      MVXFileWriteHashStart(file);
      MVXFileWriteHashEntryUint64(file, "pc", f.address);
      if (f.symbol) MVXFileWriteHashEntryHexEncodedString(file, "symbol", f.symbol->c_str());
      MVXFileWriteHashEntryUint64(file, "offset", f.offset);
      if (f.library) MVXFileWriteHashEntryHexEncodedString(file, "library", f.library->c_str());
      if (f.fileName) MVXFileWriteHashEntryHexEncodedString(file, "file", f.fileName->c_str());
      MVXFileWriteHashEntryUint64(file, "line", f.lineNumber);
      MVXFileWriteHashEnd(file);
    }
    MVXFileWriteArrayEnd(file);
  }
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
}

}  // namespace

const char* MVXExceptionTypeName(int kind) {
  switch (kind) {
    case kMVXExceptionObjectiveC:
      return "objective-c";
    case kMVXExceptionCPP:
      return "c++";
    case kMVXExceptionJavaScript:
      return "javascript";
    case kMVXExceptionCustom:
      return "custom";
    default:
      return "unknown";
  }
}

void MVXExceptionInitialize(MVXExceptionContext* exception, std::atomic<std::uint32_t>* counter) {
  if (exception == nullptr) return;
  if (!MVXUnlinkIfExists(exception->path)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to reset the exception file %s\n", exception->path);
  }
  exception->previousTerminate = std::set_terminate(MVXTerminateHandler);
  if (counter != nullptr) counter->store(0);
}

void MVXExceptionRecord(int kind, const std::string& name, const std::string& reason,
                        const std::vector<MVXExceptionFrame>& frames, bool attemptDelivery) {
  if (!MVXContextIsInitialized()) return;
  const bool fatal = kind == kMVXExceptionObjectiveC || kind == kMVXExceptionCPP;
  MVXSDKLOG(3, "WARN  [%s:%d] Recording an exception structure (%d, %d)\n", attemptDelivery ? 1 : 0,
            fatal ? 1 : 0);
  if (fatal) {
    // The throwing thread is the crashed one: its id and live registers travel to the queue.
    const pid_t thrower = tw::machine::currentThreadId();
    ucontext_t here;
    getcontext(&here);
    const char* const function = __func__;  // the lambda below logs under this name
    auto write = [&] {
      MVXFile file;
      if (!MVXFileInitWithPath(&file, gMVXContext.readonly->exception.path, false)) {
        MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to open exception file\n");
        return;
      }
      writeSection(&file, kind, name, reason, frames);
      MVXHandler(&file, thrower, &here);
      MVXFileClose(&file);
      if (attemptDelivery) MVXHandlerAttemptImmediateDelivery();
    };
    auto queue = MVXContextExceptionQueue();
    if (queue) {
      queue->sync(write);
    } else {
      write();
    }
  } else {
    MVXUserLoggingWriteToABFiles(&gMVXContext.readonly->logging.customExceptions,
                                 &gMVXContext.writable->currentCustomException, [&](MVXFile* file) {
                                   writeSection(file, kind, name, reason, frames);
                                 });
  }
  MVXSDKLOG(3, "WARN  [%s:%d] Finished recording an exception structure\n");
}

void MVXTerminateHandler() {
  MVXSDKLOG(3, "WARN  [%s:%d] C++ terminate handler invoked\n");
  std::terminate_handler previous =
      gMVXContext.readonly != nullptr ? gMVXContext.readonly->exception.previousTerminate : nullptr;
  if (previous == MVXTerminateHandler) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: original handler was set recursively\n");
    previous = nullptr;
  }
  if (previous != nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] restoring pre-existing handler\n");
    if (std::set_terminate(previous) == previous) {
      MVXSDKLOG(3, "WARN  [%s:%d] handler has already been restored, aborting\n");
      std::abort();
    }
  }
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] no active exception\n");
  } else {
    MVXSDKLOG(3, "WARN  [%s:%d] Recording exception of type '%s'\n", type->name());
    std::string name;
    std::string reason;
    try {
      throw;
    } catch (const char* text) {
      name = "const char *";
      reason = text != nullptr ? text : "";
    } catch (const std::string& text) {
      name = "std::string";
      reason = text;
    } catch (const std::bad_alloc& e) {
      name = "std::bad_alloc";
      reason = e.what();
    } catch (const std::exception& e) {
      name = demangle(typeid(e).name());
      reason = e.what();
    } catch (const std::exception* e) {
      name = e != nullptr ? demangle(typeid(*e).name()) : demangle(type->name());
      reason = e != nullptr ? e->what() : "";
    } catch (...) {
      name = demangle(type->name());
    }
    MVXExceptionRecord(kMVXExceptionCPP, name, reason, {}, true);
  }
  if (previous != nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] invoking pre-existing handler\n");
    previous();
  }
  MVXSDKLOG(3, "WARN  [%s:%d] aborting\n");
  std::abort();
}

void MVXExceptionCheckHandlers() {
  if (gMVXContext.readonly != nullptr && gMVXContext.readonly->debuggerAttached) return;
  const std::terminate_handler current = std::get_terminate();
  if (current == MVXTerminateHandler) return;
  MVXSymbolInfoForAddress(
      reinterpret_cast<std::uintptr_t>(current), [](const char* symbol, const char* image) {
        tw::log(tw::LogLevel::Error,
                std::string("[Morvex:Crash] Warning: std::get_terminate is '") +
                    (symbol ? symbol : "(null)") + "' in '" + (image ? image : "(null)") + "'");
      });
}

void MVXThrowObjCTestException() {
  throw tw::Exception("MorvexTestException", "This is an Objective-C exception using for testing.");
}
