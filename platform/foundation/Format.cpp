#include "platform/foundation/Format.h"
#include "platform/foundation/Utf8.h"

#include <locale.h>

#include <cstdint>
#include <cstdio>
#include <limits>

#include "platform/foundation/Object.h"

namespace tw {

namespace {

// A width or precision beyond this is a broken format, not a layout request; cap it so a typo
// cannot ask for gigabytes.
constexpr int kMaxField = 4096;

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  int lengthLongs = 0;  // 0: int, 1: l/z/t/j/q, 2: ll; h/hh count as -1/-2
  char conversion = 0;
};

locale_t cLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

// printf in the C locale whatever the process locale is (a GUI toolkit sets it from the
// environment, which would turn "1.5" into "1,5").
template <class T>
std::string cPrintf(const std::string& spec, T value) {
  locale_t previous = uselocale(cLocale());
  int n = std::snprintf(nullptr, 0, spec.c_str(), value);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::snprintf(out.data(), out.size(), spec.c_str(), value);
    out.resize(static_cast<std::size_t>(n));
  }
  uselocale(previous);
  return out;
}

std::string numericSpec(const Spec& s, const char* length, char conversion) {
  std::string spec = "%";
  for (char f : s.flags)
    if (f != '\'') spec += f;
  if (s.width >= 0) spec += std::to_string(s.width);
  if (s.precision >= 0) spec += "." + std::to_string(s.precision);
  spec += length;
  spec += conversion;
  return spec;
}

bool hasFlag(const Spec& s, char f) { return s.flags.find(f) != std::string::npos; }

std::size_t codePointLength(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// Cuts after `maxPoints` code points, never inside one.
std::string_view truncateCodePoints(std::string_view s, std::size_t maxPoints) {
  std::size_t points = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (points == maxPoints) return s.substr(0, i);
      ++points;
    }
  }
  return s;
}

std::string padded(std::string_view text, const Spec& s) {
  if (s.precision >= 0) text = truncateCodePoints(text, static_cast<std::size_t>(s.precision));
  std::string out(text);
  if (s.width > 0) {
    std::size_t len = codePointLength(text);
    if (len < static_cast<std::size_t>(s.width)) {
      std::string pad(static_cast<std::size_t>(s.width) - len, ' ');
      out = hasFlag(s, '-') ? out + pad : pad + out;
    }
  }
  return out;
}

// %c of a code point; nothing for NUL or a value that is no character.
std::string utf8(std::uint32_t cp) {
  std::string out;
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return out;
  appendUtf8(out, cp);
  return out;
}

// The unsigned reading of a value, wrapping a negative integer at the width the length modifier
// names, as printf would.
std::uint64_t unsignedReading(const Value& v, const Spec& s) {
  if (auto i = v.intIfInt(); i && *i < 0) {
    auto u = static_cast<std::uint64_t>(*i);
    if (s.lengthLongs == 0) return u & 0xFFFFFFFFu;
    if (s.lengthLongs == -1) return u & 0xFFFFu;
    if (s.lengthLongs == -2) return u & 0xFFu;
    return u;
  }
  if (auto d = v.doubleIfDouble(); d && *d < 0) {
    Value asInt(v.integerValue());
    return unsignedReading(asInt, s);
  }
  return v.unsignedValue();
}

