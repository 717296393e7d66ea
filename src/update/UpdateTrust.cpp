#include "update/UpdateTrust.h"

#include <tinyxml2.h>

#include <fstream>
#include <mutex>

#include "BuildConfig.h"
#include "util/Debug.h"
#include "util/Paths.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

std::mutex keyMutex;
std::optional<std::string> keyOverride;

void Refused(std::string_view treePath, const SignatureVerdict& verdict) {
  if (!verdict.ok) DebugOutput(std::string(treePath) + ": signature refused: " + verdict.reason);
}

}  // namespace

std::string UpdatePublicKey() {
  std::lock_guard<std::mutex> lock(keyMutex);
  return keyOverride ? *keyOverride : std::string(build::kUpdatePublicKey);
}

void SetUpdatePublicKey(std::optional<std::string> key) {
  std::lock_guard<std::mutex> lock(keyMutex);
  keyOverride = std::move(key);
}

std::string ServerDataListTreePath(const std::string& serverId) { return "ClientData/" + serverId + ".md5"; }

SignatureVerdict CheckSignedDocument(const std::string& documentPath, const std::string& signaturePath,
                                     std::string_view treePath) {
  SignatureVerdict verdict;
  if (!PathExists(signaturePath)) {
    verdict.reason = "no signature";
  } else {
    verdict = VerifyDocumentFile(documentPath, signaturePath, UpdatePublicKey(), treePath);
  }
  Refused(treePath, verdict);
  return verdict;
}

SignatureVerdict CheckSignedText(std::string_view document, std::string_view signatureText,
                                 std::string_view treePath) {
  const SignatureVerdict verdict = VerifyDocument(document, signatureText, UpdatePublicKey(), treePath);
  Refused(treePath, verdict);
  return verdict;
}

int CheckNewLauncherDownload(const std::string& localPath, const LauncherAnnouncement& announced,
                             int errorCode) {
  if (errorCode != 0) return errorCode;
  const NewLauncherVerdict verdict = CheckNewLauncher(localPath, announced);
  if (verdict) return 0;
  DebugOutput("new launcher " + localPath + " refused: " + verdict.reason);
  return kErrorNotALauncher;
}

std::optional<int64_t> ParseByteCount(std::string_view text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  int64_t value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

std::map<std::string, DownloadExpectations> LoadPackageAnnouncements(const std::string& manifestPath) {
  std::map<std::string, DownloadExpectations> announced;
  tinyxml2::XMLDocument doc;
  if (!PathExists(manifestPath) || doc.LoadFile(manifestPath.c_str()) != tinyxml2::XML_SUCCESS)
    return announced;
  const tinyxml2::XMLElement* root = doc.FirstChildElement();
  if (!root) return announced;
  for (const tinyxml2::XMLElement* entry = root->FirstChildElement(); entry;
       entry = entry->NextSiblingElement()) {
    const char* key = entry->Attribute("key");
    if (!key || !*key) continue;
    DownloadExpectations expect;
    if (const char* size = entry->Attribute("size")) {
      if (const std::optional<int64_t> n = ParseByteCount(size))
        expect.size = *n;
      else
        DebugOutput(std::string("package ") + key + ": \"size\" is not a byte count: " + size);
    }
    if (const char* sha256 = entry->Attribute("sha256")) {
      if (IsSha256Hex(sha256))
        expect.sha256 = sha256;
      else
        DebugOutput(std::string("package ") + key + ": \"sha256\" is not 64 hex digits: " + sha256);
    }
    announced[key] = std::move(expect);
  }
  return announced;
}

DownloadExpectations LoadServerArchiveAnnouncement(const std::string& listPath) {
  DownloadExpectations expect;
  std::ifstream in(listPath, std::ios::binary);
  std::string line;
  if (!std::getline(in, line)) return expect;  // the data version: not an announcement
  // Only a few short lines are ever announced: a list of another size is not read further.
  for (int lines = 0; lines < 64 && std::getline(in, line); ++lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string_view text(line);
    if (text.rfind("size ", 0) == 0) {
      if (const std::optional<int64_t> n = ParseByteCount(text.substr(5))) expect.size = *n;
    } else if (text.rfind("sha256 ", 0) == 0 && IsSha256Hex(text.substr(7))) {
      expect.sha256 = std::string(text.substr(7));
    }
  }
  return expect;
}

}  // namespace zarn
