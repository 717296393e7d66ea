// The canonical-name rule: the launcher runs only as the file "zarn" and otherwise copies itself
// to that name in its folder and starts the copy.
#pragma once

#include <string>

namespace zarn {

inline constexpr const char kShortProductName[] = "zarn";
inline constexpr const char kExecutableSuffix[] = "";  // Linux programs carry none

// The text of the file name before its first "." (the whole name when it has none).
std::string CanonicalBaseName(const std::string& fileName);
bool IsCanonicalName(const std::string& modulePath);
// The folder of the running file followed by "zarn".
std::string SelfCopyTarget(const std::string& modulePath);
// Copies a file to the target and keeps the execute permission: the copy is written under a
// temporary name beside the target and renamed over it (a link there is replaced, not followed).
// False, with nothing changed, when the target is the source itself (same device and inode, as
// "Zarn" and "zarn" are on a case-insensitive folder) or the copy fails.
bool CopyExecutable(const std::string& from, const std::string& to);
// Copies the running file to the target and starts the copy with its own full path as its
// argument in the inherited working directory. False when the copy failed (nothing is started
// then).
bool RunSelfCopy(const std::string& modulePath);

}  // namespace zarn
