// How a game folder is cut into packages: the layout file an operator writes, the patterns in
// it, and the assignment of every file of the folder to a package or a server's data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::publish {

// A path pattern relative to the game folder, "/" separated. "*" matches any run of
// characters within one name, "?" one character, a whole "**" name any number of folders.
// A pattern ending in "/", or one without wildcards that names a folder, takes everything
// below that folder.
class Pattern {
 public:
  // Nothing when the text cannot be a pattern (empty, absolute, "\" or a ".." name); why in
  // *error.
  static std::optional<Pattern> Parse(std::string_view text, std::string* error);
  bool Matches(std::string_view relativePath) const;
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::vector<std::string> segments_;
  bool literal_ = false;  // no wildcard: the path itself or anything below it
};

// "*" and "?" within one name (no "/").
bool MatchName(std::string_view pattern, std::string_view name);

struct PackageRule {
  std::string key;  // archive name below public/zip/, ends in ".zip"
  std::vector<Pattern> files;
};

struct ServerRule {
  std::string id;      // the server list's "id": decimal, 1 or more
  std::string folder;  // below the game folder; its files become the server's data archive
};

struct Layout {
  std::vector<PackageRule> packages;
  std::optional<std::string> defaultKey;  // where files no rule takes go; none: they are an error
  std::vector<Pattern> exclude;
  std::vector<ServerRule> servers;
};

// Reads a layout file (JSON). False with a message per fault in *errors.
bool ReadLayout(const std::string& path, Layout* layout, std::vector<std::string>* errors);

// A package key the launcher can fetch and unpack: letters, digits, ".", "_", "-", ending in ".zip".
bool IsValidPackageKey(std::string_view key);
// A server id with data of its own: decimal digits whose number is 1 or more.
bool IsValidServerId(std::string_view id);

// One file of the game folder.
struct SourceFile {
  std::string name;  // entry name in the archive: relative, "/" separated
  std::string path;  // where it is read from
  uint64_t size = 0;
};

struct PackagePlan {
  std::string key;
  std::vector<SourceFile> files;  // byte order of the names
};

struct ServerPlan {
  std::string id;
  std::vector<SourceFile> files;  // names relative to the server's folder
};

struct Assignment {
  std::vector<PackagePlan> packages;  // byte order of the keys
  std::vector<ServerPlan> servers;    // byte order of the ids
  uint64_t excluded = 0;              // files the layout leaves out
};

// Walks the game folder and gives every file its package or server. False with messages in
// *errors (files no rule takes without a default package, packages that take nothing, names
// the launcher could not reproduce, files that are not regular files).
bool AssignFiles(const std::string& gameFolder, const Layout& layout, Assignment* out,
                 std::vector<std::string>* errors);

}  // namespace zarn::publish
