// What the launcher checks before it acts on a published document or uses a downloaded file:
// the signatures of the documents (when the launcher trusts an update key) and the sizes and
// hashes the documents announce for the archives (always).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "net/IDownloader.h"
#include "update/SelfUpdate.h"
#include "update/Signature.h"

namespace zarn {

// Error codes of the failed-download prompt beyond the worker's own (see CFileDown.h):
//   1003  a signed document came without a valid signature;
//   1004  the new launcher is not a program that can replace this one.
inline constexpr int kErrorSignatureRefused = 1003;
inline constexpr int kErrorNotALauncher = 1004;

// The update key the launcher trusts (minisign public key text, one or more keys): the build
// setting unless SetUpdatePublicKey gave another. Empty: documents are taken unsigned.
std::string UpdatePublicKey();
// Overrides the key for the whole process (tests); nothing returns to the build setting.
void SetUpdatePublicKey(std::optional<std::string> key);

// Paths of the signed documents in the content tree (what their trusted comments name).
inline constexpr char kVersionManifestDocument[] = "PCVersion/1033/version.xml";
inline constexpr char kPackageManifestDocument[] = "public/update.xml";
std::string ServerDataListTreePath(const std::string& serverId);  // "ClientData/<id>.md5"

// Checks a downloaded document against its downloaded signature with the trusted key. On a
// refusal one line on standard error names the document and the reason.
SignatureVerdict CheckSignedDocument(const std::string& documentPath, const std::string& signaturePath,
                                     std::string_view treePath);
// The same for a document held in memory and its signature's text.
SignatureVerdict CheckSignedText(std::string_view document, std::string_view signatureText,
                                 std::string_view treePath);

// What a package manifest announces of each package: its "size" and "sha256" attributes
// (entries read as LoadPackageList reads them; a later duplicate key wins). A value that is not
// a byte count or not 64 hex digits is not an announcement.
std::map<std::string, DownloadExpectations> LoadPackageAnnouncements(const std::string& manifestPath);

// What a server's data list announces of its archive: the lines "size <n>" and "sha256 <hex>"
// after the first line.
DownloadExpectations LoadServerArchiveAnnouncement(const std::string& listPath);

// The finished download of the new launcher (error code as reported): when it arrived, the file
// must prove it can replace the launcher (CheckNewLauncher); a refused file is deleted, one
// line on standard error says why, and the download counts as failed with kErrorNotALauncher.
int CheckNewLauncherDownload(const std::string& localPath, const LauncherAnnouncement& announced,
                             int errorCode);

// A decimal byte count without sign or blanks.
std::optional<int64_t> ParseByteCount(std::string_view text);

}  // namespace zarn
