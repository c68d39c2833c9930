#pragma once
// The reader of record files (MVXFile.h): at the next launch, and for the user-logging files
// folded while the process runs. Ordinary code, never in a handler; any thread.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

// The reader: every line that is a JSON object, mapped through transform (nullopt drops it).
// A file that cannot be read gives nullopt, logged; with `deleteIfUnreadable` it is moved aside
// (never deleted), so the writer can make a new one in its place.
using MVXSectionTransform = std::function<std::optional<tw::Value>(const tw::Value&)>;
std::optional<std::vector<tw::Value>> MVXFileReadSections(
    const std::string& path, bool deleteIfUnreadable, const MVXSectionTransform& transform = {});
std::string MVXFileHexDecodeString(std::string_view hex);
