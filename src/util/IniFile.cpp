#include "util/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/FileWrite.h"
#include "util/Paths.h"

namespace zarn {
namespace {

// One writer at a time inside the process: each write reads the file it replaces.
std::mutex g_writeMutex;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare without regard to the case of single-byte letters; the bytes of a multi-byte
// character compare exactly (a GBK trail byte may look like an ASCII letter).
bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  size_t pos = 0;
  while (pos < a.size()) {
    const size_t len = AnsiCharLength(a, pos);
    if (len == 1) {
      if (AsciiLower(a[pos]) != AsciiLower(b[pos])) return false;
    } else if (a.substr(pos, len) != b.substr(pos, len)) {
      return false;
    }
    pos += len;
  }
  return true;
}

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

// line: one line without its "\n" (a "\r" before it is a blank and trimmed away).
ParsedLine ParseLine(std::string_view line) {
  ParsedLine out;
  const std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';') return out;
  if (text.front() == '[') {
    const size_t close = text.rfind(']');
    if (close == std::string_view::npos) return out;  // a broken header names nothing
    out.kind = LineKind::kSection;
    out.name = Trim(text.substr(1, close - 1));
    return out;
  }
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos) return out;
  out.kind = LineKind::kKey;
  out.name = Trim(text.substr(0, eq));
  out.value = Trim(text.substr(eq + 1));
  return out;
}

std::string_view WithoutBom(std::string_view line, bool first) {
  if (first && line.size() >= 3 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  return line;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Looks the key up in the first section of that name. False when the file, the section or the
// key is missing.
bool FindValue(std::string_view section, std::string_view key, const std::string& path, std::string& value) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string_view wantSection = Trim(section);
  const std::string_view wantKey = Trim(key);
  bool seen = false, inside = false, first = true;
  std::string line;
  while (std::getline(in, line)) {
    const ParsedLine parsed = ParseLine(WithoutBom(line, first));
    first = false;
    if (parsed.kind == LineKind::kSection) {
      if (inside) return false;  // only the first section of the name counts
      if (!seen && NamesEqual(parsed.name, wantSection)) seen = inside = true;
    } else if (parsed.kind == LineKind::kKey && inside && NamesEqual(parsed.name, wantKey)) {
      value.assign(Unquote(parsed.value));
      return true;
    }
  }
  return false;
}

bool HasLineBreak(std::string_view s) {
  return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos ||
         s.find('\0') != std::string_view::npos;
}

// The line end to use for new lines: the file's first one, "\n" for a file that has none yet.
std::string DetectLineEnd(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char previous = 0, c;
  while (in.get(c)) {
    if (c == '\n') return previous == '\r' ? "\r\n" : "\n";
    previous = c;
  }
  return "\n";
}

// The file a write replaces: a symbolic link is followed, so the link stays a link.
std::string ResolveTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved(real);
      std::free(real);
      return resolved;
    }
  }
  return path;
}

// The new content on its way to the target: a temporary file beside it, renamed over it. When
// no file can be made in the folder (a game folder the player cannot write to, holding a
// configuration the player can), an existing target is rewritten in place instead: the content
// is gathered here and written over the old one at the commit.
class TempFile {
 public:
  TempFile(const std::string& target, bool targetExists) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      path_ = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
      // 0666 under the umask, as a newly created file gets.
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    created_ = fd_ >= 0;
    inPlace_ = !created_ && targetExists;
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (created_ && !committed_) ::unlink(path_.c_str());
  }
  bool ok() const { return (fd_ >= 0 || inPlace_) && good_; }
  // The temporary file, or -1 when the target is rewritten in place.
  int fd() const { return fd_; }

  void Write(std::string_view bytes) {
    if (inPlace_) {
      content_.append(bytes);
      return;
    }
    if (good_ && !WriteAll(fd_, bytes)) good_ = false;
  }

  // Makes the content durable and puts it in the target's place.
  bool Commit(const std::string& target) {
    if (!ok()) return false;
    if (inPlace_) return CommitInPlace(target);
    if (::fsync(fd_) != 0) return false;
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) return false;
    if (::rename(path_.c_str(), target.c_str()) != 0) return false;
    committed_ = true;
    // The rename itself is durable once the folder is synced.
    FsyncFolder(DirName(target));
    return true;
  }

 private:
  // Not crash-safe as the rename is, but the only way to save at all here.
  bool CommitInPlace(const std::string& target) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content_) && ::ftruncate(fd, static_cast<off_t>(content_.size())) == 0 &&
              ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    committed_ = ok;
    return ok;
  }

  std::string path_;
  int fd_ = -1;
  bool good_ = true;
  bool created_ = false;
  bool inPlace_ = false;
  std::string content_;  // in place only
  bool committed_ = false;
};

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& path) {
  std::string value;
  if (!FindValue(section, key, path, value)) {
    std::string_view def = defaultValue;
    while (!def.empty() && IsBlank(def.back())) def.remove_suffix(1);
    value.assign(def);
  }
  return CutAnsi(value, kProfileValueMaxBytes);
}

