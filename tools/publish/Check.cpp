#include "Check.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#include <tinyxml2.h>

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "Archive.h"
#include "Lists.h"
#include "TextLines.h"
#include "update/Extract.h"
#include "update/Signature.h"
#include "update/UpdateManifest.h"
#include "util/CodePage.h"
#include "util/Sha256.h"
#include "work/LauncherInfo.h"
#include "work/ServerList.h"

namespace fs = std::filesystem;

namespace zarn::publish {
namespace {

bool ReadWhole(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *text = bytes.str();
  return !in.bad();
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string ToLowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The launcher's readers tell the debugger output (standard error here) what they read; a
// check prints only problems.
class QuietDiagnostics {
 public:
  QuietDiagnostics() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~QuietDiagnostics() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
    }
  }
  QuietDiagnostics(const QuietDiagnostics&) = delete;
  QuietDiagnostics& operator=(const QuietDiagnostics&) = delete;

 private:
  int saved_ = -1;
};

// ---- archives --------------------------------------------------------------------------------

// Problems of one archive, reported at the line that names it.
void CheckArchive(const std::string& archive, const std::string& shownName, const std::string& reportFile,
                  int reportLine, const std::string& reservedName, bool verifyData, Problems& problems) {
  std::error_code ec;
  if (!fs::is_regular_file(archive, ec)) {
    problems.Add(reportFile, reportLine, shownName + " is missing: the launcher's download of it fails");
    return;
  }
  std::vector<ArchiveEntry> entries;
  if (!ListArchive(archive, &entries)) {
    problems.Add(reportFile, reportLine, shownName + " is not a zip archive: the launcher cannot unpack it");
    return;
  }
  std::set<std::string> seen;
  for (const ArchiveEntry& entry : entries) {
    if (!IsContainedRelativeName(entry.name))
      problems.Add(reportFile, reportLine,
                   shownName + ": entry " + Quote(entry.name) +
                       " would land outside the game folder: the launcher refuses the archive");
    if (!seen.insert(entry.name).second)
      problems.Add(reportFile, reportLine, shownName + ": entry " + Quote(entry.name) + " is stored twice");
    if (!reservedName.empty() && entry.name == reservedName)
      problems.Add(reportFile, reportLine,
                   shownName + ": entry " + Quote(entry.name) +
                       " is replaced by the launcher's installed data list after unpacking");
  }
  std::string error;
  if (verifyData && !VerifyArchiveData(archive, &error))
    problems.Add(reportFile, reportLine, shownName + ": " + error);
}

// A signed document's signature, reported at the document's first line.
void CheckSignature(const std::string& document, const std::string& treePath, const std::string& publicKey,
                    Problems& problems) {
  if (publicKey.empty()) return;
  const SignatureVerdict verdict =
      VerifyDocumentFile(document, SignaturePathFor(document), publicKey, treePath);
  if (!verdict)
    problems.Add(document, 1, "signature: " + verdict.reason + ": a launcher with the key refuses it");
}

// The archive against what was announced for it (either may be absent).
void CheckAnnounced(const std::string& archive, const std::string& shownName,
                    const std::optional<uint64_t>& size, const std::string& sha256, bool required,
                    const std::string& reportFile, int reportLine, Problems& problems) {
  if (required && (!size || sha256.empty()))
    problems.Add(
        reportFile, reportLine,
        shownName + " is announced without its size and SHA-256: a launcher cannot check the download");
  if (!size && sha256.empty()) return;
  std::string hex;
  uint64_t actual = 0;
  std::error_code ec;
  if (!fs::is_regular_file(archive, ec) || !Sha256File(archive, &hex, &actual))
    return;  // reported as missing
  if (size && *size != actual)
    problems.Add(reportFile, reportLine,
                 shownName + " has " + std::to_string(actual) + " bytes, " + std::to_string(*size) +
                     " announced: every download of it is refused");
  if (!sha256.empty() && ToLowerAscii(sha256) != hex)
    problems.Add(
        reportFile, reportLine,
        shownName + " has SHA-256 " + hex + ", " + sha256 + " announced: every download of it is refused");
}

// A decimal size without sign or blanks.
bool ParseSize(const std::string& text, uint64_t* size) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *size = std::stoull(text);
  return true;
}

