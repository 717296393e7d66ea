#include "DemoServer.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "DemoArchive.h"
#include "app/Version.h"
#include "update/FileList.h"
#include "util/Sha256.h"

namespace zarn::demo {
namespace {

namespace fs = std::filesystem;

constexpr size_t kChunk = 64 * 1024;

std::string ContentType(const std::string& file) {
  static const std::map<std::string, std::string> types = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".xml", "text/xml; charset=utf-8"},
      {".json", "application/json; charset=utf-8"},
      {".txt", "text/plain; charset=utf-8"},
      {".md5", "text/plain; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".png", "image/png"},
      {".zip", "application/zip"},
  };
  const fs::path path(file);
  const auto it = types.find(path.extension().string());
  if (it != types.end()) return it->second;
  // The login information has no extension; the launcher reads it as JSON.
  if (file.find("ClientLogonJson") != std::string::npos) return "application/json; charset=utf-8";
  return "application/octet-stream";
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A relative name that stays below its folder: no empty, "." or ".." segment, no NUL.
bool IsSafeRelative(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos) return false;
  std::stringstream segments(name);
  std::string segment;
  while (std::getline(segments, segment, '/')) {
    if (segment.empty() || segment == "." || segment == "..") return false;
  }
  return name.back() != '/';
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string FormDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// key=value&key=value; the first of a key wins.
std::map<std::string, std::string> ParseForm(const std::string& body) {
  std::map<std::string, std::string> fields;
  std::stringstream pairs(body);
  std::string pair;
  while (std::getline(pairs, pair, '&')) {
    const size_t eq = pair.find('=');
    const std::string key = FormDecode(pair.substr(0, eq));
    const std::string value = eq == std::string::npos ? std::string() : FormDecode(pair.substr(eq + 1));
    fields.emplace(key, value);
  }
  return fields;
}

std::string Reply(int code, const std::string& message) {
  return "{\"Code\":" + std::to_string(code) + ",\"Message\":\"" + message + "\"}";
}

}  // namespace

DemoServer::DemoServer(std::string contentDir) {
  std::error_code ec;
  const fs::path canonical = fs::weakly_canonical(fs::absolute(contentDir, ec), ec);
  content_ = canonical.string();
  while (content_.size() > 1 && content_.back() == '/') content_.pop_back();

  BuildArchives(content_, "");
  if (setupError_.empty()) AnnounceFileLists();

  server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { HandleGet(req, res); });
  server_.Post("/View/UserRegInter",
               [this](const httplib::Request& req, httplib::Response& res) { HandleRegistration(req, res); });
  server_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    if (log_) log_(req.remote_addr + " " + req.method + " " + req.target + " " + std::to_string(res.status));
  });
}

DemoServer::~DemoServer() {
  server_.stop();
  if (!cacheDir_.empty()) {
    std::error_code ec;
    fs::remove_all(cacheDir_, ec);
  }
}

void DemoServer::BuildArchives(const std::string& folder, const std::string& relative) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  for (const fs::directory_entry& entry : entries) {
    if (!setupError_.empty()) return;
    if (entry.is_symlink(ec) || !entry.is_directory(ec)) continue;
    const std::string name = entry.path().filename().string();
    const std::string path = relative.empty() ? name : relative + "/" + name;
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".zip") != 0) {
      BuildArchives(entry.path().string(), path);
      continue;
    }
    if (cacheDir_.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zarn-demo-XXXXXX";
      if (!::mkdtemp(pattern.data())) {
        setupError_ = "cannot make a folder for the archives in " + pattern;
        return;
      }
      cacheDir_ = pattern;
    }
    const std::string archive = cacheDir_ + "/" + std::to_string(archives_.size()) + ".zip";
    std::string error;
    if (!WriteFolderArchive(entry.path().string(), archive, &error)) {
      setupError_ = error;
      return;
    }
    archives_[path] = archive;
  }
}

