// Package manifest benchmark: an installed "update.xml" and a published "update.down" of
// 10,000 entries each (one in ten version texts changed, 1 % of the keys new), loaded and
// compared as the update does it (SelectPackages), in a fresh temporary game folder.
//
//   zarn-bench-manifest [--runs N] [--entries N] [--dir FOLDER]
//
// Prints each run's time for loading one manifest and for the whole selection, the best and
// the median, and a "ROW" line for the summary table (goal: selection under 50 ms).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "update/UpdateManifest.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point begin) {
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

std::string Hex(std::mt19937_64& rng) {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(rng()),
                static_cast<unsigned long long>(rng()));
  return text;
}

// Writes both manifests and returns how many packages the selection must choose.
size_t WriteManifests(const std::string& dir, int entries) {
  std::mt19937_64 rng(7);
  std::FILE* installed = std::fopen((dir + "/update.xml").c_str(), "w");
  std::FILE* published = std::fopen((dir + "/update.down").c_str(), "w");
  if (!installed || !published) {
    std::perror("manifest");
    std::exit(2);
  }
  std::fputs("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update>\n", installed);
  std::fputs("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update>\n", published);
  size_t expected = 0;
  for (int i = 0; i < entries; ++i) {
    char key[64];
    std::snprintf(key, sizeof key, "data/pack%05d_%u.zip", i, static_cast<unsigned>(rng() % 100000));
    const std::string md5 = Hex(rng);
    const bool isNew = i % 100 == 99, changed = i % 10 == 3;
    if (!isNew) std::fprintf(installed, "  <file key=\"%s\" md5=\"%s\"/>\n", key, md5.c_str());
    std::fprintf(published, "  <file key=\"%s\" md5=\"%s\"/>\n", key,
                 changed ? Hex(rng).c_str() : md5.c_str());
    expected += isNew || changed;
  }
  std::fputs("</update>\n", installed);
  std::fputs("</update>\n", published);
  std::fclose(installed);
  std::fclose(published);
  return expected;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 20, entries = 10000;
  std::string base = std::getenv("TMPDIR") && *std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--entries") == 0) entries = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  std::string dir = base + "/zarn-bench-manifest-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 2;
  }
  const size_t expected = WriteManifests(dir, entries);
  std::printf("%d entries per manifest (%.1f KiB published), %zu to choose, %d runs\n", entries,
              fs::file_size(dir + "/update.down") / 1024.0, expected, runs);

  std::vector<double> loads, selections;
  bool correct = true;
  for (int run = 0; run < runs; ++run) {
    auto begin = Clock::now();
    zarn::PackageList one;
    zarn::LoadPackageList(dir + "/update.down", one);
    loads.push_back(Ms(begin));
    begin = Clock::now();
    const zarn::PackageList chosen = zarn::SelectPackages(dir);
    selections.push_back(Ms(begin));
    correct = correct && one.size() == static_cast<size_t>(entries) && chosen.size() == expected;
  }
  std::printf("  LoadPackageList (one manifest):      best %7.2f ms, median %7.2f ms\n",
              *std::min_element(loads.begin(), loads.end()), Median(loads));
  std::printf("  SelectPackages (load both, compare): best %7.2f ms, median %7.2f ms\n",
              *std::min_element(selections.begin(), selections.end()), Median(selections));
  if (!correct)
    std::printf("  WRONG RESULT: the selection did not choose the %zu changed packages\n", expected);
  const double median = Median(selections);
  std::printf("ROW\tpackage manifest, %dk entries: load + compare (median)\t%.1f ms\t-\t-\t< 50 ms\t%s\n",
              entries / 1000, median, correct && median < 50 ? "pass" : "miss");
  fs::remove_all(dir);
  return correct ? 0 : 1;
}
