// The launcher's own version, from the version block compiled into the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarn {

// Fixed file information, laid out as the version block stores it.
struct VersionBlock {
  static constexpr uint32_t kSignature = 0xFEEF04BD;
  uint32_t signature = kSignature;
  uint32_t structVersion = 0x00010000;
  uint32_t fileVersionMS = 0;  // major << 16 | minor
  uint32_t fileVersionLS = 0;  // patch << 16 | tweak
};

// The block built into this program (from the project version).
const VersionBlock* AppVersionBlock();
// "" without a block (null or empty), "(unknown)" when the block does not hold fixed file
// information, else "%hu.%hu.%hu.%hu".
std::string FormatAppVersion(const void* block, size_t size);
// The launcher's version text: "1.0.0.1".
std::string GetAppVersion();

}  // namespace zarn