void CheckPackageManifest(const std::string& root, const TreeCheckOptions& options, Problems& problems) {
  const std::string manifest = root + "/public/update.xml";
  std::error_code ec;
  if (!fs::is_regular_file(manifest, ec)) {
    problems.Add(manifest, 1, "missing: the launcher finds no package to install");
    return;
  }
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(manifest.c_str()) != tinyxml2::XML_SUCCESS) {
    problems.Add(manifest, doc.ErrorLineNum() > 0 ? doc.ErrorLineNum() : 1,
                 std::string("not well-formed XML (") + doc.ErrorName() +
                     "): the launcher reads it as an empty list and installs nothing");
    return;
  }
  const tinyxml2::XMLElement* rootElement = doc.FirstChildElement();
  if (!rootElement) {
    problems.Add(manifest, 1, "no root element: the launcher installs nothing");
    return;
  }
  for (const tinyxml2::XMLElement* extra = rootElement->NextSiblingElement(); extra;
       extra = extra->NextSiblingElement())
    problems.Add(manifest, extra->GetLineNum(),
                 "a second top-level element: the launcher reads only the first");

  std::map<std::string, int> lineOfKey;  // the entry whose text the launcher keeps (the last)
  struct Announced {
    std::optional<uint64_t> size;
    std::string sha256;
    std::string index;  // the SHA-256 of the package's file list
  };
  std::map<std::string, Announced> announced;
  for (const tinyxml2::XMLElement* entry = rootElement->FirstChildElement(); entry;
       entry = entry->NextSiblingElement()) {
    const int line = entry->GetLineNum();
    const char* key = entry->Attribute("key");
    if (!key || !*key) {
      problems.Add(manifest, line, "entry without \"key\": the launcher skips it");
      continue;
    }
    Announced& a = announced[key];
    a = {};
    if (const char* size = entry->Attribute("size")) {
      uint64_t value = 0;
      if (ParseSize(size, &value))
        a.size = value;
      else
        problems.Add(manifest, line,
                     "entry " + Quote(key) + ": \"size\" " + Quote(size) + " is not a byte count");
    }
    if (const char* sha256 = entry->Attribute("sha256")) {
      if (IsSha256Hex(sha256))
        a.sha256 = sha256;
      else
        problems.Add(manifest, line,
                     "entry " + Quote(key) + ": \"sha256\" " + Quote(sha256) + " is not 64 hex digits");
    }
    if (const char* index = entry->Attribute("index")) {
      if (IsSha256Hex(index))
        a.index = index;
      else
        problems.Add(manifest, line,
                     "entry " + Quote(key) + ": \"index\" " + Quote(index) + " is not 64 hex digits");
    }
    if (!entry->Attribute("md5"))
      problems.Add(manifest, line,
                   "entry " + Quote(key) + " without \"md5\": the launcher reads an empty version");
    const auto earlier = lineOfKey.find(key);
    if (earlier != lineOfKey.end())
      problems.Add(manifest, line,
                   "key " + Quote(key) + " listed again (first at line " + std::to_string(earlier->second) +
                       "): the launcher keeps only this entry");
    lineOfKey[key] = line;
  }

  // What the launcher itself reads from the file decides which archives must be there.
  PackageList packages;
  {
    QuietDiagnostics quiet;
    LoadPackageList(manifest, packages);
  }
  for (const auto& [key, version] : packages) {
    const int line = lineOfKey.count(key) ? lineOfKey[key] : 1;
    if (!IsContainedRelativeName(key)) {
      problems.Add(manifest, line,
                   "key " + Quote(key) + " names a place outside the download folder: never fetched");
      continue;
    }
    if (key.find(".zip") == std::string::npos)
      problems.Add(manifest, line,
                   "key " + Quote(key) + " has no \".zip\": the launcher downloads it but never unpacks it");
    CheckArchive(root + "/public/zip/" + key, "public/zip/" + key, manifest, line, "", options.verifyData,
                 problems);
    CheckAnnounced(root + "/public/zip/" + key, "public/zip/" + key, announced[key].size,
                   announced[key].sha256, !options.publicKey.empty(), manifest, line, problems);
    if (!announced[key].index.empty())
      CheckFileList(root + "/public/index/" + key + ".lst", "public/index/" + key + ".lst",
                    announced[key].index, root + "/public/zip/" + key, options.verifyData, manifest, line,
                    problems);
  }
  CheckSignature(manifest, "public/update.xml", options.publicKey, problems);
}

