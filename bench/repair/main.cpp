// Check: 1 GiB in 2,000 files, warm page cache, CheckGame next to "sha256sum -c" on the same
// list. Repair: 3 damaged files of a 256 MiB package of 2,000 files served by nginx; the bytes
// fetched next to the three entries' compressed sizes.
// Ends with "ROW" lines for the summary table.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "update/FileList.h"
#include "update/GameCheck.h"
#include "update/Repair.h"
#include "util/Paths.h"
#include "util/Sha256.h"

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string Noise(size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t v = rng();
    std::memcpy(&bytes[i], &v, 8);
  }
  return bytes;
}

// 1 GiB in 2,000 files.
constexpr size_t kCheckFileSize = (size_t{1} << 30) / 2000 + 1;

std::string Name(int i) { return "data/d" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".bin"; }

// A game folder of `count` files of `size` bytes with its list kept as index/data.zip.lst and
// an installed manifest announcing it; the list's lines also go to a sha256sum file.
std::vector<zarn::ListedFile> MakeGame(const std::string& game, int count, size_t size, unsigned seed) {
  std::vector<zarn::ListedFile> files;
  std::string sums;
  for (int i = 0; i < count; ++i) {
    // Half the bytes compress, half do not, as game data mixes both.
    std::string bytes = Noise(size / 2, seed * 100000 + static_cast<unsigned>(i));
    bytes += std::string(size - bytes.size(), static_cast<char>('a' + i % 26));
    zarn::test::WriteFile(game + "/" + Name(i), bytes);
    files.push_back({zarn::Sha256Hex(bytes), bytes.size(), Name(i)});
    sums += files.back().sha256 + "  " + Name(i) + "\n";
  }
  const std::string list = zarn::FileListText(files);
  zarn::test::WriteFile(game + "/index/data.zip.lst", list);
  zarn::test::WriteFile(game + "/update.xml", "<update>\n  <file key=\"data.zip\" md5=\"1\" index=\"" +
                                                  zarn::Sha256Hex(list) + "\"/>\n</update>\n");
  zarn::test::WriteFile(game + "/sums.txt", sums);
  return files;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Spawn(const std::vector<std::string>& args, const std::string& cwd, bool quiet,
          pid_t* started = nullptr) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const std::string here = fs::current_path().string();
  fs::current_path(cwd);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  fs::current_path(here);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  if (started) {
    *started = pid;
    return 0;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Zip(const std::string& game, const std::vector<zarn::ListedFile>& files, const std::string& archive) {
  zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return false;
  for (const zarn::ListedFile& f : files) {
    std::FILE* in = std::fopen((game + "/" + f.path).c_str(), "rb");
    std::string bytes(f.size, '\0');
    const bool read = in && std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size();
    if (in) std::fclose(in);
    zip_fileinfo info{};
    if (!read ||
        zipOpenNewFileInZip64(zip, f.path.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1,
                              0) != ZIP_OK ||
        zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      zipClose(zip, nullptr);
      return false;
    }
  }
  return zipClose(zip, nullptr) == ZIP_OK;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::string dir =
      (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/zarn-bench-repair");
  std::string nginx = "/usr/sbin/nginx";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
    if (!std::strcmp(argv[i], "--nginx")) nginx = argv[i + 1];
  }
  fs::remove_all(dir);
  std::vector<std::string> rows;

  // ---- Check: 1 GiB in 2,000 files ----
  const std::string game = dir + "/check";
  const std::vector<zarn::ListedFile> files = MakeGame(game, 2000, kCheckFileSize, 1);
  zarn::GameCheckOptions options;
  options.gameDir = game;
  options.baseUrl = "http://127.0.0.1:1/";  // the kept list is the announced one: nothing is fetched
  std::vector<double> ours, peer;
  zarn::GameCheckResult warm = zarn::CheckGame(options);  // warms the page cache
  if (!warm.complete || !warm.broken.empty()) {
    std::fprintf(stderr, "check failed: %s\n", warm.errors.empty() ? "files broken" : warm.errors[0].c_str());
    return 1;
  }
  for (int r = 0; r < runs; ++r) {
    auto start = Clock::now();
    const zarn::GameCheckResult result = zarn::CheckGame(options);
    ours.push_back(Seconds(Clock::now() - start));
    if (!result.complete || result.bytes != uint64_t{2000} * kCheckFileSize) {
      std::fprintf(stderr, "check failed\n");
      return 1;
    }
    start = Clock::now();
    if (Spawn({"sha256sum", "--quiet", "-c", "sums.txt"}, game, true) != 0) {
      std::fprintf(stderr, "sha256sum -c failed\n");
      return 1;
    }
    peer.push_back(Seconds(Clock::now() - start));
    std::printf("run %d: check %.3f s, sha256sum -c %.3f s\n", r + 1, ours.back(), peer.back());
  }
  const double o = Median(ours), p = Median(peer);
  char row[256];
  std::snprintf(row, sizeof row,
                "check 1 GiB in 2,000 files, warm (median of %d)\t%.2f s\t%.2f s\t%.2f×\t≤ 3 s, ≥ 2×\t%s",
                runs, o, p, p / o, o <= 3.0 && p / o >= 2.0 ? "met" : "miss");
  rows.push_back(row);
  fs::remove_all(game);

  // ---- Repair: 3 files of a 256 MiB package of 2,000 files, through nginx ----
  const std::string repairGame = dir + "/repair", content = dir + "/content";
  const std::vector<zarn::ListedFile> packed = MakeGame(repairGame, 2000, 128 * 1024, 2);
  if (!zarn::MakeSureDirectoryPathExists(content + "/public/zip/data.zip") ||
      !Zip(repairGame, packed, content + "/public/zip/data.zip"))
    return 1;
  const int port = 20000 + static_cast<int>(getpid() % 20000);
  zarn::test::WriteFile(dir + "/nginx.conf",
                        "daemon off;\nmaster_process off;\npid " + dir + "/nginx.pid;\nerror_log " + dir +
                            "/error.log;\nevents {}\nhttp {\n  access_log off;\n  client_body_temp_path " +
                            dir + ";\n  server { listen 127.0.0.1:" + std::to_string(port) + "; root " +
                            content + "; }\n}\n");
  pid_t server = 0;
  if (Spawn({nginx, "-e", dir + "/error.log", "-p", dir, "-c", dir + "/nginx.conf"}, dir, true, &server) != 0)
    return 1;
  usleep(300000);
  const int broken[] = {17, 1000, 1999};
  uint64_t compressed = 0;
  {
    unzFile zip = unzOpen64((content + "/public/zip/data.zip").c_str());
    for (int i : broken) {
      unz_file_info64 info;
      unzLocateFile(zip, Name(i).c_str(), 1);
      unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0);
      compressed += info.compressed_size;
    }
    unzClose(zip);
  }
  fs::remove(repairGame + "/" + Name(broken[0]));
  zarn::test::WriteFile(repairGame + "/" + Name(broken[1]), "damaged");
  zarn::test::WriteFile(repairGame + "/" + Name(broken[2]), Noise(128 * 1024, 9));
  zarn::GameCheckOptions checkOptions;
  checkOptions.gameDir = repairGame;
  checkOptions.baseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";
  const zarn::GameCheckResult check = zarn::CheckGame(checkOptions);
  zarn::RepairOptions repairOptions;
  repairOptions.gameDir = repairGame;
  repairOptions.baseUrl = checkOptions.baseUrl;
  const auto start = Clock::now();
  const zarn::RepairResult repaired = zarn::RepairGame(check, repairOptions);
  const double took = Seconds(Clock::now() - start);
  kill(server, SIGQUIT);
  waitpid(server, nullptr, 0);
  std::printf(
      "repair: %zu broken, %zu repaired, %llu bytes fetched in %.3f s, entries %llu bytes compressed\n",
      check.broken.size(), repaired.repaired, static_cast<unsigned long long>(repaired.bytesFetched), took,
      static_cast<unsigned long long>(compressed));
  if (repaired.repaired != 3) return 1;
  const uint64_t goal = compressed + 256 * 1024;
  std::snprintf(
      row, sizeof row,
      "repair 3 files of a 256 MiB package: bytes fetched\t%.0f KiB\t%.0f KiB (entries)\t-\t≤ %.0f KiB\t%s",
      repaired.bytesFetched / 1024.0, compressed / 1024.0, goal / 1024.0,
      repaired.bytesFetched <= goal ? "met" : "miss");
  rows.push_back(row);
  fs::remove_all(dir);
  for (const std::string& r : rows) std::printf("ROW\t%s\n", r.c_str());
  return 0;
}
