#include "app/Version.h"

#include <cstdio>
#include <cstring>

#include "BuildConfig.h"

namespace zarn {

const VersionBlock* AppVersionBlock() {
  static const VersionBlock block{VersionBlock::kSignature, 0x00010000,
                                  (uint32_t{build::kVersionMajor} << 16) | build::kVersionMinor,
                                  (uint32_t{build::kVersionPatch} << 16) | build::kVersionTweak};
  return &block;
}

std::string FormatAppVersion(const void* block, size_t size) {
  if (!block || size == 0) return {};
  // The query reads a copy of the block, never the block itself.
  VersionBlock info;
  if (size < sizeof info) return "(unknown)";
  std::memcpy(&info, block, sizeof info);
  if (info.signature != VersionBlock::kSignature) return "(unknown)";
  char text[32];
  std::snprintf(text, sizeof text, "%hu.%hu.%hu.%hu", static_cast<unsigned short>(info.fileVersionMS >> 16),
                static_cast<unsigned short>(info.fileVersionMS & 0xFFFF),
                static_cast<unsigned short>(info.fileVersionLS >> 16),
                static_cast<unsigned short>(info.fileVersionLS & 0xFFFF));
  return text;
}

std::string GetAppVersion() { return FormatAppVersion(AppVersionBlock(), sizeof(VersionBlock)); }

}  // namespace zarn
