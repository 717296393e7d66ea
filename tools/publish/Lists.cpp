#include "Lists.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Archive.h"
#include "update/FileList.h"
#include "util/Sha256.h"

namespace zarn::publish {

bool WriteFileListOf(const std::string& archive, const std::string& listPath, std::string* hex,
                     std::string* error) {
  std::vector<ListedFile> files;
  if (!FileListOfArchive(archive, &files, error)) return false;
  const std::string text = FileListText(files);
  if (!WriteFileDurably(listPath, text)) {
    *error = listPath + ": cannot be written";
    return false;
  }
  *hex = Sha256Hex(text);
  return true;
}

void CheckFileList(const std::string& listPath, const std::string& shownName, const std::string& index,
                   const std::string& archive, bool verifyData, const std::string& reportFile, int reportLine,
                   Problems& problems) {
  std::ifstream in(listPath, std::ios::binary);
  if (!in) {
    problems.Add(reportFile, reportLine,
                 shownName + " is announced but missing: the check and repair refuse it");
    return;
  }
  std::ostringstream body;
  body << in.rdbuf();
  const std::string text = body.str();
  std::string lowerIndex;
  for (char c : index) lowerIndex += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  if (Sha256Hex(text) != lowerIndex) {
    problems.Add(reportFile, reportLine,
                 shownName + " has SHA-256 " + Sha256Hex(text) + ", " + index + " announced: it is refused");
    return;
  }
  std::vector<ListedFile> listed;
  std::string error;
  if (!ParseFileList(text, &listed, &error)) {
    problems.Add(listPath, 1, error);
    return;
  }
  if (!verifyData) return;
  std::vector<ListedFile> actual;
  if (!FileListOfArchive(archive, &actual, &error)) return;  // the archive's own check reports it
  if (FileListText(actual) != text)
    problems.Add(reportFile, reportLine, shownName + " does not list the files of its archive");
}

}  // namespace zarn::publish
