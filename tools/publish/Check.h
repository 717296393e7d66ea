// Checks of what the launcher reads from the web side: a content tree (package manifest,
// archives, per-server data), a version manifest, a login information document and a server
// list. Every problem names its file and line.
#pragma once

#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace zarn::publish {

struct Problem {
  std::string file;
  int line = 1;
  std::string text;
};

class Problems {
 public:
  void Add(const std::string& file, int line, const std::string& text) {
    list_.push_back({file, line, text});
  }
  const std::vector<Problem>& list() const { return list_; }
  bool empty() const { return list_.empty(); }
  size_t size() const { return list_.size(); }
  // One "<file>:<line>: <problem>" line each.
  void Print(std::ostream& out) const;

 private:
  std::vector<Problem> list_;
};

struct TreeCheckOptions {
  // Read every archive's data through and check its CRCs (otherwise only the directory).
  bool verifyData = true;
  // A minisign public key: every signed document must carry a valid signature by it, and every
  // archive must be announced with its size and SHA-256. Empty: signatures are not checked.
  std::string publicKey;
};

// The version manifest's path in the content tree (under the content network root).
inline constexpr char kVersionManifestTreePath[] = "PCVersion/1033/version.xml";

// Checks root/public/update.xml, the archives it names under root/public/zip/ and the
// per-server data under root/ClientData/, each archive against the size and SHA-256 announced
// for it, and with a public key the signatures of the manifest, of each data list and of the
// version manifest when the tree holds one. Returns the server ids whose data the tree holds.
std::set<std::string> CheckContentTree(const std::string& root, const TreeCheckOptions& options,
                                       Problems& problems);

// The version manifest (PCVersion/1033/version.xml); with a public key its signature, with the
// new launcher file (launcher not empty) the announced "size" and "sha256" against it.
void CheckVersionManifest(const std::string& path, Problems& problems, const std::string& publicKey = {},
                          const std::string& launcher = {});
// The login information (the account service's ClientLogonJson reply).
void CheckLoginInfo(const std::string& path, Problems& problems);
// The server list. With treeIds, servers whose data the launcher would fetch must have it there.
void CheckServerList(const std::string& path, const std::set<std::string>* treeIds, Problems& problems);

}  // namespace zarn::publish
