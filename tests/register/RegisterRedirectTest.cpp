// Redirects of the registration exchange between two real servers on 127.0.0.1 (two ports, two
// origins): the form goes again only to the origin it was addressed to.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "net/NetTestSupport.h"
#include "platform/Process.h"
#include "register/RegisterCore.h"

namespace zarn {
namespace {

struct Seen {
  std::string server, method, path, body;
};

class RegisterRedirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ClearProxyEnvironment();
    SetModulePathForTest("/opt/kelmar/zarn");
    for (test::HttpServer* server : {&origin_, &other_}) {
      const std::string name = server == &origin_ ? "origin" : "other";
      const auto record = [this, name](const httplib::Request& req, httplib::Response& res) {
        {
          std::lock_guard lock(mutex_);
          seen_.push_back({name, req.method, req.path, req.body});
        }
        res.set_content(R"({"Code":200,"Message":")" + name + req.path + R"("})", "application/json");
      };
      server->server().Post("/View/Again", record);
      server->server().Get("/View/Again", record);
    }
    origin_.server().Post("/View/UserRegInter", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      res.status = status_;
      res.set_header("Location", location_);
    });
    origin_.server().Get("/View/Hop", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect(other_.url("/View/Again"), 307);
    });
    origin_.Start();
    other_.Start();
  }
  void TearDown() override { SetModulePathForTest(""); }

  void RedirectWith(int status, std::string location) {
    std::lock_guard lock(mutex_);
    status_ = status;
    location_ = std::move(location);
    seen_.clear();
  }
  std::vector<Seen> Requests() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

  test::HttpServer origin_, other_;
  std::mutex mutex_;
  int status_ = 307;
  std::string location_;
  std::vector<Seen> seen_;
};

TEST_F(RegisterRedirectTest, BodyGoesAgainOnlyWithinItsOrigin) {
  const std::string body = "UserName=abc&LoginPass=secret";
  const std::string originAgain = "http://localhost:" + std::to_string(origin_.port()) + "/View/Again";
  struct Case {
    const char* name;
    int status;
    std::string location;
    bool followed;
    std::string method;  // of the request that followed
    std::string server;  // that received it
  };
  const std::vector<Case> cases = {
      {"307 to another port", 307, other_.url("/View/Again"), false, "", ""},
      {"308 to another port", 308, other_.url("/View/Again"), false, "", ""},
      {"307 to another host name", 307, originAgain, false, "", ""},
      {"307 within the origin", 307, "/View/Again", true, "POST", "origin"},
      {"308 within the origin, written whole", 308, origin_.url("/View/Again"), true, "POST", "origin"},
      // A redirect that drops the body may lead anywhere, as before.
      {"302 to another port", 302, other_.url("/View/Again"), true, "GET", "other"},
      {"303 to another port", 303, other_.url("/View/Again"), true, "GET", "other"},
      {"302 within the origin, then 307 to another port", 302, "/View/Hop", true, "GET", "other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RedirectWith(c.status, c.location);
    const RegisterExchange exchange = ExchangeRegisterRequest(origin_.url("/View/UserRegInter"), body);
    const auto seen = Requests();
    EXPECT_EQ(exchange.connectAttempts, 1);
    if (!c.followed) {
      EXPECT_EQ(exchange.result, RegisterExchange::Result::SendFailed);
      EXPECT_EQ(exchange.errorCode, static_cast<unsigned>(CURLE_COULDNT_CONNECT));
      EXPECT_EQ(seen.size(), 0u);
      EXPECT_TRUE(exchange.reply.empty());
      continue;
    }
    EXPECT_EQ(exchange.result, RegisterExchange::Result::Ok) << exchange.errorText;
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].server, c.server);
    EXPECT_EQ(seen[0].method, c.method);
    EXPECT_EQ(seen[0].body, c.method == "POST" ? body : "");
    EXPECT_EQ(exchange.reply, R"({"Code":200,"Message":")" + c.server + R"(/View/Again"})");
  }
}

}  // namespace
}  // namespace zarn
