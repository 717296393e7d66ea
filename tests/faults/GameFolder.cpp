#include "GameFolder.h"

#include <filesystem>
#include <stdexcept>

#include "support/TestSupport.h"

namespace zarn::test {

namespace fs = std::filesystem;

std::string TextBytes(size_t size, unsigned seed) {
  std::string s;
  s.reserve(size);
  for (unsigned line = 0; s.size() < size; ++line)
    s += "line " + std::to_string(line) + " of file " + std::to_string(seed) + "\n";
  s.resize(size);
  return s;
}

std::string ManifestXml(const std::vector<Package>& packages) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update>\n";
  for (const Package& p : packages) xml += "  <file key=\"" + p.key + "\" md5=\"" + p.md5 + "\"/>\n";
  return xml + "</update>\n";
}

std::string ZipBytes(const std::vector<ZipEntry>& entries) {
  TempDir dir;
  const std::string path = dir.file("p.zip");
  WriteZip(path, entries);
  return ReadFile(path);
}

void Publish(FaultServer& server, const std::vector<Package>& packages) {
  server.Serve("/public/update.xml", ManifestXml(packages));
  for (const Package& p : packages) server.Serve("/public/zip/" + p.key, ZipBytes(p.entries));
}

void InstallPackages(const std::string& gameDir, const std::vector<Package>& packages) {
  for (const Package& p : packages)
    for (const ZipEntry& e : p.entries)
      if (!e.name.empty() && e.name.back() != '/') WriteFile(gameDir + "/" + e.name, e.data);
  WriteFile(gameDir + "/update.xml", ManifestXml(packages));
}

bool IsUnpacked(const std::string& gameDir, const Package& package) {
  for (const ZipEntry& e : package.entries) {
    if (e.name.empty() || e.name.back() == '/') continue;
    const std::string path = gameDir + "/" + e.name;
    if (!Exists(path) || ReadFile(path) != e.data) return false;
  }
  return true;
}

std::map<std::string, std::string> Snapshot(const std::string& root, const std::string& except) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (!except.empty() && (rel == except || rel.rfind(except + "/", 0) == 0)) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory(ec))
      out[rel + "/"] = "";
    else
      out[rel] = ReadFile(it->path().string());
  }
  return out;
}

GameFolder::GameFolder(const std::string& parentDir) : parent(parentDir), dir(parentDir + "/Kelmar") {
  fs::create_directories(dir);
  WriteFile(parent + "/player-notes.txt", "not the launcher's");
  AddPlayerFiles();
}

void GameFolder::AddPlayerFiles() const {
  WriteFile(dir + "/ClientConfig.cfg", "[GameSetup]\r\nHuaWeiCDN=0\r\n");
  WriteFile(dir + "/screenshots/shot1.png", "the player's own file");
}

}  // namespace zarn::test
