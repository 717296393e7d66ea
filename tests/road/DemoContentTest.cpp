// The demo content service serves a whole update that the launcher's own readers and
// extraction accept: the package manifest, a real zip archive for every package made from its
// source folder, and the data list and archive of every demo server that has data of its own.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unzip.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "DemoArchive.h"
#include "DemoServer.h"
#include "support/TestSupport.h"
#include "update/Extract.h"
#include "update/GameCheck.h"
#include "update/UpdateManifest.h"
#include "work/ServerList.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The service on its own thread, at a free port.
class Running {
 public:
  explicit Running(const std::string& content) : server(content) {
    if (server.setupError().empty() && server.Bind(0) > 0) thread_ = std::thread([this] { server.Serve(); });
  }
  ~Running() {
    server.Stop();
    if (thread_.joinable()) thread_.join();
  }
  // The body of a 200 reply, saved at path. False for anything else.
  bool Fetch(const std::string& target, const std::string& path) {
    httplib::Client client(server.BaseUrl());
    const auto res = client.Get(target.c_str());
    if (!res || res->status != 200) return false;
    WriteFile(path, res->body);
    return true;
  }
  demo::DemoServer server;

 private:
  std::thread thread_;
};

// Every file below folder, relative path → bytes.
std::map<std::string, std::string> FilesBelow(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path());
  return files;
}

// The entry names of a zip archive, in archive order.
std::vector<std::string> ZipNames(const std::string& path) {
  std::vector<std::string> names;
  unzFile zip = unzOpen64(path.c_str());
  if (!zip) return names;
  for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    char name[1024];
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    names.push_back(name);
  }
  unzClose(zip);
  return names;
}

// Downloads an archive, unpacks it as the launcher does and compares it with its source folder.
void ExpectArchiveOfFolder(Running& demo, const std::string& target, const std::string& source) {
  SCOPED_TRACE(target);
  TempDir dir;
  ASSERT_TRUE(demo.Fetch(target, dir.file("a.zip")));
  ASSERT_EQ(ExtractArchive(dir.file("a.zip"), dir.file("out")), kExtractOk);
  EXPECT_EQ(FilesBelow(dir.file("out")), FilesBelow(source));
  EXPECT_EQ(ZipNames(dir.file("a.zip")), demo::ArchiveEntryNames(source));
}

TEST(DemoUpdateContent, ServesAWholeUpdate) {
  test::CodeSetGuard utf8("UTF-8");
  const std::string content = ZARN_DEMO_CONTENT;
  Running demo(content);
  ASSERT_EQ(demo.server.setupError(), "");
  TempDir game;

  ASSERT_TRUE(demo.Fetch("/public/update.xml", game.file("update.down")));
  PackageList published;
  LoadPackageList(game.file("update.down"), published);
  ASSERT_GE(published.size(), 3u);
  size_t archives = 0, nested = 0;
  for (const auto& [key, md5] : published) {
    EXPECT_FALSE(md5.empty()) << key;
    const std::string source = content + "/public/zip/" + key;
    if (key.find(".zip") == std::string::npos) {
      // A package that is not an archive is served as it is.
      ASSERT_TRUE(demo.Fetch("/public/zip/" + key, game.file("download/" + key))) << key;
      EXPECT_EQ(ReadFile(game.file("download/" + key)), ReadFile(source));
      continue;
    }
    ++archives;
    ExpectArchiveOfFolder(demo, "/public/zip/" + key, source);
    for (const auto& [name, bytes] : FilesBelow(source))
      nested += std::count(name.begin(), name.end(), '/') >= 2;
  }
  EXPECT_GE(archives, 2u);
  EXPECT_GE(nested, 1u) << "no package with a nested folder";

  // Every server of the demo list with an id of 1 or more has its data list and archive.
  ASSERT_TRUE(demo.Fetch("/serverlist.xml", game.file("temp.down")));
  ServerListState list;
  ASSERT_TRUE(LoadServerList(game.file("temp.down"), true, "", list).loaded);
  size_t withData = 0;
  for (const auto& zone : list.zones) {
    for (const auto& server : zone->servers) {
      if (ServerIdNumber(server->id) < 1) continue;
      ++withData;
      ASSERT_TRUE(
          demo.Fetch("/ClientData/" + server->id + ".md5", game.file("download/" + server->id + ".data")));
      std::string first;
      ASSERT_TRUE(ReadFirstLine(game.file("download/" + server->id + ".data"), first));
      EXPECT_FALSE(first.empty()) << server->id;
      ExpectArchiveOfFolder(demo, "/ClientData/" + server->id + ".zip",
                            content + "/ClientData/" + server->id + ".zip");
    }
  }
  EXPECT_GE(withData, 2u);
}

