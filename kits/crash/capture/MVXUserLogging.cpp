#include "kits/crash/capture/MVXUserLogging.h"

#include <sys/time.h>
#include <time.h>

#include <execinfo.h>

#include "kits/crash/capture/MVXContext.h"
#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "platform/foundation/Log.h"

namespace {

std::atomic<bool> gUninitializedMessaging{true};

void onLoggingQueue(const std::function<void()>& work) {
  auto queue = MVXContextLoggingQueue();
  if (queue) {
    queue->sync(work);
  } else {
    work();
  }
}

void laterOnLoggingQueue(std::function<void()> work) {
  auto queue = MVXContextLoggingQueue();
  if (queue) {
    queue->async(std::move(work));
  } else {
    work();
  }
}

void writeKV(MVXFile* file, const char* key, const std::optional<std::string>& value, bool hex) {
  MVXFileWriteSectionStart(file, "kv");
  MVXFileWriteHashStart(file);
  if (hex) {
    MVXFileWriteHashEntryHexEncodedString(file, "key", key);
    MVXFileWriteHashEntryHexEncodedString(file, "value", value ? value->c_str() : nullptr);
  } else {
    MVXFileWriteHashEntryString(file, "key", key);
    MVXFileWriteHashEntryString(file, "value", value ? value->c_str() : nullptr);
  }
  MVXFileWriteHashEnd(file);
  MVXFileWriteSectionEnd(file);
}

void writePairs(MVXFile* file, const char* key, const tw::Dictionary& dictionary) {
  if (dictionary.empty()) return;
  MVXFileWriteHashKey(file, key);
  MVXFileWriteArrayStart(file);
  for (const auto& [k, v] : dictionary) {
    const std::string description = v.description();
    MVXFileWriteArrayStart(file);
    MVXFileWriteArrayEntryHexEncodedString(file, k.c_str());
    MVXFileWriteArrayEntryHexEncodedString(file, description.c_str());
    MVXFileWriteArrayEnd(file);
  }
  MVXFileWriteArrayEnd(file);
}

}  // namespace

void MVXUserLoggingInitialize(MVXUserLoggingContext* logging, MVXWritableContext* state) {
  if (logging == nullptr || state == nullptr) return;
  state->currentLog = state->currentError = state->currentCustomException = 0;
  state->userKVCount = state->internalKVCount = state->errorCount = state->customExceptionCount = 0;
  logging->user.compactionThreshold = 64;
  logging->internal.compactionThreshold = 64;
}

void MVXUserLoggingRecordKeyValue(const char* key, const std::optional<std::string>& value,
                                  const MVXKVStorage* storage,
                                  std::atomic<std::uint32_t>* counter) {
  if (reinterpret_cast<std::uintptr_t>(key) < 4096) {
    MVXSDKLOG(3, "WARN  [%s:%d] User provided bad key\n");
    return;
  }
  if (!MVXContextIsInitialized()) return;
  onLoggingQueue([&] { MVXUserLoggingWriteKeyValue(key, value, storage, counter); });
}

void MVXUserLoggingRecordUserKeyValue(const char* key, const std::optional<std::string>& value) {
  if (!MVXContextIsInitialized()) return;
  MVXUserLoggingRecordKeyValue(key, value, &gMVXContext.readonly->logging.user,
                               &gMVXContext.writable->userKVCount);
}

void MVXUserLoggingRecordInternalKeyValue(const char* key,
                                          const std::optional<std::string>& value) {
  if (!MVXContextIsInitialized()) return;
  MVXUserLoggingRecordKeyValue(key, value, &gMVXContext.readonly->logging.internal,
                               &gMVXContext.writable->internalKVCount);
}

void MVXUserLoggingRecordInternalKeyValueDirect(const char* key,
                                                const std::optional<std::string>& value) {
  if (!MVXContextIsInitialized()) return;
  MVXUserLoggingWriteKeyValue(key, value, &gMVXContext.readonly->logging.internal,
                              &gMVXContext.writable->internalKVCount);
}

