#include "core/Source/Library/DesktopEntry.h"

#include <fstream>

namespace tw {

namespace {
std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::string_view lastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos || path == "/" ? path : path.substr(slash + 1);
}
}  // namespace

std::optional<DesktopEntry> DesktopEntry::read(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  DesktopEntry entry;
  bool inGroup = false;
  bool application = true;
  std::string line;
  // Entries are small; a huge file is not one, and is not read to its end.
  for (int lines = 0; lines < 5000 && std::getline(in, line); ++lines) {
    const std::string_view text = trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    if (text.front() == '[') {
      if (inGroup) break;  // only the main group counts
      inGroup = text == "[Desktop Entry]";
      continue;
    }
    if (!inGroup) continue;
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = trimmed(text.substr(0, equals));
    const std::string_view value = trimmed(text.substr(equals + 1));
    if (key == "Name")
      entry.name = value;
    else if (key == "Icon")
      entry.icon = value;
    else if (key == "Type")
      application = value == "Application";
    else if ((key == "NoDisplay" || key == "Hidden") && value == "true")
      entry.listed = false;
  }
  if (entry.name.empty()) return std::nullopt;
  if (!application) entry.listed = false;
  return entry;
}

std::string DesktopEntry::displayName(std::string_view path) {
  constexpr std::string_view suffix = ".desktop";
  if (path.size() > suffix.size() && path.substr(path.size() - suffix.size()) == suffix)
    if (auto entry = read(std::string(path))) return entry->name;
  return std::string(lastComponent(path));
}

}  // namespace tw
