#include "platform/foundation/Paths.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <system_error>

#include <fmt/format.h>

#include "platform/foundation/Clock.h"

namespace fs = std::filesystem;

namespace tw::paths {

namespace {

std::string errnoText(int e) { return std::error_code(e, std::generic_category()).message(); }

fs::path fromEnvironment(const char* variable, const char* fallbackBelowHome) {
  const char* v = getenv(variable);
  if (v && *v == '/') return fs::path(v);
  return homeDirectory() / fallbackBelowHome;
}

// Closes on every path out of a function.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

bool writeAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

fs::path homeDirectory() {
  if (const char* home = getenv("HOME"); home && *home) return fs::path(home);
  struct passwd pw {};
  struct passwd* result = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_dir)
    return fs::path(result->pw_dir);
  return fs::path("/");
}

fs::path configHome() { return fromEnvironment("XDG_CONFIG_HOME", ".config"); }
fs::path dataHome() { return fromEnvironment("XDG_DATA_HOME", ".local/share"); }
fs::path cacheHome() { return fromEnvironment("XDG_CACHE_HOME", ".cache"); }
fs::path stateHome() { return fromEnvironment("XDG_STATE_HOME", ".local/state"); }

fs::path runtimeDir() {
  const char* v = getenv("XDG_RUNTIME_DIR");
  if (v && *v == '/') return fs::path(v);
  std::error_code ec;
  fs::path dir = fs::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  dir /= fmt::format("{}-runtime-{}", kApplicationFolder, getuid());
  ::mkdir(dir.c_str(), 0700);  // an existing one is fine; callers report what then fails
  return dir;
}

fs::path applicationConfigDirectory() { return configHome() / kApplicationFolder; }
fs::path applicationDataDirectory() { return dataHome() / kApplicationFolder; }
fs::path applicationCacheDirectory() { return cacheHome() / kApplicationFolder; }
fs::path applicationStateDirectory() { return stateHome() / kApplicationFolder; }

Status createDirectories(const fs::path& dir) {
  if (dir.empty()) return Status::success();
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Status::success();
    return Status::failure(fmt::format("{} exists and is not a folder", dir.string()));
  }
  fs::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir) {
    Status up = createDirectories(parent);
    if (!up) return up;
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return Status::failure(
        fmt::format("cannot create folder {}: {}", dir.string(), errnoText(errno)));
  return Status::success();
}

Status writeFileAtomically(const fs::path& path, std::string_view bytes) {
  if (path.empty() || !path.has_filename())
    return Status::failure("cannot write a file without a name");
  fs::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  if (Status made = createDirectories(dir); !made) return made;

  std::string tmpl = (dir / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
  Fd tmp;
  tmp.fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (tmp.fd < 0)
    return Status::failure(
        fmt::format("cannot create a temporary file in {}: {}", dir.string(), errnoText(errno)));

  auto fail = [&](const char* what) {
    int e = errno;
    ::unlink(tmpl.c_str());
    return Status::failure(fmt::format("cannot {} {}: {}", what, path.string(), errnoText(e)));
  };

  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) ::fchmod(tmp.fd, existing.st_mode & 07777);

  if (!writeAll(tmp.fd, bytes.data(), bytes.size())) return fail("write");
  if (::fsync(tmp.fd) != 0) return fail("sync");
  if (::close(tmp.release()) != 0) return fail("close");
  if (::rename(tmpl.c_str(), path.c_str()) != 0) return fail("replace");

  // The rename is durable only once the folder itself is synced.
  Fd d;
  d.fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d.fd >= 0) ::fsync(d.fd);
  return Status::success();
}

