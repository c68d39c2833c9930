#pragma once
// User logs, custom keys and recorded errors: written at once into the current report
// directory's record files so a crash a moment later loses nothing. Logs, errors and custom
// exceptions rotate between an A and a B file; keys go to an incremental file that is folded into
// a compacted one every 64 writes.
//
// All writes run on the "com.pelworth.morvex.mac.logging" queue (the caller waits), except the
// direct internal key write, which runs on the caller's thread. Any thread may call.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "kits/crash/capture/MVXCrashContext.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Format.h"

using MVXFileWriter = std::function<void(MVXFile*)>;
using MVXKVEntries = std::map<std::string, std::optional<std::string>>;

void MVXUserLoggingInitialize(MVXUserLoggingContext* logging, MVXWritableContext* state);
void MVXUserLoggingRecordUserKeyValue(const char* key, const std::optional<std::string>& value);
void MVXUserLoggingRecordInternalKeyValue(const char* key, const std::optional<std::string>& value);
void MVXUserLoggingRecordKeyValue(const char* key, const std::optional<std::string>& value,
                                  const MVXKVStorage* storage, std::atomic<std::uint32_t>* counter);
void MVXUserLoggingRecordInternalKeyValueDirect(const char* key,
                                                const std::optional<std::string>& value);
void MVXUserLoggingWriteKeyValue(const char* key, const std::optional<std::string>& value,
                                 const MVXKVStorage* storage, std::atomic<std::uint32_t>* counter);
// Compacted entries, then the incremental ones over them (a null value removes its key).
std::optional<MVXKVEntries> MVXUserLoggingGetCompactedKVEntries(const MVXKVStorage* storage,
                                                                bool decode);
void MVXUserLoggingCompactKVEntries(const MVXKVStorage* storage);
void MVXUserLoggingWriteToABFiles(const MVXABFiles* pair, std::atomic<int>* current,
                                  const MVXFileWriter& writer);
void MVXUserLoggingCheckAndSwapABFiles(const MVXABFiles* pair, std::atomic<int>* current,
                                       std::uint64_t size);
void MVXUserLoggingRecordError(const tw::Error& error, const tw::Dictionary& additionalUserInfo);
void MVXUserLoggingRecordLogMessage(const std::string& message);
void MVXUserLoggingDisableUninitializedKitMessaging();

template <class... Args>
void MVXLog(std::string_view format, const Args&... args) {
  MVXUserLoggingRecordLogMessage(tw::format(format, args...));
}
