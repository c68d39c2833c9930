#include "platform/foundation/Localization.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <fmt/format.h>

#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Utf8.h"

namespace fs = std::filesystem;

namespace tw {

namespace {

bool validUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80             ? 1
                      : (c & 0xE0) == 0xC0 ? 2
                      : (c & 0xF0) == 0xE0 ? 3
                      : (c & 0xF8) == 0xF0 ? 4
                                           : 0;
    if (len == 0 || i + len > s.size()) return false;
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
    for (std::size_t k = 1; k < len; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

Expected<std::string> utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) return Expected<std::string>::failure("odd number of UTF-16 bytes");
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t i) -> std::uint32_t {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (std::uint32_t{a} << 8) | b : (std::uint32_t{b} << 8) | a;
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 2 < bytes.size()) {
      std::uint32_t lo = unit(i + 2);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF)
      return Expected<std::string>::failure("unpaired UTF-16 surrogate");
    appendUtf8(out, u);
  }
  return out;
}

class StringsParser {
 public:
  explicit StringsParser(std::string_view text) : s_(text) {}

  Expected<Dictionary> parse() {
    Dictionary out;
    for (;;) {
      if (!skipSpaceAndComments()) return fail("unterminated comment");
      if (i_ >= s_.size()) return out;
      std::string key, value;
      if (!readString(key)) return fail(error_.empty() ? "expected a quoted key" : error_);
      if (!skipSpaceAndComments()) return fail("unterminated comment");
      if (i_ < s_.size() && s_[i_] == ';') {  // `"key";` maps the key to itself
        ++i_;
        out.insert_or_assign(key, Value(key));
        continue;
      }
      if (i_ >= s_.size() || s_[i_] != '=') return fail("expected '='");
      ++i_;
      if (!skipSpaceAndComments()) return fail("unterminated comment");
      if (!readString(value)) return fail(error_.empty() ? "expected a quoted value" : error_);
      if (!skipSpaceAndComments()) return fail("unterminated comment");
      if (i_ >= s_.size() || s_[i_] != ';') return fail("expected ';'");
      ++i_;
      out.insert_or_assign(std::move(key), Value(std::move(value)));
    }
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
  std::string error_;

  Expected<Dictionary> fail(const std::string& what) {
    std::size_t line =
        1 +
        static_cast<std::size_t>(std::count(
            s_.begin(), s_.begin() + static_cast<std::ptrdiff_t>(std::min(i_, s_.size())), '\n'));
    return Expected<Dictionary>::failure(fmt::format("line {}: {}", line, what));
  }

  bool skipSpaceAndComments() {
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        ++i_;
      } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
        auto end = s_.find("*/", i_ + 2);
        if (end == std::string_view::npos) return false;
        i_ = end + 2;
      } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '/') {
        auto end = s_.find('\n', i_);
        i_ = end == std::string_view::npos ? s_.size() : end + 1;
      } else {
        break;
      }
    }
    return true;
  }

  static bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
  }

  static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool readString(std::string& out) {
    if (i_ >= s_.size()) return false;
    if (s_[i_] != '"') {
      std::size_t start = i_;
      while (i_ < s_.size() && isWordChar(s_[i_])) ++i_;
      if (i_ == start) return false;
      out.assign(s_.substr(start, i_ - start));
      return true;
    }
    ++i_;
    std::uint32_t pendingHigh = 0;  // a \U high surrogate waiting for its partner
    auto flushHigh = [&] {
      if (pendingHigh) appendUtf8(out, 0xFFFD);
      pendingHigh = 0;
    };
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c == '"') {
        flushHigh();
        return true;
      }
      if (c != '\\') {
        flushHigh();
        out += c;
        continue;
      }
      if (i_ >= s_.size()) break;
      char e = s_[i_++];
      if (e == 'U' || e == 'u') {
        std::uint32_t u = 0;
        int n = 0;
        while (n < 4 && i_ < s_.size() && hexDigit(s_[i_]) >= 0) {
          u = (u << 4) | static_cast<std::uint32_t>(hexDigit(s_[i_++]));
          ++n;
        }
        if (n == 0) {
          error_ = "\\U without hex digits";
          return false;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
          flushHigh();
          pendingHigh = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF && pendingHigh) {
          appendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (u - 0xDC00));
          pendingHigh = 0;
        } else {
          flushHigh();
          appendUtf8(out, u);
        }
        continue;
      }
      flushHigh();
      if (e >= '0' && e <= '7') {
        std::uint32_t v = static_cast<std::uint32_t>(e - '0');
        for (int n = 1; n < 3 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++n)
          v = v * 8 + static_cast<std::uint32_t>(s_[i_++] - '0');
        appendUtf8(out, v);
        continue;
      }
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'a':
          out += '\a';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'v':
          out += '\v';
          break;
        default:
          out += e;  // \" \\ \' and anything else stand for themselves
      }
    }
    error_ = "unterminated string";
    return false;
  }
};

// "de_DE.UTF-8@euro" -> "de_DE"; "C"/"POSIX" say nothing about a language.
std::string languageOfLocale(std::string_view locale) {
  auto cut = locale.find_first_of(".@");
  std::string lang(locale.substr(0, cut));
  if (lang == "C" || lang == "POSIX") return {};
  return lang;
}