Status writeFileAtomically(const fs::path& path, const Data& bytes) {
  return writeFileAtomically(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

namespace {

template <class Buffer>
Expected<Buffer> readWhole(const fs::path& path, int* errorNumber, std::uintmax_t maxBytes) {
  if (errorNumber) *errorNumber = 0;
  auto fail = [&](int e, const std::string& what) {
    if (errorNumber) *errorNumber = e;
    return Expected<Buffer>::failure(what);
  };
  Fd f;
  f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f.fd < 0) {
    int e = errno;
    return fail(e, fmt::format("cannot open {}: {}", path.string(), errnoText(e)));
  }
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) {
    int e = errno;
    return fail(e, fmt::format("cannot read {}: {}", path.string(), errnoText(e)));
  }
  if (S_ISDIR(st.st_mode)) return fail(EISDIR, fmt::format("{} is a folder", path.string()));
  if (static_cast<std::uintmax_t>(st.st_size) > maxBytes)
    return fail(EFBIG, fmt::format("{} is too large ({} bytes)", path.string(), st.st_size));
  Buffer out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(f.fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      return fail(e, fmt::format("cannot read {}: {}", path.string(), errnoText(e)));
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes)
      return fail(EFBIG, fmt::format("{} is too large", path.string()));
    out.insert(out.end(), chunk, chunk + n);
  }
  return out;
}

}  // namespace

Expected<Data> readFile(const fs::path& path, int* errorNumber, std::uintmax_t maxBytes) {
  return readWhole<Data>(path, errorNumber, maxBytes);
}

Expected<std::string> readTextFile(const fs::path& path, int* errorNumber,
                                   std::uintmax_t maxBytes) {
  return readWhole<std::string>(path, errorNumber, maxBytes);
}

namespace {

// Finds the first free "<name>.corrupt-<stamp>[-n]" beside `path` and hands it to `place`, which
// answers 0 or an errno; EEXIST tries the next name. `place` must never replace a file.
template <class Place>
Expected<fs::path> placeAside(const fs::path& path, const char* verb, Place&& place) {
  double now = clock::wallNow();
  time_t t = static_cast<time_t>(std::floor(now));
  struct tm tmv {};
  localtime_r(&t, &tmv);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tmv);
  std::string base = path.filename().string() + ".corrupt-" + stamp;

  for (int n = 1; n <= 1000; ++n) {
    fs::path target = path.parent_path() / (n == 1 ? base : fmt::format("{}-{}", base, n));
    const int e = place(target);
    if (e == 0) return target;
    if (e == EEXIST) continue;
    return Expected<fs::path>::failure(
        fmt::format("cannot {} {} aside: {}", verb, path.string(), errnoText(e)));
  }
  return Expected<fs::path>::failure(
      fmt::format("cannot {} {} aside: too many earlier copies", verb, path.string()));
}

}  // namespace

Expected<fs::path> moveAside(const fs::path& path) {
  return placeAside(path, "move", [&](const fs::path& target) {
    // RENAME_NOREPLACE: an earlier casualty with the same name is never overwritten.
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
      return 0;
    int e = errno;
    if (e == EINVAL || e == ENOSYS) {
      // A file system without no-replace renames: check first (a small race we accept there).
      if (::access(target.c_str(), F_OK) == 0) return EEXIST;
      if (::rename(path.c_str(), target.c_str()) == 0) return 0;
      e = errno;
    }
    return e;
  });
}

Expected<fs::path> keepAside(const fs::path& path) {
  return placeAside(path, "keep a copy of", [&](const fs::path& target) {
    // A second link costs nothing and outlives the rename that later replaces `path`.
    if (::link(path.c_str(), target.c_str()) == 0) return 0;
    int e = errno;
    if (e != EPERM && e != EXDEV && e != EMLINK && e != ENOTSUP && e != EOPNOTSUPP) return e;
    // A file system without hard links: copy into a file that must not exist yet.
    auto bytes = readFile(path, &e);
    if (!bytes) return e;
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    std::size_t done = 0;
    while (done < bytes->size()) {
      ssize_t n = ::write(fd, bytes->data() + done, bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        e = n < 0 ? errno : EIO;
        ::close(fd);
        ::unlink(target.c_str());
        return e;
      }
      done += static_cast<std::size_t>(n);
    }
    e = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && e == 0) e = errno;
    if (e != 0) ::unlink(target.c_str());
    return e;
  });
}

}  // namespace tw::paths