std::set<std::string> CheckServerData(const std::string& root, const TreeCheckOptions& options,
                                      Problems& problems) {
  std::set<std::string> ids;
  const std::string folder = root + "/ClientData";
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return ids;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  const std::set<std::string> present(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    const fs::path p(name);
    const std::string id = p.stem().string();
    if (p.extension() == ".zip") {
      if (!present.count(id + ".md5"))
        problems.Add(path, 1, "no " + id + ".md5 beside it: the launcher never fetches this archive");
      continue;
    }
    if (p.extension() != ".md5") continue;
    const ServerDataPlan plan = PlanServerData(root, id);
    if (!plan.hasData) {
      problems.Add(path, 1,
                   "the launcher fetches server data only for ids of 1 or more; " + Quote(id) + " is none");
      continue;
    }
    ids.insert(id);
    std::string first;
    if (!ReadFirstLine(path, first)) {
      problems.Add(path, 1, "cannot be read");
      continue;
    }
    if (first.empty())
      problems.Add(
          path, 1,
          "the first line (the data version) is empty: a player without the data equals it and never "
          "fetches " +
              id + ".zip");
    CheckArchive(folder + "/" + id + ".zip", "ClientData/" + id + ".zip", path, 1, id + ".data",
                 options.verifyData, problems);
    // Lines after the first: "size <n>" and "sha256 <hex>".
    std::optional<uint64_t> size;
    std::string sha256, index, text;
    ReadWhole(path, &text);
    for (size_t at = text.find('\n'); at != std::string::npos && at + 1 < text.size();) {
      const size_t end = text.find('\n', at + 1);
      std::string line = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const int lineNo = LineOfOffset(text, at + 1);
      uint64_t value = 0;
      if (line.rfind("size ", 0) == 0) {
        if (ParseSize(line.substr(5), &value))
          size = value;
        else
          problems.Add(path, lineNo, Quote(line) + ": not a byte count");
      } else if (line.rfind("sha256 ", 0) == 0) {
        if (IsSha256Hex(line.substr(7)))
          sha256 = line.substr(7);
        else
          problems.Add(path, lineNo, Quote(line) + ": not 64 hex digits");
      } else if (line.rfind("index ", 0) == 0) {
        if (IsSha256Hex(line.substr(6)))
          index = line.substr(6);
        else
          problems.Add(path, lineNo, Quote(line) + ": not 64 hex digits");
      }
      at = end;
    }
    CheckAnnounced(folder + "/" + id + ".zip", "ClientData/" + id + ".zip", size, sha256,
                   !options.publicKey.empty(), path, 1, problems);
    if (!index.empty())
      CheckFileList(folder + "/" + id + ".lst", "ClientData/" + id + ".lst", index,
                    folder + "/" + id + ".zip", options.verifyData, path, 1, problems);
    CheckSignature(path, "ClientData/" + id + ".md5", options.publicKey, problems);
  }
  return ids;
}

// ---- JSON documents --------------------------------------------------------------------------

enum class JsonType { kString, kInt32, kNumber, kBool, kNull, kObject, kArray };

const char* TypeName(JsonType type) {
  switch (type) {
    case JsonType::kString:
      return "a text";
    case JsonType::kInt32:
    case JsonType::kNumber:
      return "a number";
    case JsonType::kBool:
      return "true or false";
    case JsonType::kNull:
      return "null";
    case JsonType::kObject:
      return "an object";
    case JsonType::kArray:
      return "an array";
  }
  return "a value";
}

struct JsonMember {
  std::string name;
  int line = 1;
  JsonType type = JsonType::kNull;
  std::string text;               // for strings
  std::optional<uint64_t> count;  // for whole numbers of 0 or more
};