void addLanguage(std::vector<std::string>& out, const std::string& lang) {
  if (!lang.empty() && std::find(out.begin(), out.end(), lang) == out.end()) out.push_back(lang);
}

}  // namespace

std::vector<std::string> preferredLanguages() {
  std::vector<std::string> raw;
  if (const char* list = std::getenv("LANGUAGE"); list && *list) {
    std::string_view rest(list);
    while (!rest.empty()) {
      auto colon = rest.find(':');
      raw.push_back(languageOfLocale(rest.substr(0, colon)));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* v = std::getenv(var); v && *v) {
      raw.push_back(languageOfLocale(v));
      break;  // the first one set is the locale in force
    }
  }
  // Each regional variant ("pt_BR", also spelled "pt-BR") is followed by its bare language.
  std::vector<std::string> out;
  for (const std::string& lang : raw) {
    if (lang.empty()) continue;
    addLanguage(out, lang);
    auto sep = lang.find_first_of("_-");
    if (sep != std::string::npos) {
      std::string other = lang;
      other[sep] = lang[sep] == '_' ? '-' : '_';
      addLanguage(out, other);
      addLanguage(out, lang.substr(0, sep));
    }
  }
  return out;
}

std::vector<std::string> localizationSearchOrder(const Bundle& bundle) {
  std::vector<std::string> have = bundle.localizations();
  auto has = [&](const std::string& l) {
    return std::find(have.begin(), have.end(), l) != have.end();
  };
  std::vector<std::string> order;
  for (const std::string& lang : preferredLanguages()) {
    if (has(lang)) {
      order.push_back(lang);
      break;
    }
  }
  std::string dev = bundle.developmentRegion();
  if (has(dev)) addLanguage(order, dev);
  if (has("Base")) addLanguage(order, "Base");
  return order;
}

Expected<Dictionary> parseStringsFile(std::string_view bytes) {
  std::string decoded;
  std::string_view text = bytes;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    auto r = utf16ToUtf8(bytes.substr(2), false);
    if (!r) return Expected<Dictionary>::failure(r.error());
    decoded = std::move(r).value();
    text = decoded;
  } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF) {
    auto r = utf16ToUtf8(bytes.substr(2), true);
    if (!r) return Expected<Dictionary>::failure(r.error());
    decoded = std::move(r).value();
    text = decoded;
  } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = bytes.substr(3);
  }
  if (!validUtf8(text)) return Expected<Dictionary>::failure("not valid UTF-8");

  // Tables may also be property lists.
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (text.substr(0, 8) == "bplist00" ||
      (first != std::string_view::npos && text.substr(first, 5) == "<?xml")) {
    auto plist = PropertyList::read(text);
    if (!plist) return Expected<Dictionary>::failure(plist.error());
    if (!plist->dictionary())
      return Expected<Dictionary>::failure("property list is not a dictionary");
    for (const auto& [k, v] : *plist->dictionary())
      if (!v.isString())
        return Expected<Dictionary>::failure(fmt::format("value of \"{}\" is not a string", k));
    return *plist->dictionary();
  }
  return StringsParser(text).parse();
}

std::vector<std::string> Bundle::localizations() const {
  std::lock_guard lock(tablesMutex_);
  if (!localizations_) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path& p = it->path();
      if (p.extension() == ".lproj" && it->is_directory(ec)) found.push_back(p.stem().string());
    }
    std::sort(found.begin(), found.end());
    localizations_ = std::move(found);
  }
  return *localizations_;
}

const Dictionary& Bundle::stringsTable(const fs::path& file) const {
  std::lock_guard lock(tablesMutex_);
  auto it = tables_.find(file);
  if (it != tables_.end()) return it->second;
  Dictionary table;
  int err = 0;
  auto bytes = paths::readTextFile(file, &err, std::uintmax_t{16} * 1024 * 1024);
  if (bytes) {
    auto parsed = parseStringsFile(*bytes);
    if (parsed)
      table = std::move(parsed).value();
    else
      log(LogLevel::Error,
          fmt::format("Localization: ignoring {}: {}", file.string(), parsed.error()));
  } else if (err != ENOENT) {
    log(LogLevel::Error,
        fmt::format("Localization: ignoring {}: {}", file.string(), bytes.error()));
  }
  // Kept even when empty, so a missing or broken table is looked for (and logged) only once.
  return tables_.emplace(file, std::move(table)).first->second;
}

std::string Bundle::localizedString(std::string_view key, std::string_view value,
                                    std::string_view table) const {
  std::string tableFile = std::string(table.empty() ? "Localizable" : table) + ".strings";
  for (const std::string& lang : localizationSearchOrder(*this)) {
    const Dictionary& t = stringsTable(directory_ / (lang + ".lproj") / tableFile);
    if (auto it = t.find(key); it != t.end())
      if (const std::string* s = it->second.string()) return *s;
  }
  return std::string(value.empty() ? key : value);
}

std::string localized(std::string_view key) { return Bundle::main().localizedString(key, {}, {}); }

}  // namespace tw
