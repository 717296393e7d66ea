// Publishing: from a game folder and a layout, the content tree the launcher updates from,
// "public/update.xml" with "public/zip/<key>" and "ClientData/<id>.md5" with "ClientData/<id>.zip".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Signing.h"

namespace zarn::publish {

struct PublishOptions {
  std::string gameFolder;
  std::string layoutPath;
  std::string outRoot;  // the content root; only its "public" and "ClientData" folders are replaced
  bool progress = false;
  bool progressInPlace = false;
  // Given: public/update.xml, each ClientData/<id>.md5 and the version manifest (when the tree
  // holds one) are signed with it, each as X.minisig beside X.
  const SecretKey* secretKey = nullptr;
  // Given: the new launcher file, whose size and SHA-256 go into the version manifest
  // outRoot/PCVersion/1033/version.xml (which must exist, with the operator's "version" and "url").
  std::string launcherFile;
};

struct PublishedItem {
  enum State { kNew, kChanged, kUnchanged };
  bool server = false;
  std::string name;     // package key or server id
  std::string version;  // the version text written
  State state = kNew;
  size_t files = 0;
  uint64_t bytes = 0;
};

struct PublishReport {
  std::vector<PublishedItem> items;
  uint64_t excluded = 0;
};

// Builds the new tree beside the old one and puts it in place only when it is complete and
// passes the checks (signatures included when signing); every archive is announced with its
// size and SHA-256 ("size" and "sha256" attributes of its manifest entry, lines "size <n>" and
// "sha256 <hex>" after the first line of a server's data list): "public" and "ClientData" are each swapped in
// one rename. An archive whose content is unchanged is taken over with its version text, so players fetch
// only what changed. On failure the old tree stays as it was; the reasons are in *errors.
bool Publish(const PublishOptions& options, PublishReport* report, std::vector<std::string>* errors);

}  // namespace zarn::publish