// The members of a document's top-level object with the line of each name, read with the
// same parser (and flags) as the launcher's.
struct TopLevelReader : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TopLevelReader> {
  const std::string* body = nullptr;
  const rapidjson::StringStream* stream = nullptr;
  int depth = 0;
  bool rootIsObject = false;
  std::vector<JsonMember> members;

  bool Value(JsonType type, std::string text = {}, std::optional<uint64_t> count = {}) {
    if (depth == 1 && !members.empty()) {
      members.back().type = type;
      members.back().text = std::move(text);
      members.back().count = count;
    }
    return true;
  }
  static std::optional<uint64_t> Count(int64_t n) {
    return n >= 0 ? std::optional<uint64_t>(static_cast<uint64_t>(n)) : std::nullopt;
  }
  bool Null() { return Value(JsonType::kNull); }
  bool Bool(bool) { return Value(JsonType::kBool); }
  bool Int(int i) { return Value(JsonType::kInt32, {}, Count(i)); }
  bool Uint(unsigned u) { return Value(u <= INT_MAX ? JsonType::kInt32 : JsonType::kNumber, {}, u); }
  bool Int64(int64_t i) { return Value(JsonType::kNumber, {}, Count(i)); }
  bool Uint64(uint64_t u) { return Value(JsonType::kNumber, {}, u); }
  bool Double(double) { return Value(JsonType::kNumber); }
  bool String(const char* s, rapidjson::SizeType n, bool) {
    return Value(JsonType::kString, std::string(s, n));
  }
  bool StartObject() {
    if (depth == 0) rootIsObject = true;
    Value(JsonType::kObject);
    ++depth;
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    --depth;
    return true;
  }
  bool StartArray() {
    Value(JsonType::kArray);
    ++depth;
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    --depth;
    return true;
  }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    if (depth == 1)
      members.push_back({std::string(s, n), LineOfOffset(*body, stream->Tell()), JsonType::kNull, {}, {}});
    return true;
  }
};

// Parses body; false (with the problem added) when it is not a JSON object.
bool ReadTopLevel(const std::string& path, const std::string& body, const std::string& consequence,
                  std::map<std::string, JsonMember>* members, Problems& problems) {
  TopLevelReader handler;
  handler.body = &body;
  rapidjson::StringStream stream(body.c_str());
  handler.stream = &stream;
  rapidjson::Reader reader;
  const rapidjson::ParseResult result = reader.Parse(stream, handler);
  if (!result) {
    problems.Add(path, LineOfOffset(body, result.Offset()),
                 std::string(rapidjson::GetParseError_En(result.Code())) + ": " + consequence);
    return false;
  }
  if (!handler.rootIsObject) {
    problems.Add(path, 1, "must be a JSON object: " + consequence);
    return false;
  }
  for (JsonMember& member : handler.members) {
    const auto [it, fresh] = members->emplace(member.name, member);
    if (!fresh)
      problems.Add(path, member.line,
                   "member " + Quote(member.name) + " repeated (first at line " +
                       std::to_string(it->second.line) + "): the launcher takes the first");
  }
  return true;
}

bool IsOwnVersionForm(const std::string& text) {
  // "%hu.%hu.%hu.%hu": four numbers up to 65535 without leading zeros.
  int parts = 0;
  size_t i = 0;
  while (i <= text.size()) {
    const size_t dot = text.find('.', i);
    const std::string part = text.substr(i, dot == std::string::npos ? std::string::npos : dot - i);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos ||
        (part.size() > 1 && part[0] == '0') || std::stol(part) > 65535)
      return false;
    ++parts;
    if (dot == std::string::npos) break;
    i = dot + 1;
  }
  return parts == 4;
}

bool IsHttpAddress(const std::string& text) {
  return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

// ---- server list -----------------------------------------------------------------------------

// "%d" reads leading blanks, a sign and digits; anything after them is dropped silently.
bool IsWholeDecimal(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
  if (*p == '+' || *p == '-') ++p;
  if (*p < '0' || *p > '9') return false;
  while (*p >= '0' && *p <= '9') ++p;
  return *p == '\0';
}

}  // namespace

