// Zip archives of the demo content, made from source folders so that no binary archive has to
// be kept with the sources. The same folder always gives the same bytes: entries in byte order
// of their names, a folder entry ("name/") before its contents, one fixed time stamp, fixed
// compression.
#pragma once

#include <string>
#include <vector>

namespace zarn::demo {

// The entry names of a folder's archive, in archive order: files and folders below it,
// relative, with "/" separators and a trailing "/" for folders. Links are left out, so an
// archive never carries anything from outside its folder.
std::vector<std::string> ArchiveEntryNames(const std::string& folder);

// Writes the archive of folder to zipPath (replacing it). False with *error set when it could
// not be written.
bool WriteFolderArchive(const std::string& folder, const std::string& zipPath, std::string* error);

}  // namespace zarn::demo
