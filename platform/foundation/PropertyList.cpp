#include "platform/foundation/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <fmt/format.h>

namespace tw {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch property-list dates count from.
constexpr double kEpoch2001 = 978307200.0;
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

struct PlistFree {
  void operator()(plist_t p) const {
    if (p) plist_free(p);
  }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

bool isValidUtf8(const char* s, std::size_t n) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

// libplist keeps one integer node type for both signs; only its own writer knows whether a value
// with the top bit set was negative or a large unsigned. Asking it (rarely needed) settles it.
bool integerNodeIsNegative(plist_t node) {
  PlistPtr copy(plist_copy(node));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(copy.get(), &xml, &length);
  if (!xml) return true;
  bool negative = std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
  plist_to_xml_free(xml);
  return negative;
}

// libplist's parsers recurse once per nesting level, so a hostile file can exhaust the stack
// before we see a single node. These scans measure the nesting first, without recursion.

// XML: text cannot hold a raw '<', so every "<array>"/"<dict>" outside comments is a tag.
bool xmlNestingWithin(std::string_view s, int limit) {
  int depth = 0;
  std::size_t i = 0;
  while ((i = s.find('<', i)) != std::string_view::npos) {
    std::string_view rest = s.substr(i + 1);
    if (rest.substr(0, 3) == "!--") {
      std::size_t end = s.find("-->", i + 4);
      if (end == std::string_view::npos) return true;  // unterminated: the parser will refuse it
      i = end + 3;
      continue;
    }
    bool closing = !rest.empty() && rest[0] == '/';
    std::string_view name = rest.substr(closing ? 1 : 0);
    std::size_t len = name.substr(0, 5) == "array" ? 5 : name.substr(0, 4) == "dict" ? 4 : 0;
    std::size_t gt = s.find('>', i);
    if (len > 0 && gt != std::string_view::npos) {
      bool selfClosing = gt > 0 && s[gt - 1] == '/';
      if (closing)
        --depth;
      else if (!selfClosing && ++depth > limit)
        return false;
    }
    i += 1;
  }
  return true;
}

std::uint64_t readBigEndian(const unsigned char* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t k = 0; k < n; ++k) v = (v << 8) | p[k];
  return v;
}

// libplist keeps keys as C strings: a key with an embedded NUL (a UTF-16 key can hold one) makes
// it assert and abort the process as soon as the key is read, and an ASCII string with one is cut
// short without a word. Strings with a NUL are therefore refused before libplist sees them.
bool binaryStringHoldsNul(const unsigned char* b, std::size_t size, std::uint64_t off) {
  const unsigned char marker = b[off];
  const unsigned kind = marker >> 4;
  if (kind != 0x5 && kind != 0x6) return false;
  std::uint64_t units = marker & 0x0F;
  std::uint64_t pos = off + 1;
  if (units == 0x0F) {
    if (pos >= size || (b[pos] >> 4) != 0x1) return false;
    std::size_t width = std::size_t{1} << (b[pos] & 0x0F);
    if (width > 8 || pos + 1 + width > size) return false;
    units = readBigEndian(b + pos + 1, width);
    pos += 1 + width;
  }
  const std::uint64_t unitSize = kind == 0x6 ? 2 : 1;
  if (pos > size || units > (size - pos) / unitSize) return false;  // libplist refuses it
  for (std::uint64_t i = 0; i < units; ++i) {
    const unsigned char* u = b + pos + i * unitSize;
    if (u[0] == 0 && (unitSize == 1 || u[1] == 0)) return true;
  }
  return false;
}

// Binary: follows the object references of arrays, sets and dictionaries from the top object,
// with an explicit stack and memoised depths, and looks at every string met on the way. Only
// depth and NUL characters are judged here (an empty answer); anything else malformed is left
// for libplist to refuse.
std::string binaryProblem(std::string_view bytes, int limit) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  if (size < 8 + 32) return {};
  const unsigned char* trailer = b + size - 32;
  std::size_t offsetSize = trailer[6], refSize = trailer[7];
  std::uint64_t count = readBigEndian(trailer + 8, 8);
  std::uint64_t top = readBigEndian(trailer + 16, 8);
  std::uint64_t table = readBigEndian(trailer + 24, 8);
  if (offsetSize == 0 || offsetSize > 8 || refSize == 0 || refSize > 8 || count == 0 ||
      top >= count || table >= size || count > (size - table) / offsetSize)
    return {};
  std::string tooDeep = fmt::format("property list nested deeper than {} levels", limit);

