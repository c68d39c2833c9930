#pragma once
// FileOperationActionUtil: the file panel of the file and application action editors (Qt's own
// file dialog, so tests can drive it), opening where startFolder says. The task's result is the
// chosen path; a dismissed panel cancels the task.
//
// Class methods only; main thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/tasks/BFTask.h"

class FileOperationActionUtil {
 public:
  static BFTaskPtr selectFileInDirectory(const std::optional<std::string>& directory,
                                         const std::optional<std::string>& filepath,
                                         const std::optional<std::vector<std::string>>& types);
  // Where the panel opens: an existing current path's parent folder when it is a folder (an
  // application entry's folder counts), the path itself when it is a plain file; else an
  // existing start folder; else Documents.
  static std::string startFolder(const std::optional<std::string>& directory,
                                 const std::optional<std::string>& filepath);
};
