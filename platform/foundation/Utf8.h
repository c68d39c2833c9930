#pragma once
// Small UTF-8 helpers shared by the text parsers and formatters. Stateless; any thread.

#include <cstdint>
#include <string>

namespace tw {

// Appends one code point as UTF-8; surrogates and values past U+10FFFF become U+FFFD.
void appendUtf8(std::string& out, std::uint32_t codePoint);

}  // namespace tw
