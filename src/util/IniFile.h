// Initialisation files (ClientConfig.cfg) with the semantics the game client expects of them:
// "[section]" lines, then "key=value" lines; section and key names compared without regard to
// case, the first matching section and the first matching key in it win, values read without
// surrounding blanks (and without one pair of enclosing quotes), lines starting with ";" are
// comments. Texts are in the ANSI code set.
#pragma once

#include <string>
#include <string_view>

namespace zarn {

// Every read hands back at most this many bytes, cut at a whole ANSI character.
inline constexpr size_t kProfileValueMaxBytes = 255;

// The value of key in section, or defaultValue (without trailing blanks) when the file, the
// section or the key is missing. A key written without "=" is no key.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& path);

// The value read as decimal text (leading blanks and a sign accepted, reading stops at the first
// other character, no digits give 0, values beyond the int range are clamped), or defaultValue
// when the key is missing.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path);

// The conversion GetPrivateProfileInt applies to a value that is present.
int ProfileTextToInt(std::string_view text);

// Sets key in section to value. Only the key's own line changes (or a line is added at the end
// of the section, or the section is added at the end of the file); every other byte of the file
// stays as it was, line ends included. A missing file is created (its folder must exist). The
// new content is on disk when the call returns: it is written to a temporary file in the same
// folder, synced and renamed over the old one, so a crash leaves either the old or the new file.
// When no file can be made in that folder but the file itself can be written, it is rewritten
// in place.
// False when nothing could be written, or when a name or the value would not fit on one line
// (a line break in it, "]" in the section name, "=" in the key, an empty name).
bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path);

}  // namespace zarn