  auto objectAt = [&](std::uint64_t index) -> std::uint64_t {
    return readBigEndian(b + table + index * offsetSize, offsetSize);
  };
  // The references held by a container object; empty for scalars or anything out of bounds.
  auto children = [&](std::uint64_t index, std::uint64_t& first, std::uint64_t& n) {
    n = 0;
    std::uint64_t off = objectAt(index);
    if (off >= size) return;
    unsigned char marker = b[off];
    unsigned kind = marker >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD) return;
    std::uint64_t items = marker & 0x0F;
    std::uint64_t pos = off + 1;
    if (items == 0x0F) {  // the count follows as an integer object
      if (pos >= size || (b[pos] >> 4) != 0x1) return;
      std::size_t width = std::size_t{1} << (b[pos] & 0x0F);
      if (width > 8 || pos + 1 + width > size) return;
      items = readBigEndian(b + pos + 1, width);
      pos += 1 + width;
    }
    std::uint64_t refs = kind == 0xD ? items * 2 : items;
    if (items > size || refs > (size - pos) / refSize) return;
    first = pos;
    n = refs;
  };
  auto holdsNul = [&](std::uint64_t index) {
    std::uint64_t off = objectAt(index);
    return off < size && binaryStringHoldsNul(b, size, off);
  };
  std::string nul = "property list holds a key or string with an embedded NUL character";

  std::vector<int> depth(count, 0);  // 0: not seen, -1: on the current path
  struct Frame {
    std::uint64_t index, first, n, next;
    int deepest;
  };
  std::vector<Frame> stack;
  auto push = [&](std::uint64_t index) {
    Frame f{index, 0, 0, 0, 0};
    children(index, f.first, f.n);
    depth[index] = -1;
    stack.push_back(f);
  };
  if (holdsNul(top)) return nul;
  push(top);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < f.n) {
      std::uint64_t child = readBigEndian(b + f.first + f.next * refSize, refSize);
      ++f.next;
      if (child >= count) continue;
      if (depth[child] == -1) return {};  // a cycle: libplist refuses those itself
      if (depth[child] > 0) {
        f.deepest = std::max(f.deepest, depth[child]);
        continue;
      }
      if (static_cast<int>(stack.size()) >= limit) return tooDeep;
      if (holdsNul(child)) return nul;
      push(child);
      continue;
    }
    int d = f.deepest + 1;
    depth[f.index] = d;
    stack.pop_back();
    if (!stack.empty()) stack.back().deepest = std::max(stack.back().deepest, d);
  }
  return depth[top] <= limit + 1 ? std::string() : tooDeep;
}

struct Reader {
  std::string error;