void MVXUserLoggingWriteKeyValue(const char* key, const std::optional<std::string>& value,
                                 const MVXKVStorage* storage, std::atomic<std::uint32_t>* counter) {
  if (storage == nullptr || counter == nullptr) {
    MVXSDKLOG(4, "ERROR [%s:%d] Bad parameters\n");
    return;
  }
  MVXFile file;
  if (!MVXFileInitWithPath(&file, storage->incrementalPath, true)) {
    MVXSDKLOG(4, "ERROR [%s:%d] Unable to open k-v file\n");
    return;
  }
  writeKV(&file, key, value, true);
  MVXFileClose(&file);
  if (counter->fetch_add(1) + 1 >= storage->compactionThreshold) {
    laterOnLoggingQueue([storage, counter] {
      MVXUserLoggingCompactKVEntries(storage);
      counter->store(0);
    });
  }
}

std::optional<MVXKVEntries> MVXUserLoggingGetCompactedKVEntries(const MVXKVStorage* storage,
                                                                bool decode) {
  if (storage == nullptr) {
    MVXSDKLOG(4, "ERROR [%s:%d] storage invalid\n");
    return std::nullopt;
  }
  MVXKVEntries entries;
  if (!MVXContextIsInitialized()) return entries;
  const char* const function = __func__;  // the lambda below logs under this name
  auto take = [&](const char* path, bool compacted) {
    auto sections =
        MVXFileReadSections(path, true, [](const tw::Value& line) -> std::optional<tw::Value> {
          const tw::Value& kv = line["kv"];
          if (kv.type() != tw::Value::Type::Dictionary) return std::nullopt;
          return kv;
        });
    if (!sections) return;
    for (const auto& kv : *sections) {
      const tw::Value& k = kv["key"];
      const tw::Value& v = kv["value"];
      const bool hasValue = v.isString() || (!compacted && v.isNull());
      if (!k.isString() || !hasValue || (compacted && v.isNull())) {
        MVXSDKLOG_IN(
            function, 4,
            compacted ? "ERROR [%s:%d] compacted key/value contains a nil and must be dropped\n"
                      : "ERROR [%s:%d] incremental key/value contains a nil and must be dropped\n");
        continue;
      }
      std::string key = decode ? MVXFileHexDecodeString(*k.string()) : *k.string();
      if (v.isNull()) {
        entries.erase(key);
      } else {
        entries[key] = decode ? MVXFileHexDecodeString(*v.string()) : *v.string();
      }
    }
  };
  take(storage->compactedPath, true);
  take(storage->incrementalPath, false);
  return entries;
}

void MVXUserLoggingCompactKVEntries(const MVXKVStorage* storage) {
  if (storage == nullptr) {
    MVXSDKLOG(4, "ERROR [%s:%d] Error: storage invalid\n");
    return;
  }
  const auto entries = MVXUserLoggingGetCompactedKVEntries(storage, false);
  if (!MVXUnlinkIfExists(storage->compactedPath)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: Unable to remove compacted KV store before compaction %s\n",
              storage->compactedPath);
  }
  MVXFile file;
  if (!MVXFileInitWithPath(&file, storage->compactedPath, true)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: Unable to open compacted k-v file\n");
    return;
  }
  if (entries && entries->size() > storage->maxKeys) {
    MVXSDKLOG(2, "INFO  [%s:%d] Truncating KV set, which is above max %d\n", storage->maxKeys);
  }
  std::uint32_t written = 0;
  for (const auto& [key, value] : entries.value_or(MVXKVEntries{})) {
    if (written++ >= storage->maxKeys) break;
    // Hex text from the incremental file, copied as it is.
    writeKV(&file, key.c_str(), value, false);
  }
  MVXFileClose(&file);
  if (!MVXUnlinkIfExists(storage->incrementalPath)) {
    MVXSDKLOG(3, "WARN  [%s:%d] Error: Unable to remove incremental KV store after compaction %s\n",
              storage->incrementalPath);
  }
}

void MVXUserLoggingWriteToABFiles(const MVXABFiles* pair, std::atomic<int>* current,
                                  const MVXFileWriter& writer) {
  if (pair == nullptr || current == nullptr || !writer) return;
  if ((pair->limitBySize ? pair->maxSize : pair->maxEntries) == 0) return;
  const char* const function = __func__;  // the lambda below logs under this name
  onLoggingQueue([&] {
    MVXFile file;
    const char* path = current->load() == 0 ? pair->pathA : pair->pathB;
    if (!MVXFileInitWithPath(&file, path, true)) {
      MVXSDKLOG_IN(function, 3, "WARN  [%s:%d] Unable to open log file\n");
      return;
    }
    writer(&file);
    std::uint64_t size = 0;
    MVXFileCloseWithOffset(&file, &size);
    if (!pair->limitBySize && pair->counter != nullptr) pair->counter->fetch_add(1);
    laterOnLoggingQueue(
        [pair, current, size] { MVXUserLoggingCheckAndSwapABFiles(pair, current, size); });
  });
}

