#include "kits/crash/capture/MVXSetUp.h"

#include <dlfcn.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "kits/crash/capture/MVXAllocator.h"
#include "kits/crash/capture/MVXCrashContext.h"
#include "kits/crash/capture/MVXFile.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TerminationActivities.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"

const char* MVXDuplicateString(const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(MVXAllocatorSafeAllocate(gMVXContext.allocator, length, 0));
  if (copy != nullptr) std::memcpy(copy, text, length);
  return copy;
}

std::uint64_t MVXHostGetPageSize() {
  const long size = sysconf(_SC_PAGESIZE);
  if (size <= 0) {
    MVXSDKLOG(3, "WARN  [%s:%d] sysctlbyname failed while trying to get hw.pagesize\n");
    return 4096;
  }
  return static_cast<std::uint64_t>(size);
}

void MVXHostInit(MVXHostContext* host) {
  if (host == nullptr) return;
  host->pageSize = MVXHostGetPageSize();
  const std::string caches = tw::paths::cacheHome().string();
  host->cachesPath = caches.empty() ? nullptr : MVXDuplicateString(caches.c_str());
}

long MVXHostGetOSVersionNumber() {
  const TSYOperatingSystemVersion v = TSYGetOperatingSystemVersion();
  if (v.majorVersion != 10) return 0;
  return tw::kitVersionNumberForMinor(v.minorVersion, 16);
}

bool MVXHostRecordMetadata(MVXFile* file) {
  utsname names{};
  const bool haveNames = uname(&names) == 0;
  const auto cpu = TSYGetSysctlString("machdep.cpu.brand_string");
  MVXFileWriteSectionStart(file, "host");
  MVXFileWriteHashStart(file);
  MVXFileWriteHashEntryString(file, "model", TSYGetHardwareModel().c_str());
  MVXFileWriteHashEntryString(file, "machine", haveNames ? names.machine : "(failed)");
  MVXFileWriteHashEntryString(file, "cpu", cpu ? cpu->c_str() : "(failed)");
  MVXFileWriteHashEntryString(file, "os_build_version", TSYGetOSBuildVersion().c_str());
  MVXFileWriteHashEntryString(file, "os_display_version", TSYGetOSDisplayVersion().c_str());
  MVXFileWriteHashEntryString(file, "platform", "mac");
  const char* locale = std::getenv("LC_ALL");
  if (locale == nullptr || *locale == 0) locale = std::getenv("LANG");
  MVXFileWriteHashEntryString(file, "locale", locale != nullptr && *locale != 0 ? locale : "C");
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
  return true;
}

bool MVXApplicationIsExtension() { return MVXApplicationExtensionPointIdentifier().has_value(); }

std::optional<std::string> MVXApplicationExtensionPointIdentifier() {
  const tw::Value& extension = tw::Bundle::main().objectForInfoDictionaryKey("NSExtension");
  if (extension.isNull()) return std::nullopt;
  if (extension.type() != tw::Value::Type::Dictionary) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: NSExtension Info.plist entry is mal-formed\n");
    return std::nullopt;
  }
  const tw::Value& point = extension["NSExtensionPointIdentifier"];
  if (!point.isString()) {
    MVXSDKLOG(3,
              "WARN  [%s:%d] Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n");
    return std::nullopt;
  }
  return *point.string();
}

MVXApplicationActivityToken MVXApplicationBeginActivity(std::uint64_t options,
                                                        const std::string& reason) {
  return {options, reason, tw::TerminationActivities::shared().begin(options, reason)};
}

void MVXApplicationEndActivity(MVXApplicationActivityToken& token) {
  tw::TerminationActivities::shared().end(std::exchange(token.activity, 0));
}

void MVXApplicationActivity(std::uint64_t options, const std::string& reason,
                            const std::function<void()>& block) {
  struct Scope {
    MVXApplicationActivityToken token;
    ~Scope() { MVXApplicationEndActivity(token); }
  } scope{MVXApplicationBeginActivity(options, reason)};
  if (block) block();
}

bool MVXSymbolLookup(std::uintptr_t address, const char** symbol, const char** image) {
  Dl_info info{};
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the loader looks addresses up as pointers
  if (dladdr(reinterpret_cast<void*>(address), &info) == 0) return false;
  *symbol = info.dli_sname;
  *image = info.dli_fname != nullptr ? info.dli_fname : "unknown";
  return true;
}

std::uint64_t MVXProfileMark() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

double MVXProfileElapsedMilliseconds(std::uint64_t mark) {
  return static_cast<double>(MVXProfileMark() - mark) / 1e6;
}
