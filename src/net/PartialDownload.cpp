#include "net/PartialDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "util/FileWrite.h"
#include "util/Sha256.h"

namespace zarn::net {

namespace {

constexpr size_t kRecordMax = 16 * 1024;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Record values stay on one line: "%", controls and DEL are percent-encoded.
std::string Escape(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '%' || u < 0x20 || u == 0x7F) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// A name that is there but is no plain file (a folder, a link, anything else) is taken away,
// so that nothing is ever written through it.
int RemoveUnlessPlainFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (S_ISREG(st.st_mode)) return 0;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);  // removes a link itself, never what it points to
  return ec ? ec.value() : 0;
}

// Non-negative decimal number filling the whole text; -1 when it is not one.
int64_t WholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 18) return -1;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

struct ContentRange {
  int64_t first = -1, last = -1, total = -1;  // total -1: "*"
};

// "bytes first-last/total"; false when it is not that.
bool ParseContentRange(std::string_view text, ContentRange* range) {
  if (text.size() < 6) return false;
  std::string unit(text.substr(0, 6));
  std::transform(unit.begin(), unit.end(), unit.begin(), Lower);
  if (unit != "bytes ") return false;
  text.remove_prefix(6);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const size_t dash = text.find('-'), slash = text.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return false;
  range->first = WholeNumber(text.substr(0, dash));
  range->last = WholeNumber(text.substr(dash + 1, slash - dash - 1));
  const std::string_view total = text.substr(slash + 1);
  range->total = total == "*" ? -1 : WholeNumber(total);
  return range->first >= 0 && range->last >= range->first && (total == "*" || range->total > range->last);
}

}  // namespace

