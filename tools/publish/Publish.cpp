#include "Publish.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "Archive.h"
#include "Check.h"
#include "Layout.h"
#include "Lists.h"
#include "Progress.h"
#include "update/UpdateManifest.h"
#include "util/Json.h"
#include "util/Paths.h"
#include "util/Sha256.h"

namespace fs = std::filesystem;

namespace zarn::publish {
namespace {

constexpr char kStagingPrefix[] = ".zarn-publish-";
constexpr char kLockName[] = ".zarn-publish.lock";

uint64_t TotalBytes(const std::vector<SourceFile>& files) {
  uint64_t total = 0;
  for (const SourceFile& f : files) total += f.size;
  return total;
}

// The previous archive may be taken over when its entries are exactly the files, with their sizes.
bool ArchiveHolds(const std::string& archive, const std::vector<SourceFile>& files) {
  std::vector<ArchiveEntry> entries;
  if (!ListArchive(archive, &entries) || entries.size() != files.size()) return false;
  for (size_t i = 0; i < files.size(); ++i)
    if (entries[i].name != files[i].name || entries[i].size != files[i].size) return false;
  return true;
}

// A hard link where the file system has them (the old tree keeps its file until the swap);
// otherwise a copy.
bool TakeOver(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) == 0) return true;
  std::error_code ec;
  fs::copy_file(from, to, ec);
  return !ec && SyncPath(to);
}

bool IsInside(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i)
    if (i == inner.end() || *i != *o) return false;
  return true;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Puts staged in place of target in one step. Afterwards staged holds the old folder (or
// nothing when there was none). False leaves both as they were.
bool Swap(const std::string& staged, const std::string& target, std::string* error) {
  std::error_code ec;
  if (!fs::exists(target, ec)) {
    if (std::rename(staged.c_str(), target.c_str()) == 0) return true;
    *error = target + ": " + std::strerror(errno);
    return false;
  }
  if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    *error = target + ": " + std::strerror(errno);
    return false;
  }
  // A file system without an exchanging rename: the old folder moves aside for a moment.
  const std::string aside = staged + ".old";
  if (std::rename(target.c_str(), aside.c_str()) != 0) {
    *error = target + ": " + std::strerror(errno);
    return false;
  }
  if (std::rename(staged.c_str(), target.c_str()) != 0) {
    *error = target + ": " + std::strerror(errno);
    std::rename(aside.c_str(), target.c_str());
    return false;
  }
  // The old folder goes where an exchange would have put it, to be removed with the rest.
  std::rename(aside.c_str(), staged.c_str());
  return true;
}