// The per-file lists of the packages and server data archives, as the publishing tool writes
// them, so that the update button has something to check against in the demo:
// "public/index/<key>.lst" with an "index" attribute on the package's entry of
// "public/update.xml", and "ClientData/<id>.lst" with an "index" line in "ClientData/<id>.md5".
// Made once, beside the archives, and served like them.
void DemoServer::AnnounceFileLists() {
  std::map<std::string, std::string> packageIndex, serverIndex;  // key or id -> list's SHA-256
  const std::map<std::string, std::string> archives = archives_;
  for (const auto& [path, archive] : archives) {
    const bool package = path.rfind("public/zip/", 0) == 0 && path.find('/', 11) == std::string::npos;
    const bool server = path.rfind("ClientData/", 0) == 0 && path.find('/', 11) == std::string::npos;
    if (!package && !server) continue;
    std::vector<ListedFile> files;
    std::string error;
    if (!FileListOfArchive(archive, &files, &error)) {
      setupError_ = path + ": " + error;
      return;
    }
    const std::string text = FileListText(files);
    const std::string name = path.substr(path.rfind('/') + 1);  // the key, or "<id>.zip"
    const std::string listPath =
        package ? "public/index/" + name + ".lst" : "ClientData/" + name.substr(0, name.size() - 4) + ".lst";
    if (!Made(listPath, text)) return;
    (package ? packageIndex[name] : serverIndex[name.substr(0, name.size() - 4)]) = Sha256Hex(text);
  }
  // The manifest: each announced package gets its list's hash after its key.
  std::string manifest = ReadWhole(content_ + "/public/update.xml");
  for (const auto& [key, hash] : packageIndex) {
    const std::string mark = "key=\"" + key + "\"";
    const size_t at = manifest.find(mark);
    if (at != std::string::npos) manifest.insert(at + mark.size(), " index=\"" + hash + "\"");
  }
  if (!manifest.empty() && !Made("public/update.xml", manifest)) return;
  for (const auto& [id, hash] : serverIndex) {
    std::string list = ReadWhole(content_ + "/ClientData/" + id + ".md5");
    if (list.empty()) continue;
    if (list.back() != '\n') list += '\n';
    if (!Made("ClientData/" + id + ".md5", list + "index " + hash + "\n")) return;
  }
}

bool DemoServer::Made(const std::string& path, const std::string& text) {
  const std::string file = cacheDir_ + "/" + std::to_string(archives_.size()) + ".made";
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    setupError_ = "cannot write " + file;
    return false;
  }
  archives_[path] = file;
  return true;
}

int DemoServer::Bind(int port) {
  port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                    : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
  return port_;
}

bool DemoServer::Serve() { return port_ > 0 && server_.listen_after_bind(); }

void DemoServer::Stop() { server_.stop(); }

std::string DemoServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string DemoServer::ExpandTemplate(std::string text) const {
  ReplaceAll(text, "{{BASE}}", BaseUrl());
  ReplaceAll(text, "{{PORT}}", std::to_string(port_));
  ReplaceAll(text, "{{VERSION}}", GetAppVersion());
  return text;
}

std::string DemoServer::Resolve(const std::string& path, const std::string& query, bool* templated) const {
  *templated = false;
  std::string name = path;
  while (!name.empty() && name.front() == '/') name.erase(0, 1);
  if (name.empty()) name = "index.html";
  std::vector<std::string> candidates;
  if (!query.empty()) candidates.push_back(name + "@" + query);
  candidates.push_back(name);
  for (const std::string& candidate : candidates) {
    if (const auto archive = archives_.find(candidate); archive != archives_.end()) return archive->second;
    if (!IsSafeRelative(candidate)) continue;
    for (const bool isTemplate : {false, true}) {
      const std::string file = content_ + "/" + candidate + (isTemplate ? ".in" : "");
      if (!IsRegularFile(file)) continue;
      // A link inside the content folder may not lead out of it.
      std::error_code ec;
      const std::string real = fs::canonical(file, ec).string();
      if (ec || real.compare(0, content_.size() + 1, content_ + "/") != 0) continue;
      *templated = isTemplate;
      return real;
    }
  }
  return {};
}