void Problems::Print(std::ostream& out) const {
  for (const Problem& p : list_) out << p.file << ':' << p.line << ": " << p.text << '\n';
}

std::set<std::string> CheckContentTree(const std::string& root, const TreeCheckOptions& options,
                                       Problems& problems) {
  CheckPackageManifest(root, options, problems);
  return CheckServerData(root, options, problems);
}

void CheckVersionManifest(const std::string& path, Problems& problems, const std::string& publicKey,
                          const std::string& launcher) {
  std::string body;
  if (!ReadWhole(path, &body)) {
    problems.Add(path, 1, "cannot be read");
    return;
  }
  const size_t before = problems.size();
  if (body.size() >= 4096)
    problems.Add(path, 1,
                 "the launcher reads at most 4095 bytes; this one has " + std::to_string(body.size()) +
                     " and is cut off");
  if (body.find('\0') != std::string::npos)
    problems.Add(path, LineOfOffset(body, body.find('\0')),
                 "holds a NUL byte: the launcher reads only up to it");
  std::map<std::string, JsonMember> members;
  if (!ReadTopLevel(path, body, "the launcher asks the player to download it again", &members, problems))
    return;

  auto required = [&](const char* name, const char* why) -> const JsonMember* {
    const auto it = members.find(name);
    if (it == members.end()) {
      problems.Add(path, 1, std::string("no ") + Quote(name) + ": " + why);
      return nullptr;
    }
    if (it->second.type != JsonType::kString) {
      problems.Add(path, it->second.line,
                   Quote(name) + " is " + TypeName(it->second.type) + ", not a text: " + why);
      return nullptr;
    }
    return &it->second;
  };
  const char* invalid = "the launcher refuses the manifest";
  if (const JsonMember* version = required("version", invalid)) {
    if (!IsOwnVersionForm(version->text))
      problems.Add(
          path, version->line,
          "\"version\" " + Quote(version->text) +
              " is not of the form a.b.c.d (numbers 0 to 65535, no leading zeros): no launcher ever has "
              "it, so every start downloads the self-update again");
  }
  if (const JsonMember* url = required("url", invalid)) {
    if (url->text.empty() || url->text.back() == '/')
      problems.Add(path, url->line, "\"url\" names no file: the self-update has nowhere to go");
    else if (!IsHttpAddress(url->text))
      problems.Add(path, url->line, "\"url\" " + Quote(url->text) + " is not an http:// or https:// address");
  }
  const auto list = members.find("serverlist");
  if (list == members.end() || list->second.type != JsonType::kString || list->second.text.empty()) {
    const std::string why =
        list == members.end() ? "no \"serverlist\""
        : list->second.type != JsonType::kString
            ? std::string("\"serverlist\" is ") + TypeName(list->second.type) + ", not a text"
            : "\"serverlist\" is empty";
    problems.Add(path, list == members.end() ? 1 : list->second.line,
                 why + ": the launcher fetches the server list from an empty address and fails");
  } else if (!IsHttpAddress(list->second.text)) {
    problems.Add(path, list->second.line,
                 "\"serverlist\" " + Quote(list->second.text) + " is not an http:// or https:// address");
  }
  std::optional<uint64_t> size;
  std::string sha256;
  if (const auto it = members.find("size"); it != members.end()) {
    if (it->second.count)
      size = it->second.count;
    else
      problems.Add(path, it->second.line,
                   "\"size\" is not a byte count: the launcher cannot check the new launcher");
  }
  if (const auto it = members.find("sha256"); it != members.end()) {
    if (it->second.type == JsonType::kString && IsSha256Hex(it->second.text))
      sha256 = it->second.text;
    else
      problems.Add(path, it->second.line,
                   "\"sha256\" is not 64 hex digits: the launcher cannot check the new launcher");
  }
  if (!launcher.empty()) {
    std::error_code ec;
    if (!fs::is_regular_file(launcher, ec))
      problems.Add(launcher, 1, "cannot be read");
    else
      CheckAnnounced(launcher, launcher, size, sha256, !publicKey.empty(), path, 1, problems);
  }
  CheckSignature(path, kVersionManifestTreePath, publicKey, problems);
  for (const char* optional : {"titleBar", "website"}) {
    const auto it = members.find(optional);
    if (it != members.end() && it->second.type != JsonType::kString)
      problems.Add(
          path, it->second.line,
          Quote(optional) + " is " + TypeName(it->second.type) + ", not a text: the launcher ignores it");
  }
  bool accepted;
  {
    QuietDiagnostics quiet;
    accepted = ParseVersionManifest(body).has_value();
  }
  if (problems.size() == before && !accepted)
    problems.Add(path, 1, "the launcher does not accept this manifest");
}