class LockFile {
 public:
  explicit LockFile(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    locked_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~LockFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

// The version manifest with "size" and "sha256" of the launcher file set (other members as
// they were), written to temp; false with the reason in *error.
bool AnnounceLauncher(const std::string& manifest, const std::string& launcher, const std::string& temp,
                      std::string* error) {
  std::string body;
  {
    std::FILE* f = std::fopen(manifest.c_str(), "rbe");
    if (!f) {
      *error = manifest + ": cannot be read (write it with \"version\" and \"url\" first)";
      return false;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) body.append(buffer, n);
    std::fclose(f);
  }
  rapidjson::Document doc;
  doc.Parse<kJsonParseFlags>(body.c_str(), body.size());
  if (doc.HasParseError() || !doc.IsObject()) {
    *error = manifest + ": not a JSON object";
    return false;
  }
  std::string hex;
  uint64_t size = 0;
  if (!Sha256File(launcher, &hex, &size)) {
    *error = launcher + ": cannot be read";
    return false;
  }
  auto& alloc = doc.GetAllocator();
  doc.RemoveMember("size");
  doc.RemoveMember("sha256");
  doc.AddMember("size", rapidjson::Value(static_cast<uint64_t>(size)), alloc);
  doc.AddMember("sha256", rapidjson::Value(hex.c_str(), static_cast<rapidjson::SizeType>(hex.size()), alloc),
                alloc);
  rapidjson::StringBuffer out;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(out);
  writer.SetIndent(' ', 2);
  doc.Accept(writer);
  if (!WriteFileDurably(temp, std::string(out.GetString(), out.GetSize()) + "\n")) {
    *error = temp + ": cannot be written";
    return false;
  }
  return true;
}

// Size and SHA-256 of a file just written, as announced.
bool Announce(const std::string& path, uint64_t* size, std::string* hex, std::vector<std::string>* errors) {
  if (Sha256File(path, hex, size)) return true;
  errors->push_back(path + ": cannot be read back");
  return false;
}

struct Staged {
  std::string path;
  ~Staged() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

}  // namespace

bool Publish(const PublishOptions& options, PublishReport* report, std::vector<std::string>* errors) {
  std::error_code ec;
  Layout layout;
  if (!ReadLayout(options.layoutPath, &layout, errors)) return false;

  fs::create_directories(options.outRoot, ec);
  if (!fs::is_directory(options.outRoot, ec)) {
    errors->push_back(options.outRoot + ": cannot be created");
    return false;
  }
  const fs::path game = fs::weakly_canonical(options.gameFolder, ec);
  const fs::path out = fs::weakly_canonical(options.outRoot, ec);
  if (IsInside(out, game) || IsInside(game, out)) {
    errors->push_back("the game folder and the content root must not lie inside one another");
    return false;
  }
  const std::string root = out.string();
  LockFile lock(root + "/" + kLockName);
  if (!lock.locked()) {
    errors->push_back(root + ": another zarn-publish is writing this tree");
    return false;
  }
  // Leftovers of a run that was killed half-way; the lock says none is running.
  for (const auto& entry : fs::directory_iterator(root, ec))
    if (entry.path().filename().string().rfind(kStagingPrefix, 0) == 0) fs::remove_all(entry.path(), ec);

  Assignment assignment;
  if (!AssignFiles(options.gameFolder, layout, &assignment, errors)) return false;
  report->excluded = assignment.excluded;

  PackageList previous;
  LoadPackageList(root + "/public/update.xml", previous);

  Staged staged;
  std::string pattern = root + "/" + kStagingPrefix + "XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    errors->push_back(root + ": cannot create a working folder: " + std::strerror(errno));
    return false;
  }
  staged.path = pattern;
  const std::string stagedPublic = staged.path + "/public";
  const std::string stagedData = staged.path + "/ClientData";
  std::error_code zipEc, dataEc;
  fs::create_directories(stagedPublic + "/zip", zipEc);
  if (!zipEc) fs::create_directories(stagedPublic + "/index", zipEc);
  fs::create_directories(stagedData, dataEc);
  if (zipEc || dataEc) {
    errors->push_back(staged.path + ": " + (zipEc ? zipEc : dataEc).message());
    return false;
  }

  Progress progress(stderr, options.progress, options.progressInPlace);
  // Hashes the files, then takes the previous archive over or packs a new one.
  auto produce = [&](const std::string& label, const std::vector<SourceFile>& files,
                     const std::string& oldVersion, const std::string& oldArchive,
                     const std::string& newArchive, PublishedItem* item) {
    item->files = files.size();
    item->bytes = TotalBytes(files);
    std::string error;
    progress.Begin("reading " + label, item->bytes, files.size());
    if (!ContentVersion(files, &item->version, &error,
                        [&](uint64_t b, size_t f) { progress.Update(b, f); })) {
      progress.End();
      errors->push_back(error);
      return false;
    }
    progress.End();
    if (!oldVersion.empty() && oldVersion == item->version && ArchiveHolds(oldArchive, files) &&
        TakeOver(oldArchive, newArchive)) {
      item->state = PublishedItem::kUnchanged;
      return true;
    }
    item->state = oldVersion.empty() ? PublishedItem::kNew : PublishedItem::kChanged;
    progress.Begin("packing " + label, item->bytes, files.size());
    const bool ok = WriteArchive(newArchive, files, item->version, &error,
                                 [&](uint64_t b, size_t f) { progress.Update(b, f); });
    progress.End();
    if (!ok) errors->push_back(error);
    return ok;
  };

  std::string manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n";
  for (const PackagePlan& package : assignment.packages) {
    PublishedItem item;
    item.name = package.key;
    const auto old = previous.find(package.key);
    if (!produce(package.key, package.files, old == previous.end() ? "" : old->second,
                 root + "/public/zip/" + package.key, stagedPublic + "/zip/" + package.key, &item))
      return false;
    uint64_t size = 0;
    std::string hex;
    if (!Announce(stagedPublic + "/zip/" + package.key, &size, &hex, errors)) return false;
    std::string indexHex, listError;
    if (!WriteFileListOf(stagedPublic + "/zip/" + package.key,
                         stagedPublic + "/index/" + package.key + ".lst", &indexHex, &listError)) {
      errors->push_back(listError);
      return false;
    }
    manifest += "  <file key=\"" + XmlEscape(package.key) + "\" md5=\"" + XmlEscape(item.version) +
                "\" size=\"" + std::to_string(size) + "\" sha256=\"" + hex + "\" index=\"" + indexHex +
                "\"/>\n";
    report->items.push_back(item);
  }
  manifest += "</update>\n";
  if (!WriteFileDurably(stagedPublic + "/update.xml", manifest)) {
    errors->push_back(stagedPublic + "/update.xml: cannot be written");
    return false;
  }

  for (const ServerPlan& server : assignment.servers) {
    PublishedItem item;
    item.server = true;
    item.name = server.id;
    std::string oldVersion;
    if (!ReadFirstLine(root + "/ClientData/" + server.id + ".md5", oldVersion)) oldVersion.clear();
    if (!produce("server " + server.id, server.files, oldVersion, root + "/ClientData/" + server.id + ".zip",
                 stagedData + "/" + server.id + ".zip", &item))
      return false;
    uint64_t size = 0;
    std::string hex;
    if (!Announce(stagedData + "/" + server.id + ".zip", &size, &hex, errors)) return false;
    std::string indexHex, listError;
    if (!WriteFileListOf(stagedData + "/" + server.id + ".zip", stagedData + "/" + server.id + ".lst",
                         &indexHex, &listError)) {
      errors->push_back(listError);
      return false;
    }
    if (!WriteFileDurably(stagedData + "/" + server.id + ".md5", item.version + "\nsize " +
                                                                     std::to_string(size) + "\nsha256 " +
                                                                     hex + "\nindex " + indexHex + "\n")) {
      errors->push_back(stagedData + "/" + server.id + ".md5: cannot be written");
      return false;
    }
    report->items.push_back(item);
  }
  std::string error;
  if (options.secretKey) {
    if (!SignFile(*options.secretKey, stagedPublic + "/update.xml", TrustedCommentFor("public/update.xml"),
                  false, &error)) {
      errors->push_back(error);
      return false;
    }
    for (const ServerPlan& server : assignment.servers)
      if (!SignFile(*options.secretKey, stagedData + "/" + server.id + ".md5",
                    TrustedCommentFor("ClientData/" + server.id + ".md5"), false, &error)) {
        errors->push_back(error);
        return false;
      }
  }
  for (const std::string& folder : {stagedPublic + "/zip", stagedPublic, stagedData, staged.path})
    SyncPath(folder);

  // The version manifest is prepared beside itself and put in place after the tree.
  const std::string versionManifest = root + "/" + kVersionManifestTreePath;
  const std::string versionTemp = versionManifest + ".zarn-publish";
  const bool hasVersionManifest = fs::is_regular_file(versionManifest, ec);
  const std::string publicKey = options.secretKey ? PublicKeyText(options.secretKey->Public()) : "";
  struct TempFiles {
    std::string path;
    ~TempFiles() {
      std::remove(path.c_str());
      std::remove(SignaturePathFor(path).c_str());
    }
  } versionTempFiles{versionTemp};
  Problems problems;
  if (!options.launcherFile.empty() || (options.secretKey && hasVersionManifest)) {
    if (!options.launcherFile.empty()) {
      if (!AnnounceLauncher(versionManifest, options.launcherFile, versionTemp, &error)) {
        errors->push_back(error);
        return false;
      }
    } else {
      fs::copy_file(versionManifest, versionTemp, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        errors->push_back(versionTemp + ": " + ec.message());
        return false;
      }
    }
    if (options.secretKey && !SignFile(*options.secretKey, versionTemp,
                                       TrustedCommentFor(kVersionManifestTreePath), false, &error)) {
      errors->push_back(error);
      return false;
    }
    Problems manifestProblems;
    CheckVersionManifest(versionTemp, manifestProblems, publicKey, options.launcherFile);
    for (const Problem& p : manifestProblems.list())
      problems.Add(p.file == versionTemp ? versionManifest : p.file, p.line, p.text);
  }

  // What goes out must be what the launcher accepts.
  const std::set<std::string> ids =
      CheckContentTree(staged.path, TreeCheckOptions{false, publicKey}, problems);
  if (ids.size() != assignment.servers.size())
    problems.Add(stagedData, 1, "holds other server data than the layout names");
  if (!problems.empty()) {
    for (const Problem& p : problems.list())
      errors->push_back(p.file + ":" + std::to_string(p.line) + ": " + p.text);
    return false;
  }

  if (!Swap(stagedData, root + "/ClientData", &error)) {
    errors->push_back("cannot put the new server data in place: " + error);
    return false;
  }
  if (!Swap(stagedPublic, root + "/public", &error)) {
    errors->push_back("cannot put the new packages in place: " + error);
    std::string undo;
    if (fs::exists(stagedData, ec))
      Swap(stagedData, root + "/ClientData", &undo);
    else
      fs::rename(root + "/ClientData", stagedData, ec);
    return false;
  }
  if (fs::exists(versionTemp, ec)) {
    // The signature first: a launcher that reads the manifest between the two renames finds
    // the new signature on the old manifest and retries, never a new manifest taken unsigned.
    if ((options.secretKey && std::rename(SignaturePathFor(versionTemp).c_str(),
                                          SignaturePathFor(versionManifest).c_str()) != 0) ||
        std::rename(versionTemp.c_str(), versionManifest.c_str()) != 0) {
      errors->push_back(versionManifest + ": " + std::strerror(errno) +
                        " (the packages and server data are published; the version manifest is as it was)");
      return false;
    }
    SyncPath(DirName(versionManifest));
  }
  SyncPath(root);
  return true;
}

}  // namespace zarn::publish
