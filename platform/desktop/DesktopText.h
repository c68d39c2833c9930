#pragma once
// Text helpers for the desktop services: the session bus and speech-dispatcher both refuse text
// that is not UTF-8, and notification servers that read markup need it escaped. Plain functions,
// any thread. Owned by platform/desktop.

#include <string>
#include <string_view>

namespace tw::desktop {

// `text` with every byte sequence that is not well-formed UTF-8 (stray continuation bytes,
// overlong forms, surrogates, code points above U+10FFFF, cut sequences) replaced by U+FFFD and
// NUL characters dropped; well-formed text comes back unchanged.
std::string validUtf8(std::string_view text);

// "&", "<" and ">" as the entities a markup-reading notification server expects.
std::string escapeMarkup(std::string_view text);

}  // namespace tw::desktop