void CheckLoginInfo(const std::string& path, Problems& problems) {
  std::string body;
  if (!ReadWhole(path, &body)) {
    problems.Add(path, 1, "cannot be read");
    return;
  }
  std::map<std::string, JsonMember> members;
  if (!ReadTopLevel(path, body, "the launcher opens the service pages without their addresses", &members,
                    problems))
    return;
  const auto lander = members.find("lander_id");
  if (lander == members.end())
    problems.Add(path, 1, "no \"lander_id\": the service pages get Lid=0");
  else if (lander->second.type != JsonType::kInt32)
    problems.Add(path, lander->second.line,
                 std::string("\"lander_id\" is ") + TypeName(lander->second.type) +
                     (lander->second.type == JsonType::kNumber ? " beyond 32 bits or not whole" : "") +
                     ", not a 32-bit integer: the launcher reads 0");
  for (const char* name : {"find_pwd_url", "recharge_url"}) {
    const auto it = members.find(name);
    const std::string button = std::string(name) == "recharge_url" ? "recharge" : "password recovery";
    if (it == members.end())
      problems.Add(path, 1, std::string("no ") + Quote(name) + ": the " + button + " button opens no page");
    else if (it->second.type != JsonType::kString)
      problems.Add(path, it->second.line,
                   Quote(name) + " is " + TypeName(it->second.type) + ", not a text: the " + button +
                       " button opens no page");
    else if (it->second.text.empty())
      problems.Add(path, it->second.line, Quote(name) + " is empty: the " + button + " button opens no page");
    else if (it->second.text.find('?') != std::string::npos)
      problems.Add(
          path, it->second.line,
          Quote(name) + " already holds a \"?\": the launcher appends \"?Lid=\" and the address gets two");
  }
  // The launcher's own reader deletes what it read: give it a copy.
  const std::string copy = path + ".zarn-check";
  std::error_code ec;
  fs::copy_file(path, copy, fs::copy_options::overwrite_existing, ec);
  LoginInfo info;
  bool read = false;
  if (!ec) {
    QuietDiagnostics quiet;
    read = ReadLoginInfo(copy, &info);
  }
  if (!read) problems.Add(path, 1, "the launcher cannot read it");
  fs::remove(copy, ec);
}

