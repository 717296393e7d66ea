#include "FaultServer.h"

namespace zarn::test {

namespace {

// The path of "GET /path HTTP/1.x", without a query.
std::string RequestPath(const std::string& request) {
  const size_t start = request.find(' ');
  if (start == std::string::npos) return {};
  const size_t end = request.find_first_of(" ?\r\n", start + 1);
  return request.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

std::string StatusText(int status) {
  switch (status) {
    case 302:
      return "302 Found";
    case 403:
      return "403 Forbidden";
    case 404:
      return "404 Not Found";
    case 500:
      return "500 Internal Server Error";
    case 503:
      return "503 Service Unavailable";
    default:
      return std::to_string(status) + " Status";
  }
}

}  // namespace

FaultServer::FaultServer()
    : server_(
          std::make_unique<RawServer>([this](int fd, const std::string& request) { Handle(fd, request); })) {}

FaultServer::~FaultServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  server_.reset();
}

std::string FaultServer::base() const { return server_->url("/"); }
int FaultServer::port() const { return server_->port(); }

void FaultServer::Serve(const std::string& path, std::string body) {
  std::lock_guard lock(mutex_);
  Route route;
  route.body = std::move(body);
  routes_[path] = std::move(route);
}

void FaultServer::Misbehave(const std::string& path, Route route) {
  std::lock_guard lock(mutex_);
  if (route.body.empty() && routes_.count(path)) route.body = routes_[path].body;
  routes_[path] = std::move(route);
}

void FaultServer::Heal(const std::string& path) {
  std::lock_guard lock(mutex_);
  routes_[path].fault = Fault::kNone;
}

void FaultServer::HealAll() {
  std::lock_guard lock(mutex_);
  for (auto& [path, route] : routes_) route.fault = Fault::kNone;
}

int FaultServer::Hits(const std::string& path) {
  std::lock_guard lock(mutex_);
  return hits_[path];
}

int FaultServer::TotalHits() {
  std::lock_guard lock(mutex_);
  int total = 0;
  for (const auto& [path, n] : hits_) total += n;
  return total;
}

bool FaultServer::WaitForStall(const std::string& path, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, [&] { return stalled_[path] > 0; });
}

void FaultServer::ReleaseStalls() {
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  cv_.notify_all();
}

void FaultServer::Handle(int fd, const std::string& request) {
  const std::string path = RequestPath(request);
  Route route;
  bool known = false;
  {
    std::lock_guard lock(mutex_);
    const int hit = ++hits_[path];
    const auto it = routes_.find(path);
    if (it != routes_.end()) {
      known = true;
      route = it->second;
      if (route.faultyRequests >= 0 && hit > route.faultyRequests) route.fault = Fault::kNone;
    }
  }
  if (!known) {
    route.fault = Fault::kStatus;
    route.status = 404;
  }
  const std::string length = "Content-Length: " + std::to_string(route.body.size());
  auto stall = [&] {
    std::unique_lock lock(mutex_);
    ++stalled_[path];
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(60), [this] { return released_ || stopping_; });
  };
  switch (route.fault) {
    case Fault::kNone:
      SendAll(fd, ReplyHead("200 OK", {length}) + route.body);
      break;
    case Fault::kStatus: {
      const std::string page = "<html><body>" + StatusText(route.status) + "</body></html>";
      SendAll(fd,
              ReplyHead(StatusText(route.status), {"Content-Length: " + std::to_string(page.size())}) + page);
      break;
    }
    case Fault::kShortBody:
      SendAll(fd, ReplyHead("200 OK", {length}) + route.body.substr(0, route.bytes));
      break;
    case Fault::kCutNoLength:
      SendAll(fd, ReplyHead("200 OK", {}) + route.body.substr(0, route.bytes));
      break;
    case Fault::kStallHead:
      stall();
      break;
    case Fault::kStallBody:
      SendAll(fd, ReplyHead("200 OK", {length}) + route.body.substr(0, route.bytes));
      stall();
      break;
    case Fault::kRedirect: {
      const std::string location =
          route.location.find("://") == std::string::npos ? server_->url(route.location) : route.location;
      SendAll(fd, ReplyHead(StatusText(302), {"Location: " + location, "Content-Length: 0"}));
      break;
    }
  }
}

}  // namespace zarn::test
