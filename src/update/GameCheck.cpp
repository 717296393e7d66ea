#include "update/GameCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tinyxml2.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>

#include "net/Transfer.h"
#include "update/Extract.h"
#include "update/UpdateManifest.h"
#include "util/Paths.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

constexpr size_t kListCap = size_t{64} << 20;

bool ReadSmallFile(const std::string& path, std::string* text) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (!f) return false;
  char buffer[1 << 15];
  size_t n;
  text->clear();
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text->size() <= kListCap)
    text->append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Replaces path with text in one rename, so a half-written list is never kept.
bool WriteWhole(const std::string& path, const std::string& text) {
  if (!MakeSureDirectoryPathExists(path)) return false;
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wbe");
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

struct AnnouncedPackage {
  InstalledPackage package;
  std::string index;  // empty: no list announced
};

// The entries of the installed manifest, as the launcher reads it: the last entry of a key wins.
std::map<std::string, AnnouncedPackage> ReadInstalled(const std::string& manifest) {
  std::map<std::string, AnnouncedPackage> out;
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(manifest.c_str()) != tinyxml2::XML_SUCCESS || !doc.FirstChildElement()) return out;
  for (const tinyxml2::XMLElement* e = doc.FirstChildElement()->FirstChildElement(); e;
       e = e->NextSiblingElement()) {
    const char* key = e->Attribute("key");
    if (!key || !*key) continue;
    AnnouncedPackage& p = out[key];
    p = {};
    p.package.key = key;
    if (const char* sha = e->Attribute("sha256"); sha && IsSha256Hex(sha)) p.package.sha256 = sha;
    if (const char* size = e->Attribute("size")) p.package.size = std::strtoull(size, nullptr, 10);
    if (const char* index = e->Attribute("index")) p.index = index;
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// A list: the kept copy when its hash is the announced one, else fetched from url and kept.
bool ObtainList(const std::string& url, const std::string& kept, const std::string& index, std::string* text,
                std::string* error) {
  if (ReadSmallFile(kept, text) && Sha256Hex(*text) == Lower(index)) return true;
  net::TransferOptions transfer;
  transfer.url = url;
  net::MemorySink sink(kListCap);
  const net::TransferResult result = net::Transfer(transfer).Run(sink);
  if (result.code != CURLE_OK || result.status != 200 || sink.Full()) {
    *error = transfer.url + ": " +
             (result.code != CURLE_OK ? result.errorText : "status " + std::to_string(result.status));
    return false;
  }
  *text = std::move(sink.Body());
  if (Sha256Hex(*text) != Lower(index)) {
    *error = transfer.url + ": its SHA-256 is not the one the manifest announces; refused";
    return false;
  }
  WriteWhole(kept, *text);  // a cache only: the next check fetches again when this fails
  return true;
}

// Hashes every wanted file below dir on the pool and fills result's broken files and counts.
void HashWanted(const std::string& dir, const std::map<std::string, BrokenFile>& wanted,
                const GameCheckOptions& options, GameCheckResult* result) {
  const auto cancelled = [&] { return options.cancel && options.cancel->load(); };
  std::vector<const BrokenFile*> order;
  uint64_t totalBytes = 0;
  for (const auto& [path, entry] : wanted) {
    order.push_back(&entry);
    totalBytes += entry.listed.size;
  }
  std::vector<char> bad(order.size(), 0), missing(order.size(), 0);
  std::atomic<size_t> next{0};
  std::mutex reportMutex;
  uint64_t hashedTotal = 0, lookedAt = 0;
  const unsigned threads =
      options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < order.size();) {
      if (cancelled()) return;
      bool isMissing = false;
      uint64_t hashed = 0;
      const bool ok = FileMatches(dir, order[i]->listed, &isMissing, &hashed, options.cancel);
      bad[i] = !ok;
      missing[i] = isMissing;
      std::lock_guard lock(reportMutex);
      hashedTotal += hashed;
      // A missing file or one of another size is done without reading: the bar still moves on.
      lookedAt += order[i]->listed.size;
      if (options.progress.bytes) options.progress.bytes(lookedAt, totalBytes);
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads && t < order.size(); ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  if (cancelled()) {
    result->cancelled = true;
    return;
  }
  for (size_t i = 0; i < order.size(); ++i) {
    if (!bad[i]) continue;
    BrokenFile broken = *order[i];
    broken.missing = missing[i];
    result->broken.push_back(std::move(broken));
  }
  result->files = order.size();
  result->bytes = hashedTotal;
  result->complete = true;
}

bool IsPlainName(const std::string& name) {
  return IsContainedRelativeName(name) && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos;
}

}  // namespace

std::string ListedPathIn(const std::string& gameDir, const std::string& listedPath) {
  std::string relative = listedPath;
  for (char& c : relative)
    if (c == '\\') c = '/';
  return gameDir + "/" + relative;
}

bool FileMatches(const std::string& gameDir, const ListedFile& listed, bool* missing, uint64_t* hashed,
                 const std::atomic<bool>* cancel) {
  const std::string path = ListedPathIn(gameDir, listed.path);
  *missing = false;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    *missing = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != listed.size) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  static thread_local std::vector<char> buffer(1 << 20);
  Sha256 hash;
  uint64_t total = 0;
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (cancel && cancel->load())) {
      ok = false;
      break;
    }
    if (n == 0) break;
    hash.Update(buffer.data(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
    *hashed += static_cast<uint64_t>(n);
  }
  ::close(fd);
  return ok && total == listed.size && hash.FinalHex() == listed.sha256;
}

