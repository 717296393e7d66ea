#include "update/UpdateJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/Debug.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

constexpr std::string_view kHeader = "zarn update journal 1\n";
// A manifest of a hundred thousand packages stays far below this; anything larger is not ours.
constexpr off_t kMaxJournalBytes = 16 << 20;

std::string PartPath(const std::string& launcherDir) { return JournalPath(launcherDir) + ".part"; }

// Keys and version texts are bytes of any value (ANSI, blanks, line ends): every byte outside
// the printable ASCII range, the blank and "%" are written as "%XX".
std::string Escape(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The inverse of Escape; none for a text that Escape cannot have written.
std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c <= 0x20 || c >= 0x7F) return std::nullopt;
    if (c != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const auto byte = static_cast<unsigned char>(hi * 16 + lo);
    if (byte > 0x20 && byte < 0x7F && byte != '%') return std::nullopt;  // not escaped by Escape
    out += static_cast<char>(byte);
    i += 2;
  }
  return out;
}

bool IsLowerHex64(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

// Splits off the next line (without its "\n"); false when no "\n" follows.
bool NextLine(std::string_view& rest, std::string_view& line) {
  const size_t end = rest.find('\n');
  if (end == std::string_view::npos) return false;
  line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  return true;
}

int Fsync(int fd) { return ::fsync(fd) == 0 ? 0 : (errno ? errno : EIO); }

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string JournalPath(const std::string& launcherDir) { return launcherDir + "/update.journal"; }

std::optional<JournalIdentity> RoundIdentity(const std::string& launcherDir) {
  JournalIdentity id;
  if (!Sha256File(DownloadedManifestPath(launcherDir), &id.published)) return std::nullopt;
  if (!Sha256File(InstalledManifestPath(launcherDir), &id.installed)) id.installed = "-";
  return id;
}

std::string FormatJournal(const UpdateJournal& journal) {
  std::string text(kHeader);
  text += "installed " + journal.identity.installed + "\n";
  text += "published " + journal.identity.published + "\n";
  for (const auto& [key, version] : journal.finished)
    text += "package " + Escape(key) + " " + Escape(version) + "\n";
  return text + "end " + Sha256Hex(text) + "\n";
}

std::optional<UpdateJournal> ParseJournal(std::string_view text) {
  // The last line seals everything before it: a journal edited by hand, cut short or mixed
  // with other bytes does not match its seal.
  if (text.size() < 69 || text.back() != '\n') return std::nullopt;
  const size_t sealAt = text.size() - 69;  // "end " + 64 hex digits + "\n"
  if (text.substr(sealAt, 4) != "end " || (sealAt > 0 && text[sealAt - 1] != '\n')) return std::nullopt;
  const std::string_view body = text.substr(0, sealAt);
  if (Sha256Hex(body) != text.substr(sealAt + 4, 64)) return std::nullopt;

  if (body.substr(0, kHeader.size()) != kHeader) return std::nullopt;
  std::string_view rest = body.substr(kHeader.size()), line;
  UpdateJournal journal;
  if (!NextLine(rest, line) || line.substr(0, 10) != "installed ") return std::nullopt;
  journal.identity.installed = std::string(line.substr(10));
  if (journal.identity.installed != "-" && !IsLowerHex64(journal.identity.installed)) return std::nullopt;
  if (!NextLine(rest, line) || line.substr(0, 10) != "published ") return std::nullopt;
  journal.identity.published = std::string(line.substr(10));
  if (!IsLowerHex64(journal.identity.published)) return std::nullopt;
  while (NextLine(rest, line)) {
    if (line.substr(0, 8) != "package ") return std::nullopt;
    line.remove_prefix(8);
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    const std::optional<std::string> key = Unescape(line.substr(0, blank));
    const std::optional<std::string> version = Unescape(line.substr(blank + 1));
    if (!key || key->empty() || !version) return std::nullopt;
    if (!journal.finished.emplace(*key, *version).second) return std::nullopt;  // never written twice
  }
  if (!rest.empty()) return std::nullopt;
  return journal;
}

std::optional<UpdateJournal> ReadJournal(const std::string& launcherDir) {
  const std::string path = JournalPath(launcherDir);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::string text;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxJournalBytes;
  if (ok) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (ok && done < text.size()) {
      const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  if (!ok) {
    DebugOutput("update journal ignored: cannot read " + path);
    return std::nullopt;
  }
  std::optional<UpdateJournal> journal = ParseJournal(text);
  if (!journal) DebugOutput("update journal ignored: not one this launcher wrote: " + path);
  return journal;
}

bool WriteJournal(const std::string& launcherDir, const UpdateJournal& journal) {
  const std::string part = PartPath(launcherDir), path = JournalPath(launcherDir);
  // A link or anything else at the temporary name goes first, so that the write below lands
  // in a new file of the game folder and nowhere else.
  if (::unlink(part.c_str()) != 0 && errno != ENOENT) {
    DebugOutput("update journal: cannot remove " + part + ": " + std::strerror(errno));
    return false;
  }
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    DebugOutput("update journal: cannot create " + part + ": " + std::strerror(errno));
    return false;
  }
  // The unpacked files first: the journal must never claim what a power loss could take back.
  bool ok = ::syncfs(fd) == 0;
  ok = ok && WriteAll(fd, FormatJournal(journal)) && Fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  ok = ok && std::rename(part.c_str(), path.c_str()) == 0;
  if (!ok) {
    DebugOutput("update journal: cannot write " + path + ": " + std::strerror(errno));
    ::unlink(part.c_str());
    return false;
  }
  const int dir = ::open(launcherDir.empty() ? "/" : launcherDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  ok = Fsync(dir) == 0;
  ::close(dir);
  return ok;
}

bool RemoveJournal(const std::string& launcherDir) {
  bool ok = true;
  for (const std::string& path : {JournalPath(launcherDir), PartPath(launcherDir)}) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      DebugOutput("cannot remove the update journal " + path + ": " + std::strerror(errno));
      ok = false;
    }
  }
  return ok;
}

PackageList TakeFinished(PackageList& chosen, const std::optional<UpdateJournal>& journal,
                         const JournalIdentity& round) {
  PackageList taken;
  if (!journal || !(journal->identity == round)) return taken;
  for (auto it = chosen.begin(); it != chosen.end();) {
    const auto done = journal->finished.find(it->first);
    if (done != journal->finished.end() && done->second == it->second) {
      taken.insert(*it);
      it = chosen.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

}  // namespace zarn
