#include "FuzzSupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "FuzzTargets.h"
#include "util/CodePage.h"

namespace zarn::fuzz {
namespace {

namespace fs = std::filesystem;

void AbortOnFailure(const std::string& message) {
  std::fprintf(stderr, "broken invariant: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

CheckFailureHandler g_handler = AbortOnFailure;

std::string MakeScratchDir() {
  std::string parent;
  if (const char* chosen = ::getenv("ZARN_FUZZ_SCRATCH"); chosen && *chosen)
    parent = chosen;
  else if (::access("/dev/shm", W_OK) == 0)
    parent = "/dev/shm";
  else
    parent = fs::temp_directory_path().string();
  std::string pattern = parent + "/zarn-fuzz-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("zarn fuzz: cannot create the scratch folder");
    std::abort();
  }
  return pattern;
}

// Never destroyed, so the removal at exit can still read it.
const std::string* g_scratch = nullptr;

void RemoveScratch() {
  std::error_code ec;
  fs::remove_all(*g_scratch, ec);
}

const std::string& Scratch() {
  static const bool made = [] {
    g_scratch = new std::string(MakeScratchDir());
    std::atexit(RemoveScratch);
    return true;
  }();
  (void)made;
  return *g_scratch;
}

}  // namespace

void SetCheckFailureHandler(CheckFailureHandler handler) { g_handler = handler ? handler : AbortOnFailure; }

void ReportCheckFailure(const std::string& message) { g_handler(message); }

const std::string& ScratchDir() { return Scratch(); }

std::string ScratchPath(const std::string& relative) { return Scratch() + "/" + relative; }

std::string FreshFolder(const std::string& relative) {
  const std::string path = ScratchPath(relative);
  std::error_code ec;
  fs::remove_all(path, ec);
  fs::create_directories(path, ec);
  if (ec) ReportCheckFailure("cannot create scratch folder " + path + ": " + ec.message());
  return path;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ReportCheckFailure("cannot write scratch file " + path);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

std::vector<std::string> EntriesBelow(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
    out.push_back(fs::relative(it->path(), root).string());
  return out;
}

bool NameLeavesFolder(std::string_view name) {
  if (name.empty()) return false;
  if (name.front() == '/' || name.front() == '\\') return true;
  long depth = 0;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return true;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return false;
}

void UseCodeSet(const char* name) { SetAnsiCodeSet(name ? name : ""); }

const std::vector<Target>& AllTargets() {
  static const std::vector<Target> targets = {
      {"layout", FuzzLayout},
      {"version_manifest", FuzzVersionManifest},
      {"login_info", FuzzLoginInfo},
      {"server_list", FuzzServerList},
      {"package_manifest", FuzzPackageManifest},
      {"register_reply", FuzzRegisterReply},
      {"ini_file", FuzzIniFile},
      {"zip_archive", FuzzZipArchive},
      {"zip_entry_name", FuzzZipEntryName},
  };
  return targets;
}

const Target* FindTarget(std::string_view name) {
  for (const Target& target : AllTargets())
    if (name == target.name) return &target;
  return nullptr;
}

}  // namespace zarn::fuzz
