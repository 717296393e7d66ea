#include "repair/RepairSupport.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unzip.h>

#include <fstream>
#include <sstream>

#include "net/NetTestSupport.h"

namespace zarn::test {

PublishedGame PublishGame(const TempDir& dir, int count, size_t fileSize, std::string* error) {
  PublishedGame game;
  game.master = dir.file("master");
  game.files["bin/game"] = NoiseBytes(fileSize * 3, 1);
  game.files["bin/lib.so"] = NoiseBytes(fileSize / 2, 2);
  for (int i = 0; i < count; ++i)
    game.files["data/d" + std::to_string(i / 10) + "/f" + std::to_string(i) + ".bin"] =
        NoiseBytes(fileSize + static_cast<size_t>(i) * 13, 100 + static_cast<unsigned>(i));
  game.files["data/empty.txt"] = "";
  for (const auto& [name, bytes] : game.files) WriteFile(game.master + "/" + name, bytes);
  WriteFile(game.master + "/servers/12/zone.cfg", "zone 12");
  WriteFile(dir.file("layout.json"), R"({
    "packages": [{"key": "bin.zip", "files": ["bin/"]}],
    "default": "data.zip",
    "servers": [{"id": "12", "folder": "servers/12"}]})");
  const ToolRun run = RunPublish(
      {"--from", game.master, "--layout", dir.file("layout.json"), "--out", dir.file("content")}, dir.path());
  if (run.status != 0) {
    *error = run.err;
    return game;
  }
  game.content = dir.file("content");
  return game;
}

void InstallGame(const PublishedGame& game, const std::string& player) {
  for (const auto& [name, bytes] : game.files) WriteFile(player + "/" + name, bytes);
  WriteFile(player + "/update.xml", ReadFile(game.content + "/public/update.xml"));
  WriteFile(player + "/ClientConfig.cfg", "[GameSetup]\nHuaWeiCDN=0\n");
  WriteFile(player + "/saves/slot1.sav", "the player's save");
}

uint64_t CompressedSize(const std::string& archive, const std::string& entry) {
  unzFile zip = unzOpen64(archive.c_str());
  if (!zip) return 0;
  uint64_t size = 0;
  if (unzLocateFile(zip, entry.c_str(), 1) == UNZ_OK) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK)
      size = info.compressed_size;
  }
  unzClose(zip);
  return size;
}

Nginx::Nginx(const std::string& root, const std::string& scratch) : scratch_(scratch) {
  port_ = UnusedPort();
  WriteFile(scratch + "/nginx.conf",
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + scratch + "/nginx.pid;\n" +
                "error_log " + scratch + "/error.log;\nevents { worker_connections 64; }\nhttp {\n" +
                "  log_format sent '$uri $status $body_bytes_sent';\n" + "  access_log " + scratch +
                "/access.log sent;\n" + "  client_body_temp_path " + scratch + ";\n  proxy_temp_path " +
                scratch + ";\n" + "  fastcgi_temp_path " + scratch + ";\n  uwsgi_temp_path " + scratch +
                ";\n" + "  scgi_temp_path " + scratch + ";\n" + "  server {\n    listen 127.0.0.1:" +
                std::to_string(port_) + ";\n    root " + root + ";\n  }\n}\n");
  const std::string conf = scratch + "/nginx.conf";
  std::vector<std::string> args{ZARN_NGINX, "-e", scratch + "/error.log", "-p", scratch, "-c", conf};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, ZARN_NGINX, nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = 0;
    return;
  }
  // Ready when it answers.
  httplib::Client client("127.0.0.1", port_);
  if (!WaitFor([&] { return static_cast<bool>(client.Head("/")); })) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
}

Nginx::~Nginx() {
  if (pid_ <= 0) return;
  kill(pid_, SIGQUIT);
  waitpid(pid_, nullptr, 0);
}

std::string Nginx::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

uint64_t Nginx::BodyBytesSent(const std::string& prefix) {
  std::ifstream log(scratch_ + "/access.log");
  uint64_t total = 0;
  std::string uri, status;
  uint64_t bytes = 0;
  while (log >> uri >> status >> bytes)
    if (uri.rfind(prefix, 0) == 0) total += bytes;
  return total;
}

}  // namespace zarn::test
