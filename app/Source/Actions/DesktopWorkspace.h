#pragma once
// tw::app::DesktopWorkspace: what the file and application actions need of the desktop, over
// GIO: open a file with the user's default application for it, launch an application given by
// its desktop entry (.desktop file), and force-terminate the first running process of our own
// user that belongs to such an application (never another user's process). Failures are logged
// and reported as false, with the reason in `*reason` where asked for.
//
// Free functions; main thread.

#include <sys/types.h>
#include <string>
#include <vector>

namespace tw::app {

bool openFile(const std::string& path, std::string* reason = nullptr);
bool launchApplication(const std::string& desktopFile, std::string* reason = nullptr);
// The executable (base name) a desktop entry runs; empty when the entry cannot be read.
std::string applicationExecutable(const std::string& desktopFile);
// Our own processes running `executable`, oldest (lowest id) first.
std::vector<pid_t> runningProcessesOf(const std::string& executable);
// Why an application entry cannot be read: it is missing, or not an entry.
std::string unreadableEntry(const std::string& desktopFile);
// SIGKILL to the first of them; false when none runs or the entry cannot be read.
bool forceTerminateApplication(const std::string& desktopFile);
// The folders the system keeps application entries in, those of the user first.
std::vector<std::string> applicationFolders();

}  // namespace tw::app
