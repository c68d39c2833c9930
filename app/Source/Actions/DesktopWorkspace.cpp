#include "app/Source/Actions/DesktopWorkspace.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/foundation/Log.h"

namespace fs = std::filesystem;

namespace tw::app {

namespace {
std::string takeError(GError* error) {
  std::string text = error && error->message ? error->message : "unknown error";
  if (error) g_error_free(error);
  return text;
}

// Logs "<what>: <why>", hands `why` to the caller when asked, and gives false.
bool fail(const std::string& what, const std::string& why, std::string* reason) {
  tw::log(tw::LogLevel::Error, what + ": " + why);
  if (reason) *reason = why;
  return false;
}
}  // namespace

bool openFile(const std::string& path, std::string* reason) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return fail("Could not open " + path, "there is no such file", reason);
  GFile* file = g_file_new_for_path(path.c_str());
  char* uri = g_file_get_uri(file);
  GError* error = nullptr;
  const bool ok = g_app_info_launch_default_for_uri(uri, nullptr, &error);
  g_free(uri);
  g_object_unref(file);
  return ok || fail("Could not open " + path, takeError(error), reason);
}

bool launchApplication(const std::string& desktopFile, std::string* reason) {
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(desktopFile.c_str());
  if (!info) return fail("Could not launch " + desktopFile, unreadableEntry(desktopFile), reason);
  GError* error = nullptr;
  const bool ok = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error);
  g_object_unref(info);
  return ok || fail("Could not launch " + desktopFile, takeError(error), reason);
}

std::string applicationExecutable(const std::string& desktopFile) {
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(desktopFile.c_str());
  if (!info) return {};
  const char* exec = g_app_info_get_executable(G_APP_INFO(info));
  std::string name = exec ? fs::path(exec).filename().string() : std::string();
  g_object_unref(info);
  return name;
}

std::vector<pid_t> runningProcessesOf(const std::string& executable) {
  std::vector<pid_t> result;
  if (executable.empty()) return result;
  const uid_t me = getuid();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    struct stat info;
    if (stat(entry.path().c_str(), &info) != 0 || info.st_uid != me) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == getpid()) continue;
    // The executable's own name, else the first word of the command line (scripts).
    std::error_code linkError;
    const fs::path exe = fs::read_symlink(entry.path() / "exe", linkError);
    bool match = !linkError && exe.filename() == executable;
    if (!match) {
      std::ifstream cmdline(entry.path() / "cmdline");
      std::string first;
      std::getline(cmdline, first, '\0');
      match = !first.empty() && fs::path(first).filename() == executable;
    }
    if (match) result.push_back(pid);
  }
  std::sort(result.begin(), result.end());
  return result;
}

std::string unreadableEntry(const std::string& desktopFile) {
  std::error_code ec;
  return fs::exists(desktopFile, ec) ? "it is not an application entry that can be read"
                                     : "there is no such file";
}

bool forceTerminateApplication(const std::string& desktopFile) {
  const std::string executable = applicationExecutable(desktopFile);
  if (executable.empty()) return false;
  const auto pids = runningProcessesOf(executable);
  if (pids.empty()) return false;
  if (kill(pids.front(), SIGKILL) != 0) {
    tw::log(tw::LogLevel::Error, "Could not quit " + executable);
    return false;
  }
  return true;
}

std::vector<std::string> applicationFolders() {
  std::vector<std::string> folders;
  folders.push_back(std::string(g_get_user_data_dir()) + "/applications");
  for (const char* const* dir = g_get_system_data_dirs(); dir && *dir; ++dir)
    folders.push_back(std::string(*dir) + "/applications");
  return folders;
}

}  // namespace tw::app