  bool convert(plist_t node, int depth, const std::string& where, Value& out) {
    if (depth > PropertyList::kMaxDepth) {
      error = fmt::format("property list nested deeper than {} levels", PropertyList::kMaxDepth);
      return false;
    }
    switch (plist_get_node_type(node)) {
      case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        out = Value(b != 0);
        return true;
      }
      case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        // A negative integer arrives as its two's complement bits.
        if (u <= static_cast<uint64_t>(kInt64Max) || integerNodeIsNegative(node))
          out = Value(static_cast<std::int64_t>(u));
        else
          out = Value(std::uint64_t{u});
        return true;
      }
      case PLIST_UID: {
        uint64_t u = 0;
        plist_get_uid_val(node, &u);
        out = Value(std::uint64_t{u});
        return true;
      }
      case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        out = Value(d);
        return true;
      }
      case PLIST_STRING:
      case PLIST_KEY: {
        uint64_t len = 0;
        const char* s = plist_get_string_ptr(node, &len);
        if (!s) s = "", len = 0;
        if (!isValidUtf8(s, len)) {
          error = fmt::format("property list string at {} is not valid UTF-8", where);
          return false;
        }
        out = Value(std::string(s, len));
        return true;
      }
      case PLIST_DATA: {
        uint64_t len = 0;
        const char* d = plist_get_data_ptr(node, &len);
        const auto* b = reinterpret_cast<const std::uint8_t*>(d);
        out = Value(d ? Data(b, b + len) : Data{});
        return true;
      }
      case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        out = Value(Date{kEpoch2001 + sec + usec / 1e6});
        return true;
      }
      case PLIST_ARRAY: {
        Array a;
        uint32_t n = plist_array_get_size(node);
        a.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
          plist_t item = plist_array_get_item(node, i);
          Value v;
          if (!item || !convert(item, depth + 1, fmt::format("{}[{}]", where, i), v)) {
            if (error.empty()) error = fmt::format("property list array at {} is damaged", where);
            return false;
          }
          a.push_back(std::move(v));
        }
        out = Value(std::move(a));
        return true;
      }
      case PLIST_DICT: {
        Dictionary d;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        bool ok = true;
        while (ok && it) {
          char* key = nullptr;
          plist_t item = nullptr;
          plist_dict_next_item(node, it, &key, &item);
          if (!key) break;
          // Keys with a NUL never get here: read() refuses them before libplist parses.
          std::string k(key);
          std::free(key);
          if (!isValidUtf8(k.data(), k.size())) {
            error = fmt::format("property list key in {} is not valid UTF-8", where);
            ok = false;
            break;
          }
          Value v;
          if (!item || !convert(item, depth + 1, fmt::format("{}.{}", where, k), v)) {
            if (error.empty())
              error = fmt::format("property list entry {}.{} is damaged", where, k);
            ok = false;
            break;
          }
          d.insert_or_assign(std::move(k), std::move(v));
        }
        std::free(it);
        if (!ok) return false;
        out = Value(std::move(d));
        return true;
      }
      default:
        error = fmt::format("property list holds an unknown kind of value at {}", where);
        return false;
    }
  }
};

struct Writer {
  std::string error;

  plist_t make(const Value& v, const std::string& where) {
    switch (v.type()) {
      case Value::Type::Null:
        error = fmt::format("a property list cannot hold null (at {})", where);
        return nullptr;
      case Value::Type::Object:
        error = fmt::format("a property list cannot hold an object reference (at {})", where);
        return nullptr;
      case Value::Type::Bool:
        return plist_new_bool(*v.boolIfBool() ? 1 : 0);
      case Value::Type::Int:
        return plist_new_uint(static_cast<uint64_t>(*v.intIfInt()));
      case Value::Type::UInt: {
        std::uint64_t u = *v.uintIfUInt();
        if (u <= static_cast<std::uint64_t>(kInt64Max)) return plist_new_uint(u);
        // plist_new_uint would mark this as a negative number; the XML reader makes an unsigned
        // one, so build the node through it.
        std::string xml = fmt::format("<plist version=\"1.0\"><integer>{}</integer></plist>", u);
        plist_t node = nullptr;
        plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
        if (!node) error = fmt::format("could not encode integer {} (at {})", u, where);
        return node;
      }
      case Value::Type::Double:
        return plist_new_real(*v.doubleIfDouble());
      case Value::Type::String:
        // libplist takes C strings: a NUL would silently end the text there.
        if (v.string()->find('\0') != std::string::npos) {
          error = fmt::format("a property list string cannot hold a NUL character (at {})", where);
          return nullptr;
        }
        return plist_new_string(v.string()->c_str());
      case Value::Type::Data: {
        const Data& d = *v.data();
        return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
      }
      case Value::Type::Date: {
        double t = v.date()->secondsSince1970 - kEpoch2001;
        if (!std::isfinite(t)) t = 0;
        constexpr double lo = std::numeric_limits<int32_t>::min();
        constexpr double hi = std::numeric_limits<int32_t>::max();
        t = std::clamp(t, lo, hi);
        double whole = std::floor(t);
        auto usec = static_cast<int32_t>(std::lround((t - whole) * 1e6));
        auto sec = static_cast<int32_t>(whole);
        if (usec >= 1'000'000) {
          usec -= 1'000'000;
          if (sec < std::numeric_limits<int32_t>::max()) ++sec;
        }
        return plist_new_date(sec, usec);
      }
      case Value::Type::Array: {
        plist_t a = plist_new_array();
        std::size_t i = 0;
        for (const Value& e : *v.array()) {
          plist_t item = make(e, fmt::format("{}[{}]", where, i++));
          if (!item) {
            plist_free(a);
            return nullptr;
          }
          plist_array_append_item(a, item);
        }
        return a;
      }
      case Value::Type::Dictionary: {
        plist_t d = plist_new_dict();
        for (const auto& [k, e] : *v.dictionary()) {
          if (k.find('\0') != std::string::npos) {
            error = fmt::format("a property list key cannot hold a NUL character (in {})", where);
            plist_free(d);
            return nullptr;
          }
          plist_t item = make(e, fmt::format("{}.{}", where, k));
          if (!item) {
            plist_free(d);
            return nullptr;
          }
          plist_dict_set_item(d, k.c_str(), item);
        }
        return d;
      }
    }
    return nullptr;
  }
};