int ProfileTextToInt(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && (IsBlank(text[pos]) || text[pos] == '\n')) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  long long magnitude = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (text[pos] - '0');
  }
  if (negative) return magnitude > static_cast<long long>(INT_MAX) ? INT_MIN : static_cast<int>(-magnitude);
  return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path) {
  std::string value;
  if (!FindValue(section, key, path, value)) return defaultValue;
  return ProfileTextToInt(CutAnsi(value, kProfileValueMaxBytes));
}

bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path) {
  const std::string_view wantSection = Trim(section);
  const std::string_view wantKey = Trim(key);
  // Anything that would end up on another line, or would read back as something else, is
  // refused instead of corrupting the file.
  if (wantSection.empty() || wantKey.empty() || path.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || wantSection.find(']') != std::string_view::npos ||
      wantKey.find('=') != std::string_view::npos || wantKey.front() == ';' || wantKey.front() == '[') {
    DebugOutput("WritePrivateProfileString: refused [" + std::string(section) + "] " + std::string(key));
    return false;
  }

  std::lock_guard lock(g_writeMutex);
  const std::string target = ResolveTarget(path);
  struct stat old;
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return false;

  std::ifstream in;
  if (exists) {
    in.open(target, std::ios::binary);
    if (!in) return false;
  }
  const std::string eol = exists ? DetectLineEnd(target) : "\n";

  TempFile out(target, exists);
  if (!out.ok()) return false;
  if (exists && out.fd() >= 0) {
    ::fchmod(out.fd(), old.st_mode & 07777);
    if (::fchown(out.fd(), old.st_uid, old.st_gid) != 0) {
      // Keeping the owner is a courtesy; a user cannot give files away.
    }
  }

  const std::string keyLine = std::string(wantKey) + "=" + std::string(value);
  bool seen = false, inside = false, done = false, first = true;
  bool lastHadNewline = true;
  // Blank and comment lines after the section's last key: the new key goes before them, so
  // that they stay with whatever follows.
  std::string pending;

  auto emitNewKey = [&] {
    out.Write(keyLine);
    out.Write(eol);
    done = true;
  };

  std::string line;
  while (exists && std::getline(in, line)) {
    const bool hadNewline = !in.eof();
    const ParsedLine parsed = ParseLine(WithoutBom(line, first));
    first = false;
    std::string raw = line;
    if (hadNewline) raw += '\n';

    if (parsed.kind == LineKind::kSection) {
      if (inside && !done) emitNewKey();
      out.Write(pending);
      pending.clear();
      inside = false;
      if (!seen && NamesEqual(parsed.name, wantSection)) seen = inside = true;
      out.Write(raw);
    } else if (inside && !done && parsed.kind == LineKind::kKey) {
      out.Write(pending);
      pending.clear();
      if (NamesEqual(parsed.name, wantKey)) {
        // The key keeps its spelling and its line end; only the value changes.
        std::string replaced = std::string(parsed.name) + "=" + std::string(value);
        if (!line.empty() && line.back() == '\r') replaced += '\r';
        if (hadNewline) replaced += '\n';
        out.Write(replaced);
        done = true;
      } else {
        out.Write(raw);
      }
    } else if (inside && !done) {
      pending += raw;
    } else {
      out.Write(raw);
    }
    lastHadNewline = hadNewline;
  }
  if (exists && in.bad()) return false;

  if (!done) {
    if (inside) {
      // The section ends the file: its key goes after its last key line, before the blank
      // lines and comments that close the file.
      if (pending.empty() && !lastHadNewline) out.Write(eol);
      emitNewKey();
      out.Write(pending);
    } else {
      if (!lastHadNewline) out.Write(eol);
      out.Write("[" + std::string(wantSection) + "]" + eol);
      emitNewKey();
    }
  } else {
    out.Write(pending);
  }
  pending.clear();
  return out.Commit(target);
}

}  // namespace zarn
