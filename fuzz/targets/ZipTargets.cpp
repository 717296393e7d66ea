// Update archives: whole archives as downloaded, and archives built around hostile entry names.
#include <zip.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "update/Extract.h"

namespace zarn::fuzz {
namespace {

// The destination sits a few folders below a watched root, so that an entry climbing out of it
// lands somewhere the check sees.
constexpr char kWatched[] = "zip/root";
constexpr char kDestination[] = "zip/root/a/b/c/dest";

std::string PrepareDestination() {
  FreshFolder(kWatched);
  return FreshFolder(kDestination);
}

void CheckNothingOutside(const std::string& context) {
  const std::string root = ScratchPath(kWatched);
  const std::string inside = "a/b/c/dest";
  for (const std::string& entry : EntriesBelow(root)) {
    const bool onTheWay = entry == "a" || entry == "a/b" || entry == "a/b/c";
    const bool inDestination = entry == inside || entry.compare(0, inside.size() + 1, inside + "/") == 0;
    ZARN_FUZZ_CHECK(onTheWay || inDestination, context + " wrote " + entry + " outside the destination");
  }
}

int Extract(const std::string& archive, const std::string& dest) {
  std::atomic<int32_t> total{-1}, index{-1};
  ExtractOptions options;
  options.total = &total;
  options.index = &index;
  options.restAfterFile = std::chrono::microseconds(0);
  const int result = ExtractArchive(archive, dest, options);
  ZARN_FUZZ_CHECK(result == kExtractOk || result == kExtractNotOpened || result == kExtractNotCreatable ||
                      result == kExtractEntryFailed,
                  "result " + std::to_string(result));
  if (result != kExtractNotOpened) {
    ZARN_FUZZ_CHECK(total >= 0 && index >= 0 && (total == 0 || index < total),
                    "progress " + std::to_string(index) + " of " + std::to_string(total));
  }
  ZARN_FUZZ_CHECK(Exists(archive), "the archive was removed");
  return result;
}

struct NamedEntry {
  std::string name;
  std::string data;
};

bool WriteArchive(const std::string& path, const std::vector<NamedEntry>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return false;
  bool ok = true;
  for (const NamedEntry& entry : entries) {
    zip_fileinfo info{};
    ok = zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                               Z_DEFAULT_COMPRESSION, 0) == ZIP_OK &&
         zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) == ZIP_OK &&
         zipCloseFileInZip(zip) == ZIP_OK;
    if (!ok) break;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

}  // namespace

void FuzzZipArchive(const uint8_t* data, size_t size) {
  const std::string dest = PrepareDestination();
  const std::string archive = ScratchPath("zip/package.zip");
  WriteBytes(archive, AsText(data, size));
  const int result = Extract(archive, dest);
  if (result == kExtractNotOpened)
    ZARN_FUZZ_CHECK(EntriesBelow(dest).empty(), "an archive that did not open wrote files");
  CheckNothingOutside("an archive");
}

// Up to four entry names, one a line; entry i holds the text "entry <i>".
void FuzzZipEntryName(const uint8_t* data, size_t size) {
  std::vector<NamedEntry> entries;
  const std::string_view text = AsText(data, size);
  for (size_t start = 0; start <= text.size() && entries.size() < 4;) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string name(text.substr(start, end - start));
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));  // a C string
    entries.push_back({name, "entry " + std::to_string(entries.size())});
    start = end + 1;
  }

  bool anyRefused = false;
  for (const NamedEntry& entry : entries) {
    // Refusing too much is allowed; letting a name out is not.
    const bool leaves = NameLeavesFolder(entry.name);
    const bool contained = IsContainedRelativeName(entry.name);
    ZARN_FUZZ_CHECK(!leaves || !contained,
                    "\"" + entry.name + "\" leaves the folder but counts as contained");
    anyRefused |= !contained;
  }

  const std::string dest = PrepareDestination();
  const std::string archive = ScratchPath("zip/names.zip");
  if (!WriteArchive(archive, entries)) return;
  const int result = Extract(archive, dest);
  CheckNothingOutside("entry names");
  if (anyRefused) {
    ZARN_FUZZ_CHECK(result == kExtractNotCreatable,
                    "an archive with a refused name gave " + std::to_string(result));
    ZARN_FUZZ_CHECK(EntriesBelow(dest).empty(), "an archive with a refused name wrote files");
  }
  if (result != kExtractOk) return;

  // Every file entry not overwritten by a later one of the same place holds its own bytes.
  namespace fs = std::filesystem;
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string name = entries[i].name;
    for (char& c : name)
      if (c == '\\') c = '/';
    if (name.empty() || name.back() == '/') continue;
    const fs::path place = fs::path(dest + "/" + name).lexically_normal();
    bool overwritten = false;
    for (size_t j = i + 1; j < entries.size(); ++j) {
      std::string later = entries[j].name;
      for (char& c : later)
        if (c == '\\') c = '/';
      overwritten |= fs::path(dest + "/" + later).lexically_normal() == place;
    }
    if (!overwritten)
      ZARN_FUZZ_CHECK(ReadBytes(place.string()) == entries[i].data,
                      "entry \"" + entries[i].name + "\" not unpacked");
  }
}

}  // namespace zarn::fuzz
