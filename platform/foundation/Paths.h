#pragma once
// tw::paths: where the system keeps its files (the XDG base directories and the application's
// folders below them), and the file operations every writer of user data goes through: replace
// a file atomically, read one whole, move an unreadable one aside (never delete it).
// Plain functions, no state; any thread. Directory lookups read the environment each time, so
// tests can point XDG_* elsewhere.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/Expected.h"
#include "platform/foundation/Value.h"

namespace tw::paths {

// The folder name under each base directory.
inline constexpr const char* kApplicationFolder = "Tickwell";

// $HOME, else the password database entry, else "/".
std::filesystem::path homeDirectory();

// The base directories: the variable when it holds an absolute path (a relative or empty one is
// ignored, as the base-directory rules say), else the standard default under the home folder.
std::filesystem::path configHome();  // $XDG_CONFIG_HOME or ~/.config
std::filesystem::path dataHome();    // $XDG_DATA_HOME or ~/.local/share
std::filesystem::path cacheHome();   // $XDG_CACHE_HOME or ~/.cache
std::filesystem::path stateHome();   // $XDG_STATE_HOME or ~/.local/state
// $XDG_RUNTIME_DIR, else a private (0700) folder of this user under the temporary directory.
std::filesystem::path runtimeDir();

// "<base>/Tickwell". Not created here; writers create what they need.
std::filesystem::path applicationConfigDirectory();
std::filesystem::path applicationDataDirectory();
std::filesystem::path applicationCacheDirectory();
std::filesystem::path applicationStateDirectory();

// Creates the folder and its parents (0700 for new ones); success when it already exists.
Status createDirectories(const std::filesystem::path& dir);

// Replaces `path` with `bytes` so that a reader, or the file after a crash or power loss, holds
// either the old content or the new, never a part: writes a temporary file in the same folder,
// syncs it, renames it over the target and syncs the folder. Creates missing parent folders. A new
// file gets mode 0600 (user data); a replaced one keeps its mode.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);
Status writeFileAtomically(const std::filesystem::path& path, const Data& bytes);

// Whole-file reads. `errorNumber` (when given) receives the errno of a failure, so callers can tell
// an absent file (ENOENT) from an unreadable one. Files larger than `maxBytes` are refused.
inline constexpr std::uintmax_t kDefaultMaxRead = std::uintmax_t{256} * 1024 * 1024;
Expected<Data> readFile(const std::filesystem::path& path, int* errorNumber = nullptr,
                        std::uintmax_t maxBytes = kDefaultMaxRead);
Expected<std::string> readTextFile(const std::filesystem::path& path, int* errorNumber = nullptr,
                                   std::uintmax_t maxBytes = kDefaultMaxRead);

// Renames a file that could not be read to "<name>.corrupt-<YYYYMMDD-HHMMSS>" in the same folder
// (local time of the process clock; "-2", "-3", ... when that name is taken) and returns the new
// path. Never overwrites and never deletes anything.
Expected<std::filesystem::path> moveAside(const std::filesystem::path& path);

// Keeps the file as it stands under the name moveAside would give it, leaving `path` in place:
// for a file about to be rewritten with only part of what it held. Never overwrites anything.
Expected<std::filesystem::path> keepAside(const std::filesystem::path& path);

}  // namespace tw::paths
