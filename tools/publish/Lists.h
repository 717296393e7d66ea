// The per-file lists beside the archives: "public/index/<key>.lst" for a package,
// "ClientData/<id>.lst" for a server's data. Their hashes are announced in the signed
// manifest (attribute "index") and data list (line "index <hex>").
#pragma once

#include <string>

#include "Check.h"

namespace zarn::publish {

// Writes the list of the archive's files to listPath (from the archive itself, so the list says
// what a player unpacks) and gives its SHA-256 in *hex. False with the reason in *error.
bool WriteFileListOf(const std::string& archive, const std::string& listPath, std::string* hex,
                     std::string* error);

// Problems of a list announced with hash `index` for the archive: missing, another hash, lines
// the launcher refuses, and (with verifyData) files other than the archive's.
void CheckFileList(const std::string& listPath, const std::string& shownName, const std::string& index,
                   const std::string& archive, bool verifyData, const std::string& reportFile, int reportLine,
                   Problems& problems);

}  // namespace zarn::publish