Expected<PlistPtr> build(const Value& value) {
  Writer w;
  PlistPtr root(w.make(value, "root"));
  if (!root) return Expected<PlistPtr>::failure(w.error);
  return root;
}

}  // namespace

PropertyList::Format PropertyList::detectFormat(std::string_view bytes) {
  return bytes.size() >= 8 && bytes.substr(0, 8) == "bplist00" ? Format::Binary : Format::XML;
}

Expected<Value> PropertyList::read(std::string_view bytes) {
  if (bytes.empty()) return Expected<Value>::failure("empty property list");
  if (bytes.size() > std::numeric_limits<uint32_t>::max())
    return Expected<Value>::failure("property list too large");
  if (detectFormat(bytes) == Format::Binary) {
    std::string problem = binaryProblem(bytes, kMaxDepth);
    if (!problem.empty()) return Expected<Value>::failure(std::move(problem));
  } else if (bytes.find('\0') != std::string_view::npos) {
    // Never valid XML; libplist would cut a key at it without a word.
    return Expected<Value>::failure("not a property list (XML text holds a NUL byte)");
  } else if (!xmlNestingWithin(bytes, kMaxDepth)) {
    return Expected<Value>::failure(
        fmt::format("property list nested deeper than {} levels", kMaxDepth));
  }
  plist_t raw = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
  PlistPtr root(raw);
  if (!root) {
    return Expected<Value>::failure(detectFormat(bytes) == Format::Binary
                                        ? "damaged binary property list"
                                        : "not a property list (invalid XML property list)");
  }
  Reader r;
  Value out;
  if (!r.convert(root.get(), 0, "root", out)) return Expected<Value>::failure(r.error);
  return out;
}

Expected<Value> PropertyList::read(const Data& bytes) {
  return read(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Expected<std::string> PropertyList::writeXML(const Value& value) {
  auto root = build(value);
  if (!root) return Expected<std::string>::failure(root.error());
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root->get(), &xml, &length);
  if (!xml) return Expected<std::string>::failure("could not write the XML property list");
  std::string out(xml, length);
  plist_to_xml_free(xml);
  return out;
}

Expected<Data> PropertyList::writeBinary(const Value& value) {
  auto root = build(value);
  if (!root) return Expected<Data>::failure(root.error());
  char* bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(root->get(), &bin, &length);
  if (!bin) return Expected<Data>::failure("could not write the binary property list");
  const auto* b = reinterpret_cast<const std::uint8_t*>(bin);
  Data out(b, b + length);
  plist_to_bin_free(bin);
  return out;
}

Expected<Data> PropertyList::write(const Value& value, Format format) {
  if (format == Format::Binary) return writeBinary(value);
  auto xml = writeXML(value);
  if (!xml) return Expected<Data>::failure(xml.error());
  const std::string& s = *xml;
  return Data(s.begin(), s.end());
}

}  // namespace tw
