#include "app/Startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/Process.h"
#include "util/FileWrite.h"
#include "util/Paths.h"

namespace zarn {

std::string CanonicalBaseName(const std::string& fileName) {
  const size_t dot = fileName.find('.');
  return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

bool IsCanonicalName(const std::string& modulePath) {
  return CanonicalBaseName(BaseFileName(modulePath)) == kShortProductName;
}

std::string SelfCopyTarget(const std::string& modulePath) {
  const size_t slash = modulePath.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : modulePath.substr(0, slash + 1);
  return dir + kShortProductName + kExecutableSuffix;
}

bool CopyExecutable(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  struct stat existing;
  // On a case-insensitive folder (vfat, casefold) "Zarn" and "zarn" are one file: replacing the
  // target would destroy the source. Nothing is touched then.
  if (::fstat(in, &st) != 0 ||
      (::lstat(to.c_str(), &existing) == 0 && existing.st_dev == st.st_dev && existing.st_ino == st.st_ino)) {
    ::close(in);
    return false;
  }
  // The copy is made under a fresh name beside the target and renamed over it once complete, so
  // the target is either the old file or the whole copy; a link at the target is replaced, never
  // written through.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int out = -1;
  for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
    temp = to + ".new" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    ::close(in);
    return false;
  }
  std::vector<char> buf(1 << 20);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (!WriteAll(out, std::string_view(buf.data(), static_cast<size_t>(n)))) {
      ok = false;
      break;
    }
  }
  // The copy must be runnable like the original, whatever the umask.
  if (ok && ::fchmod(out, (st.st_mode & 07777) | S_IRUSR | S_IXUSR) != 0) ok = false;
  if (ok && ::fsync(out) != 0) ok = false;
  if (::close(out) != 0) ok = false;
  ::close(in);
  if (ok && ::rename(temp.c_str(), to.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool RunSelfCopy(const std::string& modulePath) {
  const std::string target = SelfCopyTarget(modulePath);
  if (!CopyExecutable(modulePath, target)) return false;
  StartDetached(target, {target});
  return true;
}

}  // namespace zarn