void CheckServerList(const std::string& path, const std::set<std::string>* treeIds, Problems& problems) {
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
    problems.Add(path, doc.ErrorLineNum() > 0 ? doc.ErrorLineNum() : 1,
                 std::string("not well-formed XML (") + doc.ErrorName() +
                     "): the launcher shows its fallback copy or no server");
    return;
  }
  const tinyxml2::XMLElement* root = doc.FirstChildElement();
  if (!root) {
    problems.Add(path, 1, "no root element: the launcher shows no server");
    return;
  }
  if (!root->FirstChildElement())
    problems.Add(path, root->GetLineNum(), "no zone: the launcher shows no server");

  auto number = [&](const tinyxml2::XMLElement* e, const char* name, bool needed, const std::string& what) {
    const char* value = e->Attribute(name);
    if (!value) {
      if (needed)
        problems.Add(path, e->GetLineNum(),
                     what + " has no \"color\": it is drawn black on the tree's black background");
      return;
    }
    if (!IsWholeDecimal(value))
      problems.Add(path, e->GetLineNum(),
                   what + ": " + Quote(name) + " " + Quote(value) +
                       " is not a decimal number; the launcher reads " + std::to_string(ReadDecimal(value)));
  };
  auto text = [&](const tinyxml2::XMLElement* e, const char* name, bool converted, bool commandLine,
                  const std::string& what) {
    const char* value = e->Attribute(name);
    const std::string v = value ? value : "";
    if (converted && Utf8ToAnsi(v).size() > 255)
      problems.Add(path, e->GetLineNum(), what + ": " + Quote(name) + " is longer than 255 bytes and is cut");
    if (commandLine && v.find_first_of(" \t") != std::string::npos)
      problems.Add(path, e->GetLineNum(),
                   what + ": " + Quote(name) + " " + Quote(v) +
                       " holds a blank: the game's command line is split at blanks");
    return v;
  };

  int zoneIndex = 0;
  for (const tinyxml2::XMLElement* zone = root->FirstChildElement(); zone;
       zone = zone->NextSiblingElement()) {
    const std::string zoneWhat = "zone " + std::to_string(++zoneIndex);
    number(zone, "hide", false, zoneWhat);
    number(zone, "expand", false, zoneWhat);
    const bool hidden = ReadDecimal(zone->Attribute("hide") ? zone->Attribute("hide") : "") != 0;
    if (hidden) continue;  // neither shown nor read further
    number(zone, "color", true, zoneWhat);
    if (text(zone, "name", true, false, zoneWhat).empty())
      problems.Add(path, zone->GetLineNum(), zoneWhat + " has no \"name\": its tree item has no text");
    std::string realname = text(zone, "realname", true, false, zoneWhat);
    realname = TrimAnsi(Utf8ToAnsi(realname));
    if (realname.empty())
      problems.Add(path, zone->GetLineNum(), zoneWhat + " has no \"realname\": the game gets an empty zone");
    else if (realname.find_first_of(" \t") != std::string::npos)
      problems.Add(path, zone->GetLineNum(),
                   zoneWhat + ": \"realname\" " + Quote(realname) +
                       " holds a blank: the game's command line is split at blanks");
    if (text(zone, "version", false, true, zoneWhat).empty())
      problems.Add(path, zone->GetLineNum(),
                   zoneWhat + " has no \"version\": the game gets an empty version");

    int serverIndex = 0;
    for (const tinyxml2::XMLElement* server = zone->FirstChildElement(); server;
         server = server->NextSiblingElement()) {
      const std::string what = zoneWhat + ", server " + std::to_string(++serverIndex);
      number(server, "hide", false, what);
      if (ReadDecimal(server->Attribute("hide") ? server->Attribute("hide") : "") != 0) continue;
      number(server, "color", true, what);
      if (text(server, "name", true, true, what).empty())
        problems.Add(path, server->GetLineNum(), what + " has no \"name\": the game gets an empty server");
      text(server, "cnname", true, false, what);
      if (text(server, "ip", false, true, what).empty())
        problems.Add(path, server->GetLineNum(), what + " has no \"ip\"");
      const std::string port = text(server, "port", false, true, what);
      if (!IsWholeDecimal(port.c_str()) || ReadDecimal(port.c_str()) < 1 || ReadDecimal(port.c_str()) > 65535)
        problems.Add(path, server->GetLineNum(),
                     what + ": \"port\" " + Quote(port) + " is not a port number");
      const std::string id = text(server, "id", false, true, what);
      if (id.empty()) {
        problems.Add(path, server->GetLineNum(), what + " has no \"id\": the launcher cannot start it");
        continue;
      }
      if (id.find_first_of("/\\") != std::string::npos) {
        problems.Add(path, server->GetLineNum(), what + ": \"id\" " + Quote(id) + " holds a path separator");
        continue;
      }
      const ServerDataPlan plan = PlanServerData("", id);
      if (plan.hasData && treeIds && !treeIds->count(id))
        problems.Add(path, server->GetLineNum(),
                     what + ": the content tree has no ClientData/" + id +
                         ".md5: starting this server fails to download its data");
    }
  }
  ServerListState state;
  bool loaded;
  {
    QuietDiagnostics quiet;
    loaded = LoadServerList(path, false, "", state).loaded;
  }
  if (!loaded) problems.Add(path, 1, "the launcher cannot load it");
}

}  // namespace zarn::publish
