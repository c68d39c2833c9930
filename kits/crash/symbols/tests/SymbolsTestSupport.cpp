#include "kits/crash/symbols/tests/SymbolsTestSupport.h"

#include "kits/crash/capture/MVXFile.h"
#include "platform/machine/Machine.h"

namespace tw::test {

void writeLoadedImagesRecord(const std::string& path, std::uint64_t shift) {
  struct Context {
    MVXFile file;
    std::uint64_t shift;
  } context{{}, shift};
  MVXFileInitWithPathMode(&context.file, path.c_str(), false, false);
  tw::machine::enumerateImages(
      [](const tw::machine::ImageInfo& image, void* user) {
        auto* c = static_cast<Context*>(user);
        MVXFileWriteSectionStart(&c->file, "load");
        MVXFileWriteHashStart(&c->file);
        MVXFileWriteHashEntryString(&c->file, "path", image.path);
        MVXFileWriteHashEntryString(&c->file, "uuid", image.uuid);
        MVXFileWriteHashEntryUint64(&c->file, "base", image.base + c->shift);
        MVXFileWriteHashEntryUint64(&c->file, "size", image.size);
        MVXFileWriteHashEnd(&c->file);
        MVXFileWriteSectionEnd(&c->file);
      },
      &context);
  MVXFileClose(&context.file);
}

}  // namespace tw::test
