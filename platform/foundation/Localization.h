#pragma once
// Localized strings: the English text is the key; a translation comes from the string table
// "<resources>/<language>.lproj/<table>.strings" of the user's language, and when there is none
// the caller's default text or, failing that, the key itself is used. Formats are looked up
// first, then filled (Format.h).
//
// The user's languages come from LANGUAGE (a colon-separated list), then LC_ALL, LC_MESSAGES and
// LANG ("de_DE.UTF-8" offers "de_DE", then "de"). The bundle answers from the first of those it
// has a folder for, then from its development region ("en"), then "Base".
//
// String tables (resources/*.lproj/*.strings) are text: `"key" = "value";` entries, /* */ and
// // comments, backslash escapes (\n \t \" \\ \Uxxxx and octal), UTF-8 or UTF-16 with a
// byte-order mark; a property-list dictionary of strings is accepted too. A table that does not
// parse is ignored with a log line. Any thread.

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Expected.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Value.h"

namespace tw {

// The user's languages, best first, as read from the environment now.
std::vector<std::string> preferredLanguages();

// The localization folders `bundle` consults, best first: the first user language it has, its
// development region, "Base".
std::vector<std::string> localizationSearchOrder(const Bundle& bundle);

// Parses the bytes of a string table into key -> string.
Expected<Dictionary> parseStringsFile(std::string_view bytes);

// The main bundle's default table, with an empty default text.
std::string localized(std::string_view key);

// Looks up the format, then fills it.
template <class... Args>
std::string localizedFormat(std::string_view key, const Args&... args) {
  return format(localized(key), args...);
}

}  // namespace tw
