#pragma once
// Making file modes hold in a test, also when the tests run as root (as CI does), where they
// would otherwise be ignored and a "read-only" file stays writable. Test-only.

#include <functional>
#include <optional>
#include <string>

namespace tw::test {

struct EnforcedRun {
  bool unavailable = false;  // no such child can be made here: skip, saying why
  bool ok = false;           // the body ran to its end; `output` is what it returned
  std::string output;
  std::string why;  // when not ok
};

// Runs `body` in a forked child process in which file modes hold: as root, the child gives up
// the capabilities that override them (an ordinary user needs nothing). Unavailable where the
// capabilities cannot be dropped; not ok when the child died or ran past `timeoutSeconds`. The
// body must not use gtest assertions (they would stay in the child): it reports what it saw in
// its result, and the caller checks that.
EnforcedRun runWithFileModesEnforced(const std::function<std::string()>& body,
                                     double timeoutSeconds = 60.0);

}  // namespace tw::test
