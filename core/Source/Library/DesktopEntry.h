#pragma once
// tw::DesktopEntry: what a desktop entry file (an installed application's ".desktop" file) says
// of itself: its shown name, icon and whether menus list it. Read on request from the file; a
// file that is missing, unreadable or not a desktop entry gives nothing. Plain data and a
// function: any thread.

#include <optional>
#include <string>
#include <string_view>

namespace tw {

struct DesktopEntry {
  std::string name;    // the entry's Name, never empty
  std::string icon;    // the entry's Icon; may be empty
  bool listed = true;  // false for NoDisplay or Hidden entries and for non-applications

  // Reads the "[Desktop Entry]" group of `path`; nothing when the file has no Name there.
  static std::optional<DesktopEntry> read(const std::string& path);
  // The name to show for an application at `path`: the entry's Name for a desktop entry that
  // has one, else the path's last component.
  static std::string displayName(std::string_view path);
};

}  // namespace tw
