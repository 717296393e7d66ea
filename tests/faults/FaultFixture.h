// The published and the installed state that every fault test starts from, and the checks of
// the game folder after a fault and after the next start.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "FaultServer.h"
#include "GameFolder.h"
#include "support/TestSupport.h"

namespace zarn::test {

// Installed: a.zip, b.zip, d.zip at version 1 and the data of server 12 at "srv-1".
// Published: a.zip and b.zip changed, c.zip new, d.zip unchanged, server 12 at "srv-2".
struct Content {
  std::vector<Package> installed;
  std::vector<Package> published;
  Package serverData;      // entries relative to Custom/12/
  std::string serverList;  // ClientData/12.md5
  static Content Make();
};

class FaultFixture {
 public:
  FaultFixture();

  // The folder as the earlier update left it (its contents replaced; the folder itself stays,
  // so that it may be a mount point).
  void ResetGameFolder();
  // Serves the published content (again), undoing every fault and replaced body.
  void PublishAll();
  // Checks that hold after any interruption: "update.xml" is a whole manifest and claims no
  // package whose files are not all in place, likewise the server's installed list; the
  // player's own files and everything outside the game folder are untouched.
  void ExpectConsistent(const std::string& when);
  // After a complete update: every published file in place, the published manifest installed,
  // no archive left behind.
  void ExpectComplete(const std::string& when);

  TempDir tmp;
  GameFolder game;
  FaultServer server;
  Content content;
  std::string installedManifest;  // bytes of update.xml before the update
  std::map<std::string, std::string> parentBefore;
};

}  // namespace zarn::test
