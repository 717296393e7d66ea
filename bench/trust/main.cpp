// What checking costs. (1) The same archives unpacked with ExtractArchive, without and with the
// check the launcher really makes: the SHA-256 of the downloaded archive, computed over its
// bytes as they arrive (here: the archive's bytes read in the download's piece size and hashed,
// then the extraction), in the same run and on the same files; the overhead is the hashing time
// as a share of the extraction time. (2) Verifying the signature of a 10,000-entry package
// manifest on disk, as the launcher does before it acts on it (minisign's default pre-hashed
// kind, the one zarn-publish writes). Ends with "ROW" lines for the summary table.
//
//   zarn-bench-trust [--runs N] [--dir FOLDER]
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Signing.h"
#include "update/Extract.h"
#include "update/Signature.h"
#include "util/Sha256.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// An archive of files of sizes, half text-like (deflate saves most), half random (stored).
void MakeArchive(const std::string& path, int files, size_t fileSize) {
  std::mt19937_64 rng(7);
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    std::fprintf(stderr, "cannot create %s\n", path.c_str());
    std::exit(1);
  }
  std::vector<char> data(fileSize);
  for (int f = 0; f < files; ++f) {
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = f % 2 ? static_cast<char>(rng()) : "kelmar map tile sprite 0123456789\n"[rng() % 34];
    zip_fileinfo info{};
    const std::string name = "data/set" + std::to_string(f % 8) + "/file" + std::to_string(f) + ".bin";
    zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 0);
    zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
}

// The check of a download, over the archive's bytes in the worker's piece size.
std::string HashLikeADownload(const std::string& path) {
  zarn::Sha256 hash;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> piece(1 << 20);  // the worker's transfer buffer
  while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
    hash.Update(piece.data(), static_cast<size_t>(in.gcount()));
  return hash.FinalHex();
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::string dir =
      (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : "/tmp") + "/zarn-bench-trust";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
      dir = argv[++i];
  }
  fs::remove_all(dir);
  fs::create_directories(dir);

  // (1) Large files and many small files.
  struct Case {
    const char* label;
    int files;
    size_t size;
  };
  const Case cases[] = {{"64 MiB archive, 32 files", 32, 2 << 20},
                        {"archive of 4,000 small files", 4000, 8192}};
  zarn::ExtractOptions options;  // the launcher's own, its rest after every file included
  std::vector<std::string> rows;
  for (const Case& c : cases) {
    const std::string archive = dir + "/bench.zip";
    MakeArchive(archive, c.files, c.size);
    std::vector<double> off, hashing;
    for (int r = 0; r < runs; ++r) {
      // Alternated, each into a fresh folder, so that both see the same disk and cache.
      const std::string dest = dir + "/out" + std::to_string(r);
      Clock::time_point t = Clock::now();
      if (zarn::ExtractArchive(archive, dest, options) != 0) {
        std::fprintf(stderr, "extraction failed\n");
        return 1;
      }
      off.push_back(Seconds(t));
      fs::remove_all(dest);
      t = Clock::now();
      const std::string hex = HashLikeADownload(archive);
      hashing.push_back(Seconds(t));
      if (hex.size() != 64) return 1;
    }
    const double extract = Median(off), hash = Median(hashing), share = 100.0 * hash / extract;
    std::printf("%s: extraction %.3f s, SHA-256 of the archive %.3f s (%.1f %%)\n", c.label, extract, hash,
                share);
    char row[512];
    std::snprintf(row, sizeof row,
                  "extraction, hash checking on vs off: %s\t%.3f s\t%.3f s\t+%.1f %%\t<= 10 %%\t%s", c.label,
                  extract + hash, extract, share, share <= 10.0 ? "met" : "missed");
    rows.push_back(row);
    fs::remove(archive);
  }

  // (2) A manifest of 10,000 entries, as zarn-publish writes it.
  const std::string manifest = dir + "/update.xml";
  {
    std::ofstream out(manifest, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n";
    for (int i = 0; i < 10000; ++i)
      out << "  <file key=\"pack" << i << ".zip\" md5=\"" << zarn::Sha256Hex(std::to_string(i)).substr(0, 32)
          << "\" size=\"" << 1000000 + i << "\" sha256=\"" << zarn::Sha256Hex("p" + std::to_string(i))
          << "\"/>\n";
    out << "</update>\n";
  }
  const zarn::publish::SecretKey key = zarn::publish::NewSecretKey();
  std::string error;
  if (!zarn::publish::SignFile(key, manifest, zarn::TrustedCommentFor("public/update.xml"), false, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string publicKey = zarn::PublicKeyText(key.Public());
  std::vector<double> verify;
  for (int r = 0; r < std::max(runs, 20); ++r) {
    const Clock::time_point t = Clock::now();
    const zarn::SignatureVerdict verdict =
        zarn::VerifyDocumentFile(manifest, zarn::SignaturePathFor(manifest), publicKey, "public/update.xml");
    verify.push_back(Seconds(t) * 1000);
    if (!verdict) {
      std::fprintf(stderr, "verification failed: %s\n", verdict.reason.c_str());
      return 1;
    }
  }
  const double ms = Median(verify);
  std::printf("signature of a 10,000-entry manifest (%ju bytes): %.2f ms\n",
              static_cast<uintmax_t>(fs::file_size(manifest)), ms);
  char row[256];
  std::snprintf(row, sizeof row,
                "signature check, 10k-entry package manifest (median)\t%.2f ms\t-\t-\t< 5 ms\t%s", ms,
                ms < 5.0 ? "met" : "missed");
  rows.push_back(row);
  fs::remove_all(dir);
  for (const std::string& r : rows) std::printf("ROW\t%s\n", r.c_str());
  return 0;
}
