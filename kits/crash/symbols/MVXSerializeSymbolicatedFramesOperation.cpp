#include "kits/crash/symbols/MVXSerializeSymbolicatedFramesOperation.h"

#include <cstdio>

#include "kits/crash/capture/MVXFile.h"
#include "platform/foundation/Log.h"

std::string MVXSerializeSymbolicatedFramesOperation::temporaryPathFor(
    const std::string& outputPath) {
  const std::size_t slash = outputPath.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  return outputPath.substr(0, nameAt) + "." + outputPath.substr(nameAt) + ".tmp";
}

void MVXSerializeSymbolicatedFramesOperation::main() {
  const std::string temporary = temporaryPathFor(outputPath_);
  MVXFile file;
  if (outputPath_.empty() || !MVXFileInitWithPathMode(&file, temporary.c_str(), false, false)) {
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
  if (threads == nullptr || threads->size() != threadArray().size() ||
      std::rename(temporary.c_str(), outputPath_.c_str()) != 0) {
    tw::log("[Morvex:Crash:Symbolication] Failed to create output file");
    std::remove(temporary.c_str());
  }
}