void MVXUserLoggingCheckAndSwapABFiles(const MVXABFiles* pair, std::atomic<int>* current,
                                       std::uint64_t size) {
  if (pair == nullptr || current == nullptr) return;
  if (!pair->limitBySize) {
    if (pair->counter == nullptr) {
      MVXSDKLOG(
          4,
          "ERROR [%s:%d] Error: storage has invalid pointer, but is restricted by entry count\n");
      return;
    }
    if (pair->counter->load() < pair->maxEntries) return;
    pair->counter->store(0);
  } else if (size <= pair->maxSize) {
    return;
  }
  const int next = current->load() == 0 ? 1 : 0;
  const char* other = next == 0 ? pair->pathA : pair->pathB;
  if (other != nullptr && other[0] != 0) MVXUnlinkIfExists(other);
  current->store(next);
}

void MVXUserLoggingRecordError(const tw::Error& error, const tw::Dictionary& additionalUserInfo) {
  if (!MVXContextIsInitialized()) return;
  void* frames[128];
  const int count = backtrace(frames, 128);
  timeval now{};
  gettimeofday(&now, nullptr);
  MVXUserLoggingWriteToABFiles(
      &gMVXContext.readonly->logging.errors, &gMVXContext.writable->currentError,
      [&](MVXFile* file) {
        MVXFileWriteSectionStart(file, "error");
        MVXFileWriteHashStart(file);
        MVXFileWriteHashEntryHexEncodedString(file, "domain", error.domain().c_str());
        MVXFileWriteHashEntryInt64(file, "code", error.code());
        MVXFileWriteHashEntryUint64(file, "time", static_cast<std::uint64_t>(now.tv_sec));
        MVXFileWriteHashKey(file, "stacktrace");
        MVXFileWriteArrayStart(file);
        for (int i = 0; i < count; ++i) {
          MVXFileWriteArrayEntryUint64(file, reinterpret_cast<std::uintptr_t>(frames[i]));
        }
        MVXFileWriteArrayEnd(file);
        writePairs(file, "info", error.userInfo());
        writePairs(file, "extra_info", additionalUserInfo);
        MVXFileWriteHashEnd(file);
        MVXFileWriteSectionEnd(file);
      });
}

void MVXUserLoggingRecordLogMessage(const std::string& message) {
  if (!MVXContextIsInitialized()) {
    if (gUninitializedMessaging.load()) {
      tw::log(tw::LogLevel::Error,
              "[Morvex:Crash] WARNING: MVXLog has been used before (or concurrently with) Morvex "
              "initialization and cannot be recorded. The message was: \n" +
                  message);
    }
    return;
  }
  const MVXABFiles& logs = gMVXContext.readonly->logging.logs;
  std::string text = message;
  if (text.size() > logs.maxSize) {
    tw::log(tw::LogLevel::Error, "WARNING: Attempted to write " + std::to_string(text.size()) +
                                     " bytes, but " + std::to_string(logs.maxSize) +
                                     " is the maximum size of the log. Truncating to " +
                                     std::to_string(logs.maxSize) + " bytes.\n");
    std::size_t cut = logs.maxSize;
    // Never cut inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  timeval now{};
  gettimeofday(&now, nullptr);
  const std::uint64_t millis = static_cast<std::uint64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000;
  MVXUserLoggingWriteToABFiles(&logs, &gMVXContext.writable->currentLog, [&](MVXFile* file) {
    MVXFileWriteSectionStart(file, "log");
    MVXFileWriteHashStart(file);
    MVXFileWriteHashEntryHexEncodedString(file, "msg", text.c_str());
    MVXFileWriteHashEntryUint64(file, "time", millis);
    MVXFileWriteHashEnd(file);
    MVXFileWriteSectionEnd(file);
  });
}

void MVXUserLoggingDisableUninitializedKitMessaging() { gUninitializedMessaging = false; }
