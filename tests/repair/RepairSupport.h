// A published content tree and a player's game folder installed from it, and nginx serving the
// tree on 127.0.0.1 with an access log of the bytes it sent.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "publish/PublishTestSupport.h"

namespace zarn::test {

struct PublishedGame {
  std::string master;                        // the operator's game folder
  std::string content;                       // zarn-publish's tree
  std::map<std::string, std::string> files;  // relative path → bytes, as published
};

// Publishes a game of `count` data files (plus a few in "bin/") in two packages, "bin.zip" and
// "data.zip", and server data for id 12. Empty content on failure (the reason in *error).
PublishedGame PublishGame(const TempDir& dir, int count, size_t fileSize, std::string* error);

// A player's folder as the update leaves it: every package file and the installed manifest,
// plus files no list names (a save, ClientConfig.cfg).
void InstallGame(const PublishedGame& game, const std::string& player);

// The compressed size of an entry of a zip archive (0 when absent).
uint64_t CompressedSize(const std::string& archive, const std::string& entry);

// nginx serving root at 127.0.0.1:port() until destroyed.
class Nginx {
 public:
  explicit Nginx(const std::string& root, const std::string& scratch);
  ~Nginx();
  bool running() const { return pid_ > 0; }
  std::string url(const std::string& path) const;
  // Sum of the body bytes sent for requests whose path starts with prefix (from the access log,
  // once it holds `requests` lines or more).
  uint64_t BodyBytesSent(const std::string& prefix);

 private:
  std::string scratch_;
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace zarn::test