GameCheckResult CheckGame(const GameCheckOptions& options) {
  GameCheckResult result;
  const auto cancelled = [&] { return options.cancel && options.cancel->load(); };
  const auto installed = ReadInstalled(InstalledManifestPath(options.gameDir));
  if (installed.empty()) {
    result.errors.push_back(InstalledManifestPath(options.gameDir) + ": no installed package to check");
    return result;
  }
  // path → (package, listed file); packages go in key order, so the highest key wins.
  std::map<std::string, BrokenFile> wanted;
  size_t done = 0;
  for (const auto& [key, announced] : installed) {
    if (cancelled()) {
      result.cancelled = true;
      return result;
    }
    if (announced.index.empty()) {
      result.withoutList.push_back(key);
    } else if (!IsPlainName(key)) {
      result.errors.push_back("package \"" + key + "\": its key names a place outside the list folder");
    } else {
      std::string text, error;
      std::vector<ListedFile> files;
      if (!ObtainList(options.baseUrl + "public/index/" + key + ".lst",
                      options.gameDir + "/index/" + key + ".lst", announced.index, &text, &error)) {
        result.errors.push_back(error);
      } else if (!ParseFileList(text, &files, &error)) {
        result.errors.push_back("list of \"" + key + "\": " + error + "; refused");
      } else {
        result.packages[key] = announced.package;
        for (ListedFile& f : files) {
          std::string normal = ListedPathIn("", f.path).substr(1);
          BrokenFile& entry = wanted[normal];
          entry.package = key;
          entry.listed = std::move(f);
        }
      }
    }
    if (options.progress.packages) options.progress.packages(++done, installed.size());
  }
  // A refused list refuses the whole check: a repair from half the truth is not done.
  if (!result.errors.empty()) return result;

  HashWanted(options.gameDir, wanted, options, &result);
  return result;
}

GameCheckResult CheckListedFolder(const ListedFolder& folder, const GameCheckOptions& options) {
  GameCheckResult result;
  if (!IsPlainName(folder.key)) {
    result.errors.push_back("\"" + folder.key + "\": its name names a place outside the list folder");
    return result;
  }
  std::string text, error;
  std::vector<ListedFile> files;
  if (!ObtainList(folder.listUrl, options.gameDir + "/index/" + folder.key + ".lst", folder.index, &text,
                  &error)) {
    result.errors.push_back(error);
    return result;
  }
  if (!ParseFileList(text, &files, &error)) {
    result.errors.push_back("list of \"" + folder.key + "\": " + error + "; refused");
    return result;
  }
  result.packages[folder.key] = folder.archive;
  std::map<std::string, BrokenFile> wanted;
  for (ListedFile& f : files) {
    BrokenFile& entry = wanted[ListedPathIn("", f.path).substr(1)];
    entry.package = folder.key;
    entry.listed = std::move(f);
  }
  if (options.progress.packages) options.progress.packages(1, 1);
  HashWanted(folder.dir, wanted, options, &result);
  return result;
}

}  // namespace zarn