std::string render(const Spec& s, const Value& v) {
  switch (s.conversion) {
    case '@':
    case 's':
    case 'S':
      return padded(v.description(), s);
    case 'd':
    case 'i':
    case 'D': {
      if (auto u = v.uintIfUInt())  // above the signed range: show the true value
        return cPrintf(numericSpec(s, "ll", 'u'), static_cast<unsigned long long>(*u));
      return cPrintf(numericSpec(s, "ll", 'd'), static_cast<long long>(v.integerValue()));
    }
    case 'u':
    case 'U':
    case 'x':
    case 'X':
    case 'o':
    case 'O': {
      char conv = s.conversion == 'U' ? 'u' : s.conversion == 'O' ? 'o' : s.conversion;
      return cPrintf(numericSpec(s, "ll", conv),
                     static_cast<unsigned long long>(unsignedReading(v, s)));
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return cPrintf(numericSpec(s, "", s.conversion), v.doubleValue());
    case 'c':
    case 'C': {
      std::string ch;
      if (const std::string* str = v.string()) {
        ch = std::string(truncateCodePoints(*str, 1));
      } else {
        auto cp = v.integerValue();
        if (s.conversion == 'c' && s.lengthLongs == 0) cp &= 0xFF;
        if (cp > 0 && cp <= 0x10FFFF) ch = utf8(static_cast<std::uint32_t>(cp));
      }
      Spec noPrecision = s;
      noPrecision.precision = -1;
      return padded(ch, noPrecision);
    }
    case 'p': {
      std::uint64_t address = 0;
      if (auto o = v.object())
        address = reinterpret_cast<std::uintptr_t>(o.get());
      else
        address = v.unsignedValue();
      Spec plain = s;
      plain.precision = -1;
      return padded(cPrintf(std::string("0x%llx"), static_cast<unsigned long long>(address)),
                    plain);
    }
    default:
      return {};
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads digits at `i`; returns -1 when there are none. Saturates instead of overflowing.
int readNumber(std::string_view f, std::size_t& i) {
  if (i >= f.size() || !isDigit(f[i])) return -1;
  long long n = 0;
  while (i < f.size() && isDigit(f[i])) {
    if (n < 1'000'000) n = n * 10 + (f[i] - '0');
    ++i;
  }
  return static_cast<int>(n);
}

}  // namespace

std::string formatValues(std::string_view f, const std::vector<Value>& args) {
  std::string out;
  out.reserve(f.size() + 16 * args.size());
  std::size_t nextArg = 0;

  // A missing argument (too few given, or a position past the end) is absent, not garbage.
  auto argAt = [&](long index) -> const Value* {
    if (index < 0 || static_cast<std::size_t>(index) >= args.size()) return nullptr;
    return &args[static_cast<std::size_t>(index)];
  };
  // "*" or "*N$": a field taken from the argument list.
  auto starField = [&](std::size_t& i) -> int {
    ++i;  // past '*'
    std::size_t save = i;
    int pos = readNumber(f, i);
    const Value* v = nullptr;
    if (pos > 0 && i < f.size() && f[i] == '$') {
      ++i;
      v = argAt(pos - 1);
    } else {
      i = save;
      v = argAt(static_cast<long>(nextArg++));
    }
    if (!v) return std::numeric_limits<int>::min();
    auto n = v->integerValue();
    if (n > kMaxField) n = kMaxField;
    if (n < -kMaxField) n = -kMaxField;
    return static_cast<int>(n);
  };

  for (std::size_t i = 0; i < f.size();) {
    char c = f[i];
    if (c != '%') {
      std::size_t next = f.find('%', i);
      if (next == std::string_view::npos) next = f.size();
      out.append(f.substr(i, next - i));
      i = next;
      continue;
    }
    const std::size_t start = i;
    ++i;
    if (i >= f.size()) {  // a lone trailing '%'
      out += '%';
      break;
    }
    if (f[i] == '%') {
      out += '%';
      ++i;
      continue;
    }

    Spec spec;
    long position = -1;
    {
      std::size_t save = i;
      int n = readNumber(f, i);
      if (n > 0 && i < f.size() && f[i] == '$')
        position = n - 1, ++i;
      else
        i = save;
    }
    while (i < f.size() && (f[i] == '-' || f[i] == '+' || f[i] == ' ' || f[i] == '#' ||
                            f[i] == '0' || f[i] == '\'')) {
      if (spec.flags.find(f[i]) == std::string::npos) spec.flags += f[i];
      ++i;
    }
    if (i < f.size() && f[i] == '*') {
      int w = starField(i);
      if (w != std::numeric_limits<int>::min()) {
        if (w < 0) {
          if (!hasFlag(spec, '-')) spec.flags += '-';
          w = -w;
        }
        spec.width = w;
      }
    } else {
      spec.width = readNumber(f, i);
    }
    if (i < f.size() && f[i] == '.') {
      ++i;
      if (i < f.size() && f[i] == '*') {
        int p = starField(i);
        spec.precision = p == std::numeric_limits<int>::min() || p < 0 ? -1 : p;
      } else {
        int p = readNumber(f, i);
        spec.precision = p < 0 ? 0 : p;
      }
    }
    if (spec.width > kMaxField) spec.width = kMaxField;
    if (spec.precision > kMaxField) spec.precision = kMaxField;
    while (i < f.size()) {
      char m = f[i];
      if (m == 'l' || m == 'q' || m == 'z' || m == 't' || m == 'j' || m == 'L') {
        spec.lengthLongs = m == 'l' ? spec.lengthLongs + 1 : 2;
        if (spec.lengthLongs > 2) spec.lengthLongs = 2;
      } else if (m == 'h') {
        spec.lengthLongs = spec.lengthLongs == -1 ? -2 : -1;
      } else {
        break;
      }
      ++i;
    }
    if (i >= f.size()) {  // a conversion cut off at the end: keep the text as written
      out.append(f.substr(start));
      break;
    }
    spec.conversion = f[i++];

    static constexpr std::string_view kKnown = "@sSdiDuUxXoOfFeEgGaAcCpn";
    if (kKnown.find(spec.conversion) == std::string_view::npos) {
      out.append(f.substr(start, i - start));
      continue;
    }
    const Value* arg = position >= 0 ? argAt(position) : argAt(static_cast<long>(nextArg++));
    if (spec.conversion == 'n' || !arg) continue;
    out += render(spec, *arg);
  }
  return out;
}

}  // namespace tw
