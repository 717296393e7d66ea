// Repairing what a check found broken: only the damaged entries of each package are fetched
// (the archive's directory and those entries through byte ranges) and unpacked; a server
// without ranges, or answering them wrongly, gives the whole package, of which again only the
// damaged entries are unpacked. Every file is written beside its place and renamed over it
// only after its hash is the listed one. Qt-free, for a worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/GameCheck.h"

namespace zarn {

struct RepairOptions {
  std::string gameDir;
  std::string baseUrl;  // ends in "/": packages at baseUrl + "public/zip/<key>"
  const std::atomic<bool>* cancel = nullptr;
  std::function<void(size_t done, size_t total)> packages;  // packages repaired
  std::function<void(uint64_t fetched)> bytes;              // bytes fetched so far
  bool allowRanges = true;                                  // false: whole packages only
  // The address of a package's archive; empty: baseUrl + "public/zip/<key>". The selected
  // server's own data is repaired from its archive under "ClientData/".
  std::function<std::string(const std::string& key)> packageUrl;
  // Where a whole package is kept while its entries are unpacked; empty: gameDir + "/download".
  std::string scratchDir;
};

struct RepairResult {
  size_t repaired = 0;
  std::vector<std::string> failed;  // listed paths still broken, with the reason
  uint64_t bytesFetched = 0;
  size_t wholePackages = 0;  // packages fetched whole
  bool cancelled = false;
};

RepairResult RepairGame(const GameCheckResult& check, const RepairOptions& options);

}  // namespace zarn
