#include "util/FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "util/Paths.h"

namespace zarn {

bool WriteAll(int fd, std::string_view bytes) {
  int error = 0;
  WriteBytes(fd, bytes, -1, &error);
  if (error != 0) errno = error;
  return error == 0;
}

size_t WriteBytes(int fd, std::string_view bytes, int64_t offset, int* error) {
  *error = 0;
  size_t written = 0;
  while (written < bytes.size()) {
    const char* from = bytes.data() + written;
    const size_t left = bytes.size() - written;
    const ssize_t n =
        offset < 0 ? ::write(fd, from, left)
                   : ::pwrite(fd, from, left, static_cast<off_t>(offset + static_cast<int64_t>(written)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 && errno ? errno : ENOSPC;
      break;
    }
    written += static_cast<size_t>(n);
  }
  return written;
}

int FsyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno ? errno : EIO;
  const int error = ::fsync(fd) == 0 ? 0 : (errno ? errno : EIO);
  ::close(fd);
  return error;
}

bool ReplaceFile(const std::string& path, std::string_view bytes, const ReplaceOptions& options) {
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, options.mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  if (ok && options.exactMode) ok = ::fchmod(fd, options.mode) == 0;
  if (ok && options.durable) ok = ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int error = errno;
    ::unlink(temp.c_str());
    errno = error;
    return false;
  }
  if (options.durable) FsyncFolder(DirName(path));
  return true;
}

}  // namespace zarn
