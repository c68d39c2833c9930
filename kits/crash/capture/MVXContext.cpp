#include "kits/crash/capture/MVXContext.h"

#include <errno.h>
#include <time.h>

#include <cstring>
#include <new>
#include <string>

#include "kits/crash/capture/MVXAllocator.h"
#include "kits/crash/capture/MVXBinaryImage.h"
#include "kits/crash/capture/MVXException.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXSetUp.h"
#include "kits/crash/capture/MVXSignal.h"
#include "kits/crash/capture/MVXStackWalk.h"
#include "kits/crash/capture/MVXUserLogging.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "kits/platform/TSYAppInfo.h"
#include "kits/platform/TSYKitQueues.h"
#include "platform/foundation/Log.h"
#include "platform/machine/Machine.h"

namespace {

// Linux has no exception-port server, so the writable region holds one alternate stack (for the
// initialising thread) and the writable half.
constexpr std::size_t kReadOnlyRegion = 0x42A8;

std::shared_ptr<tw::DispatchQueue> gLoggingQueue, gBinaryImagesQueue, gExceptionQueue;

// The settings outlive the call: set-up blocks still pending after the 5-second wait read this
// copy.
struct SettingsCopy {
  explicit SettingsCopy(const MVXContextSettings& s) : raw(s) {
    auto keep = [](std::string& store, const char*& field) {
      if (field == nullptr) return;
      store = field;
      field = store.c_str();
    };
    keep(apiKey, raw.apiKey);
    keep(customBundleIdentifier, raw.customBundleIdentifier);
    keep(reportDirectory, raw.reportDirectory);
    keep(reportIdentifier, raw.reportIdentifier);
    keep(installIdentifier, raw.installIdentifier);
    keep(betaToken, raw.betaToken);
  }
  MVXContextSettings raw;
  std::string apiKey, customBundleIdentifier, reportDirectory, reportIdentifier, installIdentifier,
      betaToken;
};

void recordMetadata(const MVXContextSettings& settings) {
  const char* path = MVXContextAppendPathComponent(settings.reportDirectory, "metadata.mvxrecord");
  if (!MVXUnlinkIfExists(path)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to unlink existing metadata file %s\n", path);
  }
  MVXFile file;
  if (!MVXFileInitWithPath(&file, path, false)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to open metadata file %s\n", path);
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to record context metadata\n");
    return;
  }
  MVXFileWriteSectionStart(&file, "identity");
  MVXFileWriteHashStart(&file);
  MVXFileWriteHashEntryString(&file, "generator", "Morvex Mac SDK/3.12.0");
  MVXFileWriteHashEntryString(&file, "build_version", "136");
  MVXFileWriteHashEntryString(&file, "display_version", "3.12.0");
  MVXFileWriteHashEntryString(&file, "api_key", settings.apiKey);
  MVXFileWriteHashEntryUint64(&file, "started_at", static_cast<std::uint64_t>(time(nullptr)));
  MVXFileWriteHashEntryString(&file, "session_id", settings.reportIdentifier);
  MVXFileWriteHashEntryString(&file, "install_id", settings.installIdentifier);
  MVXFileWriteHashEntryString(&file, "beta_token", settings.betaToken);
  MVXFileWriteHashEntryBoolean(&file, "absolute_log_timestamps", true);
  MVXFileWriteHashEnd(&file);
  MVXFileWriteSectionEnd(&file);
  if (!MVXHostRecordMetadata(&file)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to write out host metadata\n");
  }
  auto orNull = [](const std::string& s) { return s.empty() ? std::nullopt : std::optional(s); };
  MVXFileWriteSectionStart(&file, "application");
  MVXFileWriteHashStart(&file);
  MVXFileWriteHashEntryNSString(&file, "bundle_id", orNull(TSYGetEscapedBundleIdentifier()));
  MVXFileWriteHashEntryString(&file, "custom_bundle_id", settings.customBundleIdentifier);
  MVXFileWriteHashEntryNSString(&file, "build_version", orNull(TSYGetBundleVersion()));
  MVXFileWriteHashEntryNSString(&file, "display_version", orNull(TSYGetBundleShortVersionString()));
  MVXFileWriteHashEntryNSString(&file, "extension_id", MVXApplicationExtensionPointIdentifier());
  MVXFileWriteHashEnd(&file);
  MVXFileWriteSectionEnd(&file);
  if (!MVXBinaryImageRecordExecutable(&file)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to write out executable metadata\n");
  }
  MVXFileClose(&file);
}

}  // namespace

std::shared_ptr<tw::DispatchQueue> MVXContextLoggingQueue() { return gLoggingQueue; }
std::shared_ptr<tw::DispatchQueue> MVXContextBinaryImagesQueue() { return gBinaryImagesQueue; }
std::shared_ptr<tw::DispatchQueue> MVXContextExceptionQueue() { return gExceptionQueue; }

