#include "Layout.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "TextLines.h"

namespace fs = std::filesystem;

namespace zarn::publish {
namespace {

std::vector<std::string> SplitSegments(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t slash = text.find('/', start);
    const size_t end = slash == std::string_view::npos ? text.size() : slash;
    out.emplace_back(text.substr(start, end - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return out;
}

bool MatchSegments(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& path,
                   size_t s) {
  while (p < pattern.size()) {
    if (pattern[p] == "**") {
      // Zero or more whole names.
      for (size_t k = s; k <= path.size(); ++k)
        if (MatchSegments(pattern, p + 1, path, k)) return true;
      return false;
    }
    if (s >= path.size() || !MatchName(pattern[p], path[s])) return false;
    ++p;
    ++s;
  }
  return s == path.size();
}

bool HasPrefixFolder(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

}  // namespace

bool MatchName(std::string_view pattern, std::string_view name) {
  // Iterative wildcard match with one backtracking point for the last "*".
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::optional<Pattern> Pattern::Parse(std::string_view text, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<Pattern> {
    if (error) *error = "pattern \"" + std::string(text) + "\": " + why;
    return std::nullopt;
  };
  if (text.empty()) return fail("empty");
  if (text.front() == '/') return fail("must be relative to the game folder");
  if (text.find('\\') != std::string_view::npos) return fail("uses \"\\\"; folders are separated by \"/\"");
  Pattern pattern;
  pattern.text_ = std::string(text);
  std::string_view body = text;
  const bool folder = body.back() == '/';
  while (!body.empty() && body.back() == '/') body.remove_suffix(1);
  if (body.empty()) return fail("names no file");
  pattern.segments_ = SplitSegments(body);
  for (const std::string& segment : pattern.segments_) {
    if (segment.empty()) return fail("has an empty name between \"/\"");
    if (segment == "." || segment == "..") return fail("has a \".\" or \"..\" name");
    if (segment != "**" && segment.find("**") != std::string::npos)
      return fail("\"**\" must stand alone between \"/\"");
  }
  if (folder) pattern.segments_.push_back("**");
  pattern.literal_ = !folder && body.find_first_of("*?") == std::string_view::npos;
  return pattern;
}

bool Pattern::Matches(std::string_view relativePath) const {
  if (literal_) {
    const std::string_view base = std::string_view(text_).substr(0, text_.find_last_not_of('/') + 1);
    return relativePath == base || HasPrefixFolder(relativePath, base);
  }
  return MatchSegments(segments_, 0, SplitSegments(relativePath), 0);
}

bool IsValidPackageKey(std::string_view key) {
  if (key.size() <= 4 || key.substr(key.size() - 4) != ".zip") return false;
  if (key.front() == '.') return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

bool IsValidServerId(std::string_view id) {
  if (id.empty() || id.size() > 9) return false;
  if (!std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  return id.find_first_not_of('0') != std::string_view::npos;
}

bool ReadLayout(const std::string& path, Layout* layout, std::vector<std::string>* errors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    errors->push_back(path + ": cannot be read");
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const std::string text = bytes.str();
  rapidjson::Document doc;
  doc.Parse(text.c_str(), text.size());
  if (doc.HasParseError()) {
    errors->push_back(path + ":" + std::to_string(LineOfOffset(text, doc.GetErrorOffset())) + ": " +
                      rapidjson::GetParseError_En(doc.GetParseError()));
    return false;
  }
  const size_t before = errors->size();
  auto error = [&](const std::string& what) { errors->push_back(path + ": " + what); };
  if (!doc.IsObject()) {
    error("must be a JSON object");
    return false;
  }
  static const std::set<std::string> kMembers = {"packages", "default", "exclude", "servers"};
  for (const auto& member : doc.GetObject())
    if (!kMembers.count(member.name.GetString()))
      error("unknown member \"" + std::string(member.name.GetString()) + "\"");

  auto readPatterns = [&](const rapidjson::Value& value, const std::string& where,
                          std::vector<Pattern>* out) {
    if (!value.IsArray()) {
      error(where + " must be an array of patterns");
      return;
    }
    for (const auto& item : value.GetArray()) {
      if (!item.IsString()) {
        error(where + " holds a value that is not a text");
        continue;
      }
      std::string why;
      if (auto pattern = Pattern::Parse(item.GetString(), &why))
        out->push_back(std::move(*pattern));
      else
        error(where + ": " + why);
    }
  };

  std::set<std::string> keys;
  const auto packages = doc.FindMember("packages");
  if (packages == doc.MemberEnd() || !packages->value.IsArray()) {
    error("\"packages\" must be an array");
  } else {
    size_t index = 0;
    for (const auto& item : packages->value.GetArray()) {
      const std::string where = "package " + std::to_string(++index);
      if (!item.IsObject()) {
        error(where + " must be an object");
        continue;
      }
      PackageRule rule;
      const auto key = item.FindMember("key");
      if (key == item.MemberEnd() || !key->value.IsString() || !IsValidPackageKey(key->value.GetString())) {
        error(where +
              ": \"key\" must be a file name of letters, digits, \".\", \"_\" or \"-\" ending in \".zip\"");
        continue;
      }
      rule.key = key->value.GetString();
      if (!keys.insert(rule.key).second) error(where + ": key \"" + rule.key + "\" is listed twice");
      for (const auto& member : item.GetObject()) {
        const std::string name = member.name.GetString();
        if (name != "key" && name != "files") error(where + ": unknown member \"" + name + "\"");
      }
      const auto files = item.FindMember("files");
      if (files == item.MemberEnd())
        error(where + " (\"" + rule.key + "\") has no \"files\"");
      else
        readPatterns(files->value, where + " (\"" + rule.key + "\") \"files\"", &rule.files);
      layout->packages.push_back(std::move(rule));
    }
  }
  const auto fallback = doc.FindMember("default");
  if (fallback != doc.MemberEnd()) {
    if (!fallback->value.IsString() || !IsValidPackageKey(fallback->value.GetString()))
      error("\"default\" must be a package key ending in \".zip\"");
    else
      layout->defaultKey = fallback->value.GetString();
  }
  const auto exclude = doc.FindMember("exclude");
  if (exclude != doc.MemberEnd()) readPatterns(exclude->value, "\"exclude\"", &layout->exclude);

  const auto servers = doc.FindMember("servers");
  if (servers != doc.MemberEnd()) {
    if (!servers->value.IsArray()) {
      error("\"servers\" must be an array");
    } else {
      std::set<std::string> ids;
      size_t index = 0;
      for (const auto& item : servers->value.GetArray()) {
        const std::string where = "server " + std::to_string(++index);
        const auto id = item.IsObject() ? item.FindMember("id") : item.MemberEnd();
        const auto folder = item.IsObject() ? item.FindMember("folder") : item.MemberEnd();
        if (!item.IsObject() || id == item.MemberEnd() || folder == item.MemberEnd() ||
            !id->value.IsString() || !folder->value.IsString()) {
          error(where + " must be an object with the texts \"id\" and \"folder\"");
          continue;
        }
        ServerRule rule{id->value.GetString(), folder->value.GetString()};
        if (!IsValidServerId(rule.id))
          error(where + ": \"id\" must be decimal digits naming a number of 1 or more");
        if (!ids.insert(rule.id).second) error(where + ": id \"" + rule.id + "\" is listed twice");
        while (!rule.folder.empty() && rule.folder.back() == '/') rule.folder.pop_back();
        std::string why;
        auto asPattern = Pattern::Parse(rule.folder, &why);
        if (!asPattern || rule.folder.find_first_of("*?") != std::string::npos)
          error(where + ": \"folder\" must be a folder below the game folder" +
                (why.empty() ? "" : ": " + why));
        layout->servers.push_back(std::move(rule));
      }
      for (const ServerRule& a : layout->servers)
        for (const ServerRule& b : layout->servers)
          if (&a != &b && HasPrefixFolder(b.folder, a.folder))
            error("server folder \"" + b.folder + "\" lies inside server folder \"" + a.folder + "\"");
    }
  }
  return errors->size() == before;
}

bool AssignFiles(const std::string& gameFolder, const Layout& layout, Assignment* out,
                 std::vector<std::string>* errors) {
  const size_t before = errors->size();
  std::error_code ec;
  if (!fs::is_directory(gameFolder, ec)) {
    errors->push_back(gameFolder + ": not a folder");
    return false;
  }
  for (const ServerRule& server : layout.servers)
    if (!fs::is_directory(fs::path(gameFolder) / server.folder, ec))
      errors->push_back("server " + server.id + ": folder \"" + server.folder +
                        "\" is not in the game folder");

  std::vector<SourceFile> files;
  fs::recursive_directory_iterator it(gameFolder, ec), end;
  if (ec) {
    errors->push_back(gameFolder + ": " + ec.message());
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      errors->push_back(gameFolder + ": " + ec.message());
      return false;
    }
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().lexically_relative(gameFolder).generic_string();
    if (entry.is_directory(ec) && !entry.is_symlink(ec)) continue;
    if (!entry.is_regular_file(ec)) {
      if (entry.is_directory(ec)) {
        errors->push_back(name + ": a link to a folder; link the files or copy the folder");
        continue;
      }
      errors->push_back(name + ": not a regular file");
      continue;
    }
    if (name.find('\\') != std::string::npos) {
      errors->push_back(name + ": the launcher reads \"\\\" in an entry name as a folder separator");
      continue;
    }
    files.push_back({name, entry.path().string(), entry.file_size(ec)});
  }
  std::sort(files.begin(), files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });

  std::map<std::string, std::vector<SourceFile>> packages;
  for (const PackageRule& rule : layout.packages) packages[rule.key];
  std::map<std::string, std::vector<SourceFile>> servers;
  for (const ServerRule& rule : layout.servers) servers[rule.id];
  std::vector<std::string> leftovers;

  for (SourceFile& file : files) {
    if (std::any_of(layout.exclude.begin(), layout.exclude.end(),
                    [&](const Pattern& p) { return p.Matches(file.name); })) {
      ++out->excluded;
      continue;
    }
    const auto server = std::find_if(layout.servers.begin(), layout.servers.end(), [&](const ServerRule& s) {
      return HasPrefixFolder(file.name, s.folder);
    });
    if (server != layout.servers.end()) {
      SourceFile data = file;
      data.name = file.name.substr(server->folder.size() + 1);
      if (data.name == server->id + ".data") {
        errors->push_back(file.name +
                          ": the launcher writes this name itself after unpacking the server's data");
        continue;
      }
      servers[server->id].push_back(std::move(data));
      continue;
    }
    const auto rule = std::find_if(layout.packages.begin(), layout.packages.end(), [&](const PackageRule& r) {
      return std::any_of(r.files.begin(), r.files.end(),
                         [&](const Pattern& p) { return p.Matches(file.name); });
    });
    if (rule != layout.packages.end())
      packages[rule->key].push_back(std::move(file));
    else if (layout.defaultKey)
      packages[*layout.defaultKey].push_back(std::move(file));
    else
      leftovers.push_back(file.name);
  }

  if (!leftovers.empty()) {
    const size_t shown = std::min<size_t>(leftovers.size(), 20);
    for (size_t i = 0; i < shown; ++i) errors->push_back(leftovers[i] + ": no package takes this file");
    if (leftovers.size() > shown)
      errors->push_back("... and " + std::to_string(leftovers.size() - shown) +
                        " more files no package takes");
    errors->push_back("add patterns for them, an \"exclude\", or a \"default\" package");
  }
  for (const PackageRule& rule : layout.packages)
    if (packages[rule.key].empty()) errors->push_back("package \"" + rule.key + "\" takes no file");
  for (const ServerRule& rule : layout.servers)
    if (servers[rule.id].empty())
      errors->push_back("server " + rule.id + ": folder \"" + rule.folder + "\" holds no file");

  for (auto& [key, list] : packages)
    if (!list.empty()) out->packages.push_back({key, std::move(list)});
  for (auto& [id, list] : servers) out->servers.push_back({id, std::move(list)});
  return errors->size() == before;
}

}  // namespace zarn::publish
