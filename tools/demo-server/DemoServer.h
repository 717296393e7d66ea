// The demo content service: one local HTTP server that plays every web-side role for the
// launcher (content network, cloud storage, account service, web service).
//
// Every file under the content folder is served as it is, streamed. Two rules on top:
//  - a file named "<path>.in" is a template served at "<path>": "{{BASE}}" becomes this
//    server's own address ("http://127.0.0.1:<port>"), "{{PORT}}" its port and "{{VERSION}}"
//    the launcher build's version, so manifests can point back at the server and announce the
//    version the launcher runs;
//  - a request with a query string is first looked up as "<path>@<query>" (then as "<path>"), so
//    "/Interface/ClientLogonJson?id=1033" is the file "Interface/ClientLogonJson@id=1033";
//  - a folder whose name ends in ".zip" is served as a zip archive of what it holds, made when
//    the server starts (DemoArchive.h): "public/zip/base.zip/" gives "/public/zip/base.zip".
//    That is how the update packages and the servers' data archives are kept as plain files;
//  - every package and server data archive gets its per-file list, announced in the manifest
//    ("index" attributes) and in the server's data list ("index" line), as published trees have.
// The registration endpoint (POST "/View/UserRegInter") answers in JSON.
#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace zarn::demo {

class DemoServer {
 public:
  // Makes the archives of the content folder's ".zip" folders; setupError() tells when that
  // failed.
  explicit DemoServer(std::string contentDir);
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  const std::string& setupError() const { return setupError_; }
  // The files made at start (archives, lists, the manifest and data lists that announce the
  // lists): request path (without the leading "/") → file.
  const std::map<std::string, std::string>& archives() const { return archives_; }
  // Sends files (not templates) at no more than this many bytes a second, so that a player
  // can watch the launcher's progress bars; 0 (the default) sends at full speed.
  void SetRate(size_t bytesPerSecond) { rate_ = bytesPerSecond; }

  // Binds to 127.0.0.1 on the port (0: any free one). The bound port, or -1.
  int Bind(int port);
  // Serves until Stop(); false when it could not serve at all.
  bool Serve();
  void Stop();

  int port() const { return port_; }
  std::string BaseUrl() const;
  // One line per request goes here (standard output in the program).
  void SetRequestLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

  // The file a request stands for ("" when none): the path (decoded, without the leading "/")
  // and the raw query. Never leaves the content folder. *templated tells whether it is an
  // ".in" template.
  std::string Resolve(const std::string& path, const std::string& query, bool* templated) const;
  std::string ExpandTemplate(std::string text) const;

  // Writes what a real web server would serve of the content folder as plain files into
  // folder: templates expanded (call after Bind: they name this server's address), the
  // archives of the ".zip" folders as files, the rest copied. Files that only a query reaches
  // ("<path>@<query>") are left out: they are the account service's, which stays here. False
  // with *error set when something could not be written.
  bool ExportTree(const std::string& folder, std::string* error) const;

 private:
  void BuildArchives(const std::string& folder, const std::string& relative);
  void AnnounceFileLists();
  // Serves text at path (without the leading "/") from a file made beside the archives.
  bool Made(const std::string& path, const std::string& text);
  void HandleGet(const httplib::Request& req, httplib::Response& res);
  void HandleRegistration(const httplib::Request& req, httplib::Response& res);

  std::string content_;   // canonical, no trailing "/"
  std::string cacheDir_;  // where the archives are made; removed with the server
  std::string setupError_;
  std::map<std::string, std::string> archives_;
  std::atomic<size_t> rate_{0};
  int port_ = -1;
  httplib::Server server_;
  std::function<void(const std::string&)> log_;
  std::mutex accountsMutex_;
  std::set<std::string> accounts_;
};

}  // namespace zarn::demo