const char* MVXContextAppendPathComponent(const char* directory, const char* name) {
  if (directory == nullptr || name == nullptr) return nullptr;
  std::string path(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return MVXDuplicateString(path.c_str());
}

bool MVXContextInitialize(const MVXContextSettings* settings) {
  if (settings == nullptr) return false;
  gLoggingQueue = TSYCreateSerialQueue("com.pelworth.morvex.mac.logging");
  gBinaryImagesQueue = TSYCreateSerialQueue("com.pelworth.morvex.mac.binary-images");
  gExceptionQueue = TSYCreateSerialQueue("com.pelworth.morvex.mac.exception");
  tw::machine::machineInit();
  MVXAllocator* allocator =
      MVXAllocatorCreate(kMVXAlternateStackSize + sizeof(MVXWritableContext) + 64, kReadOnlyRegion);
  gMVXContext.allocator = allocator;
  void* ro =
      MVXAllocatorSafeAllocate(allocator, sizeof(MVXReadOnlyContext), kMVXAllocationReadOnly);
  void* stack = MVXAllocatorSafeAllocate(allocator, kMVXAlternateStackSize, kMVXAllocationWritable);
  void* rw =
      MVXAllocatorSafeAllocate(allocator, sizeof(MVXWritableContext), kMVXAllocationWritable);
  if (ro == nullptr || stack == nullptr || rw == nullptr) return false;
  // The stack lies in a fresh anonymous mapping, zero already; left untouched its pages cost no
  // memory until a signal handler runs on them.
  auto* readonly = new (ro) MVXReadOnlyContext();
  readonly->alternateStack = stack;
  // The gate exists from here on: the writable half is published before any handler can run.
  gMVXContext.writable = new (rw) MVXWritableContext();
  gMVXContext.readonly = readonly;
  std::atomic_thread_fence(std::memory_order_seq_cst);

  if (settings->reportDirectory == nullptr || settings->reportDirectory[0] == 0) return false;
  readonly->logPath = MVXContextAppendPathComponent(settings->reportDirectory, "sdk.log");
  if (!MVXUnlinkIfExists(readonly->logPath)) {
    tw::log(tw::LogLevel::Error,
            std::string("[Morvex:Crash] Unable to write initialize SDK write paths ") +
                std::strerror(errno));
  }
  readonly->debuggerAttached = tw::machine::tracerAttached();
  readonly->immediateDelegate = settings->immediateDeliveryDelegate;
  readonly->crashCallbackTarget = settings->crashCallbackTarget;
  // The alternate stack belongs to this thread, so it is installed here and now.
  if (!readonly->debuggerAttached) {
    MVXSignalInstallAlternateStack(&readonly->signal, stack, kMVXAlternateStackSize);
  }
  // Before any handler exists: the walks it runs use the kit's reads, images and log.
  MVXStackWalkConnect();
  MVXStackWalkRecordThreadStack();

  auto copy = std::make_shared<SettingsCopy>(*settings);
  auto group = std::make_shared<tw::DispatchGroup>();
  auto global = tw::DispatchQueue::global();
  group->async(global, [readonly] { MVXHostInit(&readonly->host); });
  group->async(global, [readonly, copy] {
    const MVXContextSettings& s = copy->raw;
    MVXUserLoggingContext& logging = readonly->logging;
    MVXWritableContext* w = gMVXContext.writable;
    const char* dir = s.reportDirectory;
    logging.errors = {MVXContextAppendPathComponent(dir, "errors_a.mvxrecord"),
                      MVXContextAppendPathComponent(dir, "errors_b.mvxrecord"),
                      0,
                      s.errorReportingEnabled ? s.maxCustomExceptions : 0,
                      false,
                      &w->errorCount};
    logging.logs = {MVXContextAppendPathComponent(dir, "log_a.mvxrecord"),
                    MVXContextAppendPathComponent(dir, "log_b.mvxrecord"),
                    s.logBufferSize,
                    0,
                    true,
                    nullptr};
    logging.customExceptions = {MVXContextAppendPathComponent(dir, "custom_exception_a.mvxrecord"),
                                MVXContextAppendPathComponent(dir, "custom_exception_b.mvxrecord"),
                                0,
                                s.customExceptionsEnabled ? s.maxCustomExceptions : 0,
                                false,
                                &w->customExceptionCount};
    logging.user = {MVXContextAppendPathComponent(dir, "user_incremental_kv.mvxrecord"),
                    MVXContextAppendPathComponent(dir, "user_compacted_kv.mvxrecord"), 64,
                    s.maxCustomKeys};
    logging.internal = {MVXContextAppendPathComponent(dir, "internal_incremental_kv.mvxrecord"),
                        MVXContextAppendPathComponent(dir, "internal_compacted_kv.mvxrecord"), 64,
                        32};
    MVXUserLoggingInitialize(&logging, w);
  });
  group->async(global, [readonly, copy] {
    readonly->binaryImagesPath =
        MVXContextAppendPathComponent(copy->raw.reportDirectory, "binary_images.mvxrecord");
    MVXBinaryImageInit();
  });
  const char* const function = __func__;  // the lambdas below log under this name
  group->async(global, [readonly, copy, function] {
    const MVXContextSettings& s = copy->raw;
    if (readonly->debuggerAttached) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Debugger present - not installing handlers\n");
      return;
    }
    readonly->signal.path = MVXContextAppendPathComponent(s.reportDirectory, "signal.mvxrecord");
    MVXSignalInitialize(&readonly->signal);
    readonly->exception.path =
        MVXContextAppendPathComponent(s.reportDirectory, "exception.mvxrecord");
    readonly->exception.maxCustomExceptions = s.customExceptionsEnabled ? s.maxCustomExceptions : 0;
    MVXExceptionInitialize(&readonly->exception, &gMVXContext.writable->customExceptionCount);
  });
  group->async(global, [copy] { recordMetadata(copy->raw); });
  group->notify(global, [readonly, allocator, function] {
    readonly->initialized.store(true, std::memory_order_seq_cst);
    if (!MVXAllocatorProtect(allocator)) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Error: Memory protection failed\n");
    }
  });
  if (!group->wait(5.0)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: Delayed initialization\n");
    return true;
  }
  // notify runs after the group drained; give it the moment it needs so callers see the flag.
  for (int i = 0; i < 5000 && !readonly->initialized.load(); ++i) {
    struct timespec pause {
      0, 1000000
    };
    nanosleep(&pause, nullptr);
  }
  return true;
}