// The demo announces a per-file list for every package, so the update button's check works
// on a folder the demo installed: whole at first, and a damaged file is found.
TEST(DemoUpdateContent, AnnouncesListsThatTheCheckOfAnInstalledFolderAccepts) {
  test::CodeSetGuard utf8("UTF-8");
  Running demo(ZARN_DEMO_CONTENT);
  ASSERT_EQ(demo.server.setupError(), "");
  TempDir game;
  ASSERT_TRUE(demo.Fetch("/public/update.xml", game.file("update.xml")));
  PackageList published;
  LoadPackageList(game.file("update.xml"), published);
  std::string anyFile;
  for (const auto& [key, version] : published) {
    if (key.find(".zip") == std::string::npos) continue;
    ASSERT_TRUE(demo.Fetch("/public/zip/" + key, game.file("download/" + key)));
    ASSERT_EQ(ExtractArchive(game.file("download/" + key), game.path()), kExtractOk);
    anyFile = demo::ArchiveEntryNames(std::string(ZARN_DEMO_CONTENT) + "/public/zip/" + key).back();
  }

  GameCheckOptions options;
  options.gameDir = game.path();
  options.baseUrl = demo.server.BaseUrl() + "/";
  GameCheckResult check = CheckGame(options);
  EXPECT_TRUE(check.complete) << (check.errors.empty() ? "" : check.errors.front());
  // A package that is not an archive installs no files of its own: nothing lists it.
  EXPECT_EQ(check.withoutList, std::vector<std::string>{"notes.txt"});
  EXPECT_GE(check.files, 5u);
  EXPECT_TRUE(check.broken.empty());

  WriteFile(game.file(anyFile), "damaged");
  check = CheckGame(options);
  ASSERT_EQ(check.broken.size(), 1u);
  EXPECT_EQ(check.broken[0].listed.path, anyFile);
  EXPECT_FALSE(check.broken[0].missing);
}

TEST(DemoUpdateContent, ArchivesAreTheSameEveryTimeAndHoldOnlyTheirFolder) {
  TempDir top;
  WriteFile(top.file("secret.txt"), "outside");
  WriteFile(top.file("content/pkg.zip/b/x.txt"), "x");
  WriteFile(top.file("content/pkg.zip/a.txt"), "a");
  WriteFile(top.file("content/pkg.zip/b/c/empty.dat"), "");
  fs::create_symlink("../../secret.txt", top.file("content/pkg.zip/b/leak.txt"));
  fs::create_directories(top.file("content/pkg.zip/b/hollow"));
  EXPECT_EQ(demo::ArchiveEntryNames(top.file("content/pkg.zip")),
            (std::vector<std::string>{"a.txt", "b/", "b/c/", "b/c/empty.dat", "b/hollow/", "b/x.txt"}));

  std::string first, archive;
  {
    demo::DemoServer one(top.file("content"));
    ASSERT_EQ(one.setupError(), "");
    ASSERT_EQ(one.archives().count("pkg.zip"), 1u);
    archive = one.archives().at("pkg.zip");
    first = ReadFile(archive);
    EXPECT_EQ(ZipNames(archive), demo::ArchiveEntryNames(top.file("content/pkg.zip")));
  }
  EXPECT_FALSE(fs::exists(archive)) << "the service leaves its archives behind";
  // Time stamps of the source files do not matter.
  fs::last_write_time(top.file("content/pkg.zip/a.txt"),
                      fs::file_time_type::clock::now() - std::chrono::hours(50));
  demo::DemoServer two(top.file("content"));
  EXPECT_TRUE(ReadFile(two.archives().at("pkg.zip")) == first);
}

TEST(DemoUpdateContent, ARateLimitSlowsFilesDown) {
  TempDir top;
  WriteFile(top.file("content/big.bin"), std::string(12 * 1024, 'k'));
  Running demo(top.file("content"));
  demo.server.SetRate(24 * 1024);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(demo.Fetch("/big.bin", top.file("got.bin")));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(ReadFile(top.file("got.bin")), std::string(12 * 1024, 'k'));
}

}  // namespace
}  // namespace zarn
