#include "kits/crash/symbols/MVXSerializeSymbolicatedFramesOperation.h"

#include <cstdio>

#include "kits/crash/capture/MVXFile.h"
#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/reports/MVXFileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

void MVXSerializeSymbolicatedFramesOperation::main() {
  const std::string temporary = MVXFileManager::temporaryPathForPath(outputPath_);
  // Held until the rename, so that another launch's clean-up leaves the file alone.
  auto writing = outputPath_.empty() ? nullptr : tw::FileLock::tryLock(temporary, true);
  MVXFile file;
  if (!writing || !MVXFileInitWithPathMode(&file, temporary.c_str(), false, false)) {
    tw::log("[Morvex:Crash:Symbolication] Failed to create output file");
    return;
  }
  MVXFileWriteSectionStart(&file, "threads");
  MVXFileWriteArrayStart(&file);
  for (const auto& thread : threadArray()) {
    MVXFileWriteArrayStart(&file);
    for (const auto& frame : thread) {
      MVXFileWriteHashStart(&file);
      MVXFileWriteHashEntryNSString(&file, "symbol", frame->symbol());
      if (frame->rawSymbol() != frame->symbol()) {
        MVXFileWriteHashEntryNSString(&file, "raw_symbol", frame->rawSymbol());
      }
      MVXFileWriteHashEntryUint64(&file, "offset", frame->offset());
      MVXFileWriteHashEntryNSString(&file, "library", frame->library());
      MVXFileWriteHashEnd(&file);
    }
    MVXFileWriteArrayEnd(&file);
  }
  MVXFileWriteArrayEnd(&file);
  MVXFileWriteSectionEnd(&file);
  // Writes fail silently in the record writer; reading the record back shows a lost piece.
  const bool closed = MVXFileClose(&file);
  const auto written = closed ? MVXFileReadSections(temporary, false) : std::nullopt;
  const tw::Array* threads =
      written && written->size() == 1 ? (*written)[0]["threads"].array() : nullptr;
  // Checked in the temporary file, then replaced atomically and durably: a power cut never
  // leaves a record that is empty or cut.
  auto bytes = threads != nullptr && threads->size() == threadArray().size()
                   ? tw::paths::readFile(temporary)
                   : tw::Expected<tw::Data>::failure("the written record does not read back");
  const auto replaced = bytes ? tw::paths::writeFileAtomically(outputPath_, *bytes)
                              : tw::Status::failure(bytes.error());
  if (!replaced)
    tw::log("[Morvex:Crash:Symbolication] Failed to create output file: " + replaced.error());
  std::remove(temporary.c_str());
}
