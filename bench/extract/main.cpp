// Unpacks a 256 MiB archive of large files and an archive of 20,000 small files with
// ExtractArchive, with Info-ZIP unzip and with Python's zipfile, each run in a child process
// into a fresh folder, and prints throughput (uncompressed MB/s), the ratio to unzip and the
// child's peak resident memory (VmHWM). A 64 MiB archive of large files shows whether memory grows
// with the archive.
//
//   zarn-bench-extract [--runs N] [--dir FOLDER]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "update/Extract.h"

namespace fs = std::filesystem;

namespace {

enum class Data {
  kMixed,   // tokens from a vocabulary of random 8-byte words, one in four random: deflate saves
            // about a quarter, with many short matches (the slowest case for inflate)
  kText,    // words and numbers: deflate saves most of it, long matches
  kRandom,  // incompressible (already compressed textures, sound): deflate stores it
};

void FillData(std::vector<char>& out, std::mt19937_64& rng, const std::vector<uint64_t>& vocabulary,
              Data kind) {
  size_t i = 0;
  if (kind == Data::kText) {
    static const char* words[] = {"tile ", "sprite ", "map ", "kelmar ", "zone\n", "npc ", "quest ", "item "};
    while (i < out.size()) {
      const uint64_t r = rng();
      std::string word = (r & 7) == 0 ? std::to_string(r >> 40) + " " : words[(r >> 3) & 7];
      const size_t n = std::min(word.size(), out.size() - i);
      std::memcpy(out.data() + i, word.data(), n);
      i += n;
    }
    return;
  }
  while (i + 8 <= out.size()) {
    const uint64_t r = rng();
    const uint64_t word =
        kind == Data::kRandom || (r & 3) == 0 ? rng() : vocabulary[(r >> 2) % vocabulary.size()];
    std::memcpy(out.data() + i, &word, 8);
    i += 8;
  }
  for (; i < out.size(); ++i) out[i] = static_cast<char>(rng());
}

struct ArchiveSpec {
  std::string label;
  int files;
  size_t fileSize;  // every file this size (small files vary around it)
  bool small;
  Data data;
};

// Writes the archive and returns its uncompressed size.
uint64_t MakeArchive(const std::string& path, const ArchiveSpec& spec) {
  std::mt19937_64 rng(42);
  std::vector<uint64_t> vocabulary(4096);
  for (auto& w : vocabulary) w = rng();
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    std::fprintf(stderr, "cannot create %s\n", path.c_str());
    std::exit(1);
  }
  uint64_t total = 0;
  std::vector<char> data;
  const size_t piece = 4 << 20;
  for (int f = 0; f < spec.files; ++f) {
    const size_t size = spec.small ? spec.fileSize / 2 + rng() % spec.fileSize : spec.fileSize;
    const std::string name = spec.small
                                 ? "data/set" + std::to_string(f / 100) + "/item" + std::to_string(f) + ".bin"
                                 : "data/big/file" + std::to_string(f) + ".pak";
    zip_fileinfo info{};
    if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6,
                              size >= 0xffffffffu) != ZIP_OK) {
      std::fprintf(stderr, "cannot add %s\n", name.c_str());
      std::exit(1);
    }
    for (size_t done = 0; done < size;) {
      data.resize(std::min(piece, size - done));
      FillData(data, rng, vocabulary, spec.data);
      zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
      done += data.size();
    }
    zipCloseFileInZip(zip);
    total += size;
  }
  zipClose(zip, nullptr);
  return total;
}

struct RunResult {
  double seconds = 0;
  long maxRssKiB = 0;
  bool ok = false;
};

// The child's peak resident size so far (VmHWM belongs to the program after exec, unlike the
// rusage figure, which keeps the size of the forked copy of this process); 0 once it ended.
long PeakResidentKiB(pid_t pid) {
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (!f) return 0;
  char line[256];
  long kib = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  std::fclose(f);
  return kib;
}