bool DemoServer::ExportTree(const std::string& folder, std::string* error) const {
  std::error_code ec;
  const auto fail = [&](const std::string& what) {
    *error = what + (ec ? ": " + ec.message() : std::string());
    return false;
  };
  for (const auto& [path, archive] : archives_) {
    const fs::path target = fs::path(folder) / path;
    fs::create_directories(target.parent_path(), ec);
    if (ec || !fs::copy_file(archive, target, fs::copy_options::overwrite_existing, ec))
      return fail("cannot write " + target.string());
  }
  for (fs::recursive_directory_iterator it(content_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string relative = fs::relative(it->path(), content_, ec).string();
    if (ec) break;
    // The archives stand for their folders; links are not followed out of the content folder.
    if (it->is_symlink(ec) || archives_.count(relative)) {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(ec) || relative.find('@') != std::string::npos) continue;
    const bool isTemplate = relative.size() > 3 && relative.compare(relative.size() - 3, 3, ".in") == 0;
    const fs::path target =
        fs::path(folder) / (isTemplate ? relative.substr(0, relative.size() - 3) : relative);
    fs::create_directories(target.parent_path(), ec);
    if (ec) return fail("cannot make " + target.parent_path().string());
    if (isTemplate) {
      std::ofstream out(target, std::ios::binary | std::ios::trunc);
      out << ExpandTemplate(ReadWhole(it->path().string()));
      if (!out.flush()) return fail("cannot write " + target.string());
    } else if (!fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec)) {
      return fail("cannot write " + target.string());
    }
  }
  if (ec) return fail("cannot read " + content_);
  return true;
}

void DemoServer::HandleGet(const httplib::Request& req, httplib::Response& res) {
  const size_t mark = req.target.find('?');
  const std::string query = mark == std::string::npos ? std::string() : req.target.substr(mark + 1);
  bool templated = false;
  const std::string file = Resolve(req.path, query, &templated);
  if (file.empty()) {
    res.status = 404;
    res.set_content("not found\n", "text/plain; charset=utf-8");
    return;
  }
  // Types follow the name the launcher asked for, not the template's.
  const std::string type = ContentType(templated ? file.substr(0, file.size() - 3) : file);
  if (templated) {
    res.set_content(ExpandTemplate(ReadWhole(file)), type);
    return;
  }
  // Files are streamed: packages can be large.
  auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
  std::error_code ec;
  const uintmax_t size = fs::file_size(file, ec);
  if (!*in || ec) {
    res.status = 500;
    res.set_content("cannot read\n", "text/plain; charset=utf-8");
    return;
  }
  const size_t rate = rate_;
  // A slowed file goes out in tenths of a second's worth, so progress shows smoothly.
  const size_t piece = rate == 0 ? kChunk : std::clamp<size_t>(rate / 10, 1, kChunk);
  res.set_content_provider(static_cast<size_t>(size), type,
                           [in, rate, piece](size_t offset, size_t length, httplib::DataSink& sink) {
                             char buffer[kChunk];
                             in->clear();
                             in->seekg(static_cast<std::streamoff>(offset));
                             in->read(buffer, static_cast<std::streamsize>(std::min(length, piece)));
                             const std::streamsize got = in->gcount();
                             if (got <= 0) return false;
                             if (!sink.write(buffer, static_cast<size_t>(got))) return false;
                             if (rate > 0)
                               std::this_thread::sleep_for(std::chrono::microseconds(
                                   static_cast<int64_t>(got) * 1000000 / static_cast<int64_t>(rate)));
                             return true;
                           });
}

void DemoServer::HandleRegistration(const httplib::Request& req, httplib::Response& res) {
  const std::map<std::string, std::string> form = ParseForm(req.body);
  auto field = [&form](const char* key) {
    const auto it = form.find(key);
    return it == form.end() ? std::string() : it->second;
  };
  const std::string user = field("UserName");
  std::string reply;
  if (user.empty()) {
    reply = Reply(500, "用户名不能为空");
  } else if (field("LoginPass").empty() || field("LoginPass") != field("CheLoginPass")) {
    reply = Reply(500, "两次输入的密码不一致");
  } else {
    std::lock_guard lock(accountsMutex_);
    reply = accounts_.insert(user).second ? Reply(200, "注册成功") : Reply(500, "该用户名已被注册");
  }
  res.set_content(reply, "application/json; charset=utf-8");
}

}  // namespace zarn::demo
