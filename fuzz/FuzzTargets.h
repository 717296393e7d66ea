// Entry points of the fuzz programs: each takes one input as the outside world would deliver it
// (a downloaded file, a reply body, an archive) and drives the launcher's own reader with it,
// checking what the reader promises about the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zarn::fuzz {

using TargetFunction = void (*)(const uint8_t* data, size_t size);

struct Target {
  const char* name;  // also the folder name under corpus/ and regressions/
  TargetFunction run;
};

void FuzzLayout(const uint8_t* data, size_t size);
void FuzzVersionManifest(const uint8_t* data, size_t size);
void FuzzLoginInfo(const uint8_t* data, size_t size);
void FuzzServerList(const uint8_t* data, size_t size);
void FuzzPackageManifest(const uint8_t* data, size_t size);
void FuzzRegisterReply(const uint8_t* data, size_t size);
void FuzzIniFile(const uint8_t* data, size_t size);
void FuzzZipArchive(const uint8_t* data, size_t size);
void FuzzZipEntryName(const uint8_t* data, size_t size);

const std::vector<Target>& AllTargets();
// Null when there is no target of that name.
const Target* FindTarget(std::string_view name);

}  // namespace zarn::fuzz