RunResult RunChild(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The pipe closes when exec succeeds: sampling starts only then, so the forked copy of this
  // process is never measured.
  int execPipe[2];
  if (::pipe2(execPipe, O_CLOEXEC) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(execPipe[1]);
  char byte;
  while (::read(execPipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  ::close(execPipe[0]);
  RunResult r;
  int status = 0;
  // Sample the peak every 2 ms until the child ends; it only grows, so the last sample is
  // within 2 ms of the end.
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    r.maxRssKiB = std::max(r.maxRssKiB, PeakResidentKiB(pid));
    ::usleep(2000);
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

std::string Self() { return fs::read_symlink("/proc/self/exe").string(); }

}  // namespace

int main(int argc, char** argv) {
  // Child mode: one extraction.
  if (argc == 5 && std::strcmp(argv[1], "--extract") == 0) {
    zarn::ExtractOptions options;
    options.restAfterFile = std::chrono::microseconds(std::atoi(argv[4]));
    return zarn::ExtractArchive(argv[2], argv[3], options) == 0 ? 0 : 1;
  }

  int runs = 3;
  std::string base;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  if (base.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zarn-bench-extract-XXXXXX";
    if (!::mkdtemp(pattern.data())) return 1;
    base = pattern;
  }
  fs::create_directories(base);
  const std::string unzip = fs::exists("/usr/bin/unzip") ? "/usr/bin/unzip" : "";
  const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "";

  const std::vector<ArchiveSpec> specs = {
      {"large files, 8 x 32 MiB, mixed data", 8, 32u << 20, false, Data::kMixed},
      {"large files, 8 x 32 MiB, text-like data", 8, 32u << 20, false, Data::kText},
      {"large files, 8 x 32 MiB, incompressible data", 8, 32u << 20, false, Data::kRandom},
      {"large files, 2 x 32 MiB, mixed data (memory against archive size)", 2, 32u << 20, false,
       Data::kMixed},
      {"20000 small files, ~4 KiB, mixed data", 20000, 4096, true, Data::kMixed},
  };
  std::printf("folder %s, best of %d runs per tool, uncompressed MB/s (1 MB = 10^6 bytes)\n", base.c_str(),
              runs);
  for (const ArchiveSpec& spec : specs) {
    const std::string archive = base + "/bench.zip";
    const uint64_t bytes = MakeArchive(archive, spec);
    std::printf("\n%s: %.1f MiB unpacked, archive %.1f MiB\n", spec.label.c_str(), bytes / 1048576.0,
                fs::file_size(archive) / 1048576.0);

    struct Tool {
      std::string name;
      std::vector<std::string> argv;  // the destination is appended where "@" stands
    };
    std::vector<Tool> tools = {{"ExtractArchive", {Self(), "--extract", archive, "@", "1000"}}};
    if (spec.small) tools.push_back({"ExtractArchive, no rest", {Self(), "--extract", archive, "@", "0"}});
    if (!unzip.empty()) tools.push_back({"unzip", {unzip, "-q", "-o", archive, "-d", "@"}});
    if (!python.empty())
      tools.push_back(
          {"python zipfile",
           {python, "-c", "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])",
            archive, "@"}});

    double unzipBest = 0;
    std::vector<std::pair<std::string, RunResult>> best;
    for (const Tool& tool : tools) {
      RunResult b;
      for (int run = 0; run < runs; ++run) {
        const std::string dest = base + "/out";
        fs::remove_all(dest);
        fs::create_directories(dest);
        std::vector<std::string> argv = tool.argv;
        for (auto& a : argv)
          if (a == "@") a = dest + "/";
        ::sync();  // start every run with no dirty pages of the previous one
        const RunResult r = RunChild(argv);
        if (!r.ok) std::printf("  %s: run %d failed\n", tool.name.c_str(), run + 1);
        if (r.ok && (!b.ok || r.seconds < b.seconds)) b = r;
        b.maxRssKiB = std::max(b.maxRssKiB, r.maxRssKiB);
      }
      fs::remove_all(base + "/out");
      if (tool.name == "unzip" && b.ok) unzipBest = bytes / 1e6 / b.seconds;
      best.emplace_back(tool.name, b);
    }
    for (const auto& [name, r] : best) {
      const double mbps = r.ok ? bytes / 1e6 / r.seconds : 0;
      std::printf("  %-24s %8.3f s %9.1f MB/s", name.c_str(), r.seconds, mbps);
      if (unzipBest > 0) std::printf("  %5.2f x unzip", mbps / unzipBest);
      std::printf("  peak RSS %6ld KiB\n", r.maxRssKiB);
    }
    fs::remove(archive);
  }
  fs::remove_all(base);
  return 0;
}
