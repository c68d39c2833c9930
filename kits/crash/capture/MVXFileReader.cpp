#include "kits/crash/capture/MVXFileReader.h"

#include <cerrno>

#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUtilities.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"

std::optional<std::vector<tw::Value>> MVXFileReadSections(const std::string& path,
                                                          bool deleteIfUnreadable,
                                                          const MVXSectionTransform& transform) {
  if (path.empty()) {
    MVXSDKLOG(4, "ERROR [%s:%d] Error: input path is invalid\n");
    return std::nullopt;
  }
  int error = 0;
  auto read = tw::paths::readTextFile(path, &error);
  if (!read) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to read file %s\n", read.error().c_str());
    // What cannot be read is kept (a folder, a file refused to us), out of the writer's way.
    if (deleteIfUnreadable && error != ENOENT) {
      auto aside = tw::paths::moveAside(path);
      MVXSDKLOG(3, "WARN  [%s:%d] %s %s\n",
                aside ? "Moved it aside to" : "Unable to move it aside:",
                aside ? aside->c_str() : aside.error().c_str());
    }
    return std::nullopt;
  }
  const std::string& all = *read;
  std::vector<tw::Value> sections;
  // Split the bytes first: a line cut inside a multi-byte character spoils only itself.
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    const std::string_view line(all.data() + start, end - start);
    start = end + 1;
    if (line.empty()) continue;  // the JSON reader refuses ill-formed UTF-8 itself
    auto parsed = tw::Json::parse(line);
    if (!parsed.ok() || parsed.value().type() != tw::Value::Type::Dictionary) continue;
    if (transform) {
      auto mapped = transform(parsed.value());
      if (mapped) sections.push_back(std::move(*mapped));
    } else {
      sections.push_back(std::move(parsed).value());
    }
  }
  return sections;
}

std::string MVXFileHexDecodeString(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const std::uint8_t hi = MVXHexDecodeCharacter(hex[i]);
    const std::uint8_t lo = MVXHexDecodeCharacter(hex[i + 1]);
    if (hi == 255 || lo == 255) break;
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  return out;
}