std::string HeaderValue(const std::string& rawHead, std::string_view name) {
  size_t pos = rawHead.find("\r\n");  // past the status line
  while (pos != std::string::npos && pos + 2 < rawHead.size()) {
    const size_t begin = pos + 2;
    const size_t end = rawHead.find("\r\n", begin);
    const std::string_view line(rawHead.data() + begin,
                                (end == std::string::npos ? rawHead.size() : end) - begin);
    if (line.size() > name.size() && line[name.size()] == ':') {
      bool same = true;
      for (size_t i = 0; i < name.size() && same; ++i) same = Lower(line[i]) == Lower(name[i]);
      if (same) {
        std::string_view value = line.substr(name.size() + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        return std::string(value);
      }
    }
    pos = end;
  }
  return {};
}

std::string ReplyValidator(const std::string& rawHead) {
  // A weak ETag may not stand in If-Range.
  const std::string etag = HeaderValue(rawHead, "ETag");
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') return etag;
  return HeaderValue(rawHead, "Last-Modified");
}

PartialDownload::PartialDownload(std::string target, std::string identity, int64_t size, std::string sha256)
    : m_target(std::move(target)),
      m_partPath(m_target + ".part"),
      m_infoPath(m_target + ".part.info"),
      m_size(size < 0 ? -1 : size),
      m_sha256(std::move(sha256)) {
  std::transform(m_sha256.begin(), m_sha256.end(), m_sha256.begin(), Lower);
  m_recordHead = "zarn partial 1\nidentity " + Escape(identity) + "\nsize " + std::to_string(m_size) +
                 "\nsha256 " + Escape(m_sha256) + "\nvalidator ";
}

PartialDownload::~PartialDownload() { Close(); }

void PartialDownload::Close() {
  if (m_fd >= 0) {
    if (::close(m_fd) != 0 && m_error == 0) m_error = errno ? errno : EIO;
    m_fd = -1;
  }
}

bool PartialDownload::Prepare() {
  Close();
  m_startedOver = m_tooLong = m_sizeDiffers = false;
  m_error = 0;
  m_offset = m_done = m_total = 0;
  m_limit = -1;
  m_validator.clear();
  if (m_target.find('\0') != std::string::npos) {
    m_error = EINVAL;
    return false;
  }
  if (int e = RemoveUnlessPlainFile(m_partPath); e != 0) m_error = e;
  if (int e = RemoveUnlessPlainFile(m_infoPath); e != 0 && m_error == 0) m_error = e;
  if (m_error != 0) return false;

  // The record: it must be ours, for this identity, size and hash, and name a validator.
  std::string record;
  if (const int fd = ::open(m_infoPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); fd >= 0) {
    char buffer[4096];
    ssize_t n;
    while (record.size() <= kRecordMax && (n = ::read(fd, buffer, sizeof buffer)) > 0)
      record.append(buffer, static_cast<size_t>(n));
    ::close(fd);
  }
  if (record.size() > m_recordHead.size() + 1 && record.size() <= kRecordMax &&
      record.starts_with(m_recordHead) && record.back() == '\n') {
    const std::string validator = record.substr(m_recordHead.size(), record.size() - m_recordHead.size() - 1);
    if (validator.find('\n') == std::string::npos && validator == Escape(validator)) m_validator = validator;
  }

  m_fd = ::open(m_partPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (m_fd < 0) {
    m_error = errno ? errno : EIO;
    return false;
  }
  struct stat st {};
  if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    m_error = errno ? errno : EINVAL;
    Close();
    return false;
  }
  m_offset = m_validator.empty() || (m_size >= 0 && st.st_size > m_size) ? 0 : st.st_size;
  if (m_offset == 0) {
    // Bytes that cannot be continued go at once: no partial of another version stays behind.
    m_validator.clear();
    ::unlink(m_infoPath.c_str());
    if (st.st_size > 0 && ::ftruncate(m_fd, 0) != 0) {
      m_error = errno ? errno : EIO;
      Close();
      return false;
    }
  }
  m_done = m_offset;
  return true;
}

std::vector<std::string> PartialDownload::RequestHeaders() const {
  if (m_offset == 0) return {};
  return {"Range: bytes=" + std::to_string(m_offset) + "-", "If-Range: " + m_validator};
}

bool PartialDownload::WriteRecord(const std::string& validator) {
  ::unlink(m_infoPath.c_str());
  if (validator.empty()) return true;  // without a validator the bytes cannot be continued
  const int fd = ::open(m_infoPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    m_error = errno ? errno : EIO;
    return false;
  }
  const std::string record = m_recordHead + Escape(validator) + "\n";
  const bool ok = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  if (!ok) m_error = errno ? errno : ENOSPC;
  if (::close(fd) != 0 && m_error == 0) m_error = errno ? errno : EIO;
  return m_error == 0;
}

Sink::Take PartialDownload::Begin(const ReplyHead& head) {
  if (m_fd < 0) return Take::Abort;
  if (head.status == 416 && m_offset > 0) {
    m_startedOver = true;
  } else if (head.status == 206 && m_offset > 0) {
    ContentRange range;
    const std::string validator = ReplyValidator(head.raw);
    if (!ParseContentRange(HeaderValue(head.raw, "Content-Range"), &range) || range.first != m_offset ||
        (!validator.empty() && validator != m_validator)) {
      m_startedOver = true;
    } else {
      m_total = range.total >= 0 ? range.total : (head.hasLength ? m_offset + head.announced : 0);
      m_limit = range.last + 1;
      if (head.hasLength) m_limit = std::min(m_limit, m_offset + head.announced);
      if (m_size >= 0 && m_total != 0 && m_total != m_size) {
        m_sizeDiffers = true;
        return Take::Abort;
      }
      if (onOpened) onOpened(m_total);
      return Take::Body;
    }
  } else if (head.status == 200) {
    // The whole file comes: what was on disk goes, never appended to.
    m_offset = m_done = 0;
    if (::ftruncate(m_fd, 0) != 0) {
      m_error = errno ? errno : EIO;
      return Take::Abort;
    }
    m_validator = ReplyValidator(head.raw);
    if (!WriteRecord(m_validator)) return Take::Abort;
    m_total = head.hasLength ? head.announced : (m_size >= 0 ? m_size : 0);
    m_limit = head.hasLength ? head.announced : -1;
    if (m_size >= 0 && head.hasLength && head.announced != m_size) {
      m_sizeDiffers = true;
      return Take::Abort;
    }
    if (onOpened) onOpened(m_total);
    return Take::Body;
  } else {
    return Take::NoBody;
  }
  // Started over: the next request fetches the file from byte 0.
  m_offset = m_done = 0;
  m_validator.clear();
  ::unlink(m_infoPath.c_str());
  if (::ftruncate(m_fd, 0) != 0) m_error = errno ? errno : EIO;
  return Take::Abort;
}

bool PartialDownload::Write(std::string_view bytes) {
  int64_t room = INT64_MAX;
  if (m_limit >= 0) room = m_limit - m_done;
  if (m_size >= 0) room = std::min(room, m_size - m_done);
  if (static_cast<int64_t>(bytes.size()) > room) {
    m_tooLong = true;
    bytes = bytes.substr(0, static_cast<size_t>(std::max<int64_t>(room, 0)));
  }
  int error = 0;
  const size_t written = WriteBytes(m_fd, bytes, m_done, &error);
  if (error != 0) m_error = error;
  if (written > 0) {
    m_done += static_cast<int64_t>(written);
    if (onWritten) onWritten(m_done, m_total);
  }
  return m_error == 0 && !m_tooLong;
}

void PartialDownload::End(bool discard) {
  (void)discard;  // the whole file is checked before it counts; a piece is never judged alone
}

int PartialDownload::Check(int sizeError, int hashError) {
  struct stat st {};
  if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return sizeError;
  if ((m_size >= 0 && st.st_size != m_size) || (m_total > 0 && st.st_size != m_total)) return sizeError;
  if (!m_sha256.empty()) {
    std::string hex;
    if (!Sha256File(m_partPath, &hex) || hex != m_sha256) return hashError;
  }
  return 0;
}

bool PartialDownload::Commit() {
  Close();
  if (m_error != 0) return false;
  if (::rename(m_partPath.c_str(), m_target.c_str()) != 0) {
    m_error = errno ? errno : EIO;
    return false;
  }
  ::unlink(m_infoPath.c_str());
  return true;
}

void PartialDownload::Discard() {
  Close();
  ::unlink(m_partPath.c_str());
  ::unlink(m_infoPath.c_str());
  m_offset = m_done = 0;
}

}  // namespace zarn::net
