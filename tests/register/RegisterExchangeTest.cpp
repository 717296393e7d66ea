// The registration exchange against real HTTP peers on 127.0.0.1: the request as the service
// sees it, the outcome boxes for each kind of reply, and the failure boxes.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <rapidjson/error/en.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/Prompt.h"
#include "register/RegisterCore.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"
#include "work/AgentId.h"

namespace zarn {
namespace {

using test::CodeSetGuard;

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// A bare TCP server for the faults a well-behaved HTTP server cannot produce. For each
// connection it reads the request (headers and Content-Length body) and hands the socket to the
// behaviour.
class RawServer {
 public:
  using Behaviour = std::function<void(int fd, const std::string& request)>;

  explicit RawServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_, 8) != 0)
      throw std::runtime_error("raw server cannot listen");
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~RawServer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  int port() const { return port_; }
  int connections() const { return connections_; }

  static void SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }
  // Waits until the peer closes the connection (or 20 s pass).
  static void WaitForClose(int fd) {
    char buf[256];
    for (int i = 0; i < 200; ++i) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      ++connections_;
      behaviour_(fd, ReadRequest(fd));
      ::close(fd);
    }
  }
  static std::string ReadRequest(int fd) {
    std::string data;
    char buf[4096];
    size_t need = std::string::npos;
    while (data.size() < need) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 3000) <= 0) break;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      data.append(buf, static_cast<size_t>(n));
      const size_t end = data.find("\r\n\r\n");
      if (end != std::string::npos && need == std::string::npos) {
        size_t length = 0;
        const size_t at = data.find("Content-Length: ");
        if (at != std::string::npos && at < end) length = std::strtoul(data.c_str() + at + 16, nullptr, 10);
        need = end + 4 + length;
      }
    }
    return data;
  }

  Behaviour behaviour_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

struct Seen {
  std::string method, path, contentType, userAgent, body, contentLength, expect;
  std::string userName, password, confirmation, realName, answer, spreader;
  size_t paramCount = 0;
};

class RegisterExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    SetModulePathForTest("/opt/kelmar/zarn");
    SetAgentId("");
    SetPromptHandler([this](const PromptRequest& request) {
      std::lock_guard lock(mutex_);
      boxes_.push_back(request);
      return IDOK;
    });
    server_.Post("/View/UserRegInter", [this](const httplib::Request& req, httplib::Response& res) {
      ++hits_;
      Seen seen;
      seen.method = req.method;
      seen.path = req.path;
      seen.contentType = req.get_header_value("Content-Type");
      seen.userAgent = req.get_header_value("User-Agent");
      seen.contentLength = req.get_header_value("Content-Length");
      seen.expect = req.get_header_value("Expect");
      seen.body = req.body;
      seen.userName = req.get_param_value("UserName");
      seen.password = req.get_param_value("LoginPass");
      seen.confirmation = req.get_param_value("CheLoginPass");
      seen.realName = req.get_param_value("RealName");
      seen.answer = req.get_param_value("SecretAnswer");
      seen.spreader = req.get_param_value("SpreaderID");
      seen.paramCount = req.params.size();
      std::function<void(httplib::Response&)> reply;
      {
        std::lock_guard lock(mutex_);
        seen_.push_back(seen);
        reply = reply_;
      }
      if (reply) reply(res);
    });
    server_.Get("/View/Done", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"Code":200,"Message":"moved"})", "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() only reaches a server that has begun listening.
    for (int i = 0; i < 500 && !server_.is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(server_.is_running());
    PointAt(port_);
  }
  void TearDown() override {
    server_.stop();
    thread_.join();
    SetPromptHandler(nullptr);
    SetModulePathForTest("");
    SetAgentId("");
    unsetenv("ZARN_WEB_URL");
  }

  static void PointAt(int port) {
    setenv("ZARN_WEB_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
  }
  void Reply(int status, std::string body, std::string type = "application/json") {
    std::lock_guard lock(mutex_);
    reply_ = [status, body, type](httplib::Response& res) {
      res.status = status;
      res.set_content(body, type);
    };
  }
  void ReplyWith(std::function<void(httplib::Response&)> reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
  }
  std::vector<PromptRequest> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  std::vector<Seen> Requests() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  void ClearBoxes() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
  }

  static RegisterForm ValidForm() {
    RegisterForm form;
    form.account = "abc";
    form.password = "pw1";
    form.confirmation = "pw1";
    form.realName = Utf8ToAnsi("张三");
    form.idNumber = "110105199001010018";
    form.questionId = 13537;
    form.answer = "x";
    form.email = "m";
    form.phone = "12345678910";
    return form;
  }

  // The three boxes of a failed connection, in order.
  void ExpectConnectionFailureBoxes(unsigned code) {
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "GetHttpConnection Error: " + std::to_string(code) + ", Context: 1");
    EXPECT_EQ(boxes[0].caption, "zarn");
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_EQ(AnsiToUtf8(boxes[1].text), "网络连接失败！");
    EXPECT_EQ(AnsiToUtf8(boxes[1].caption), "注册失败");
    EXPECT_EQ(boxes[1].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(AnsiToUtf8(boxes[2].text), "异常错误");
    EXPECT_EQ(AnsiToUtf8(boxes[2].caption), "注册失败");
    EXPECT_EQ(boxes[2].type, MB_OK | MB_ICONERROR);
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<int> hits_{0};
  std::mutex mutex_;
  std::function<void(httplib::Response&)> reply_;
  std::vector<PromptRequest> boxes_;
  std::vector<Seen> seen_;
};

TEST_F(RegisterExchangeTest, SuccessShowsTheServiceMessage) {
  CodeSetGuard guard("GBK");
  SetAgentId("agent7");
  Reply(200, R"({"Code":200,"Message":"注册成功，欢迎来到Kelmar"})");
  const RegisterForm form = ValidForm();
  EXPECT_EQ(SubmitRegistration(form), RegisterOutcome::Registered);

  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, Utf8ToAnsi("注册成功，欢迎来到Kelmar"));
  EXPECT_EQ(boxes[0].text.size(), 9u * 2 + 6);  // shown in GBK
  EXPECT_EQ(boxes[0].caption, Utf8ToAnsi("注册成功"));
  EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONINFORMATION);

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Seen& seen = requests[0];
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.path, "/View/UserRegInter");
  EXPECT_EQ(seen.contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(seen.userAgent, "zarn");
  EXPECT_EQ(seen.expect, "");
  EXPECT_EQ(seen.body, BuildRegisterBody(form, "agent7"));
  EXPECT_EQ(seen.contentLength, std::to_string(seen.body.size()));
  EXPECT_EQ(seen.body,
            "UserName=abc&LoginPass=pw1&CheLoginPass=pw1&RealName=\xE5\xBC\xA0\xE4\xB8\x89"
            "&IDCard=110105199001010018&SecretQuestionID=13537&SecretAnswer=x&SecretEmail=m"
            "&SecretPhone=12345678910&SpreaderID=agent7");
  EXPECT_EQ(seen.realName, "张三");
  EXPECT_EQ(seen.spreader, "agent7");
  EXPECT_EQ(seen.paramCount, 10u);
}

TEST_F(RegisterExchangeTest, ServerReadsSeparatorsAsTyped) {
  Reply(200, R"({"Code":200,"Message":"ok"})");
  RegisterForm form = ValidForm();
  form.password = form.confirmation = "p&w%1=+2";
  form.account = "abc";
  form.answer = "a b+c";
  EXPECT_EQ(SubmitRegistration(form), RegisterOutcome::Registered);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].password, "p&w%1=+2");
  EXPECT_EQ(requests[0].confirmation, "p&w%1=+2");
  EXPECT_EQ(requests[0].userName, "abc");
  EXPECT_EQ(requests[0].answer, "a b+c");
  EXPECT_EQ(requests[0].paramCount, 10u);
}

TEST_F(RegisterExchangeTest, FailedCheckSendsNothing) {
  RegisterForm form = ValidForm();
  form.phone = "1234567891";
  EXPECT_EQ(SubmitRegistration(form), RegisterOutcome::CheckFailed);
  EXPECT_EQ(hits_, 0);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(AnsiToUtf8(boxes[0].text), "请填写正确手机号码");
  EXPECT_EQ(AnsiToUtf8(boxes[0].caption), "注册失败");
  EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONERROR);
}

struct ReplyCase {
  const char* name;
  int status;
  std::string body;
  const char* type;
  RegisterOutcome outcome;
  std::string text;  // UTF-8
  const char* caption;
  unsigned icon;
};

TEST_F(RegisterExchangeTest, OutcomeOfEachKindOfReply) {
  const unsigned info = MB_OK | MB_ICONINFORMATION, error = MB_OK | MB_ICONERROR;
  const std::string html = "<html><head><title>502 Bad Gateway</title></head><body>bad gateway</body></html>";
  const std::vector<ReplyCase> cases = {
      {"code 200", 200, R"({"Code":200,"Message":"欢迎"})", "application/json", RegisterOutcome::Registered,
       "欢迎", "注册成功", info},
      {"code 500", 200, R"({"Code":500,"Message":"账号已存在"})", "application/json",
       RegisterOutcome::Refused, "账号已存在", "注册失败", error},
      {"code 500 with an error status", 500, R"({"Code":500,"Message":"服务忙"})", "application/json",
       RegisterOutcome::Refused, "服务忙", "注册失败", error},
      {"code 200 with an error status", 404, R"({"Code":200,"Message":"ok"})", "text/plain",
       RegisterOutcome::Registered, "ok", "注册成功", info},
      {"code as the string 200", 200, R"({"Code":"200","Message":"x"})", "application/json",
       RegisterOutcome::Unexpected, "异常错误", "注册失败", error},
      {"code as the number 200.0", 200, R"({"Code":200.0,"Message":"x"})", "application/json",
       RegisterOutcome::Unexpected, "异常错误", "注册失败", error},
      {"code beyond 32 bits", 200, R"({"Code":4294967496,"Message":"x"})", "application/json",
       RegisterOutcome::Unexpected, "异常错误", "注册失败", error},
      {"other code", 200, R"({"Code":404,"Message":"x"})", "application/json", RegisterOutcome::Unexpected,
       "异常错误", "注册失败", error},
      {"no code", 200, R"({"Message":"x"})", "application/json", RegisterOutcome::Unexpected, "异常错误",
       "注册失败", error},
      {"no message", 200, R"({"Code":200})", "application/json", RegisterOutcome::Registered, "", "注册成功",
       info},
      {"message not a string", 200, R"({"Code":500,"Message":["a"]})", "application/json",
       RegisterOutcome::Refused, "", "注册失败", error},
      {"first member of a name wins", 200, R"({"Code":500,"Code":200,"Message":"m1","Message":"m2"})",
       "application/json", RegisterOutcome::Refused, "m1", "注册失败", error},
      {"other members ignored", 200, R"({"Data":{"Code":500},"Code":200,"Message":"ok","Extra":[1,2]})",
       "application/json", RegisterOutcome::Registered, "ok", "注册成功", info},
      {"root not an object", 200, R"([200,"ok"])", "application/json", RegisterOutcome::Unexpected,
       "异常错误", "注册失败", error},
      {"HTML error page", 502, html, "text/html", RegisterOutcome::Unexpected, "异常错误", "注册失败", error},
      {"truncated JSON", 200, R"({"Code":200,"Mess)", "application/json", RegisterOutcome::Unexpected,
       "异常错误", "注册失败", error},
      {"empty reply", 200, "", "text/plain", RegisterOutcome::NoReply, "异常错误", "注册失败", error},
      {"text after a NUL is not read", 200,
       std::string(R"({"Code":200,"Message":"ok"})") + '\0' + "}}garbage", "application/json",
       RegisterOutcome::Registered, "ok", "注册成功", info},
  };
  for (const char* codeSet : {"UTF-8", "GBK"}) {
    CodeSetGuard guard(codeSet);
    for (const auto& c : cases) {
      ClearBoxes();
      Reply(c.status, c.body, c.type);
      EXPECT_EQ(SubmitRegistration(ValidForm()), c.outcome) << codeSet << " " << c.name;
      const auto boxes = Boxes();
      ASSERT_EQ(boxes.size(), 1u) << codeSet << " " << c.name;
      EXPECT_EQ(boxes[0].text, Utf8ToAnsi(c.text)) << codeSet << " " << c.name;
      EXPECT_EQ(boxes[0].caption, Utf8ToAnsi(c.caption)) << codeSet << " " << c.name;
      EXPECT_EQ(boxes[0].type, c.icon) << codeSet << " " << c.name;
    }
  }
}

TEST_F(RegisterExchangeTest, TruncatedJsonWritesTheParseError) {
  Reply(200, R"({"Code":200,"Mess)");
  testing::internal::CaptureStderr();
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::Unexpected);
  const std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_NE(diagnostics.find(rapidjson::GetParseError_En(rapidjson::kParseErrorStringMissQuotationMark)),
            std::string::npos)
      << diagnostics;
}

TEST_F(RegisterExchangeTest, LongReplyIsReadWholeInPieces) {
  const std::string padding(30000, 'p');
  const std::string body = R"({"Pad":")" + padding + R"(","Code":200,"Message":"长回复"})";
  ASSERT_GT(body.size(), 10240u);
  // Sent in chunks of 1000 bytes, so the reply arrives in many reads.
  ReplyWith([body](httplib::Response& res) {
    res.set_chunked_content_provider("application/json", [body](size_t offset, httplib::DataSink& sink) {
      if (offset >= body.size()) {
        sink.done();
        return true;
      }
      const size_t n = std::min<size_t>(1000, body.size() - offset);
      sink.write(body.data() + offset, n);
      return true;
    });
  });
  const RegisterExchange exchange = ExchangeRegisterRequest(RegisterEndpointUrl(), "UserName=a");
  EXPECT_EQ(exchange.result, RegisterExchange::Result::Ok);
  EXPECT_EQ(exchange.reply, body);
  EXPECT_EQ(exchange.status, 200);

  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::Registered);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(AnsiToUtf8(boxes[0].text), "长回复");
}

TEST_F(RegisterExchangeTest, LongMessageIsCutAtAWholeCharacter) {
  CodeSetGuard guard("GBK");
  std::string message;
  for (int i = 0; i < 200; ++i) message += "中";
  Reply(200, R"({"Code":500,"Message":")" + message + R"("})");
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::Refused);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.size(), 254u);
  EXPECT_EQ(AnsiToUtf8(boxes[0].text), message.substr(0, 127 * 3));
}

TEST_F(RegisterExchangeTest, RedirectIsFollowed) {
  ReplyWith([](httplib::Response& res) { res.set_redirect("/View/Done", 302); });
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::Registered);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "moved");
}

TEST_F(RegisterExchangeTest, RedirectToAnUnreachableServerIsNotSentAgain) {
  const std::string target = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/View/UserRegInter";
  ReplyWith([target](httplib::Response& res) { res.set_redirect(target, 307); });
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::NoReply);
  ExpectConnectionFailureBoxes(CURLE_COULDNT_CONNECT);
  EXPECT_EQ(hits_, 1);
}

TEST_F(RegisterExchangeTest, RefusedConnectionShowsThreeBoxes) {
  PointAt(ClosedPort());
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::NoReply);
  ExpectConnectionFailureBoxes(CURLE_COULDNT_CONNECT);
  EXPECT_EQ(hits_, 0);

  // The first attempt and three connect retries.
  const RegisterExchange exchange = ExchangeRegisterRequest(RegisterEndpointUrl(), "x=1");
  EXPECT_EQ(exchange.result, RegisterExchange::Result::SendFailed);
  EXPECT_EQ(exchange.errorCode, static_cast<unsigned>(CURLE_COULDNT_CONNECT));
  EXPECT_EQ(exchange.connectAttempts, 4);
  EXPECT_TRUE(exchange.reply.empty());
}

TEST_F(RegisterExchangeTest, UnusableAddressTakesTheConnectionFailurePath) {
  struct Case {
    const char* url;
    unsigned code;
  };
  const std::vector<Case> cases = {
      {"ftp://127.0.0.1", CURLE_UNSUPPORTED_PROTOCOL},
      {"http://127.0.0.1:99999", CURLE_URL_MALFORMAT},
  };
  for (const auto& c : cases) {
    ClearBoxes();
    setenv("ZARN_WEB_URL", c.url, 1);
    EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::NoReply) << c.url;
    ExpectConnectionFailureBoxes(c.code);
  }
}

TEST_F(RegisterExchangeTest, ServerClosingWithoutReplyShowsThreeBoxes) {
  RawServer raw([](int, const std::string&) {});  // read the request, close without a word
  PointAt(raw.port());
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::NoReply);
  ExpectConnectionFailureBoxes(CURLE_GOT_NOTHING);
  EXPECT_EQ(raw.connections(), 1);  // a connection was made: no retry sends the form twice
}

TEST_F(RegisterExchangeTest, SilentServerIsGivenUpAfterTheReceiveTimeout) {
  RawServer raw([](int fd, const std::string&) { RawServer::WaitForClose(fd); });
  PointAt(raw.port());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::NoReply);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 4.5);
  EXPECT_LT(seconds, 8.0);
  ExpectConnectionFailureBoxes(CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(raw.connections(), 1);
}

TEST_F(RegisterExchangeTest, SlowReplyThatKeepsMovingIsReadToItsEnd) {
  // Five pieces 1.5 s apart: longer than one time-out in total, never stalled for one.
  const std::string json = R"({"Code":200,"Message":"slow"})";
  RawServer raw([json](int fd, const std::string&) {
    RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(json.size()) + "\r\n\r\n");
    const size_t piece = json.size() / 5 + 1;
    for (size_t at = 0; at < json.size(); at += piece) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      RawServer::SendAll(fd, json.substr(at, piece));
    }
  });
  PointAt(raw.port());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::Registered);
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 6.0);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "slow");
}

TEST_F(RegisterExchangeTest, ReplyCutShortShowsOnlyTheUnexpectedBox) {
  RawServer raw([](int fd, const std::string& request) {
    if (request.find("UserName=abc") == std::string::npos) return;
    RawServer::SendAll(fd,
                       "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n"
                       R"({"Code":200,"Message":"ok"})");
  });
  PointAt(raw.port());
  testing::internal::CaptureStderr();
  EXPECT_EQ(SubmitRegistration(ValidForm()), RegisterOutcome::NoReply);
  const std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_NE(diagnostics.find("could not be read"), std::string::npos) << diagnostics;
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(AnsiToUtf8(boxes[0].text), "异常错误");
  EXPECT_EQ(AnsiToUtf8(boxes[0].caption), "注册失败");
  EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONERROR);

  const RegisterExchange exchange = ExchangeRegisterRequest(RegisterEndpointUrl(), "UserName=abc");
  EXPECT_EQ(exchange.result, RegisterExchange::Result::ReadFailed);
  EXPECT_EQ(exchange.errorCode, static_cast<unsigned>(CURLE_PARTIAL_FILE));
}

TEST_F(RegisterExchangeTest, EndlessReplyStopsAtTheSizeLimit) {
  const size_t total = kMaxRegisterReplyBytes + (1u << 20);
  ReplyWith([total](httplib::Response& res) {
    res.set_content_provider(total, "application/json", [](size_t, size_t length, httplib::DataSink& sink) {
      const std::string block(std::min<size_t>(length, 65536), ' ');
      return sink.write(block.data(), block.size());
    });
  });
  const RegisterExchange exchange = ExchangeRegisterRequest(RegisterEndpointUrl(), "x=1");
  EXPECT_EQ(exchange.result, RegisterExchange::Result::ReadFailed);
  EXPECT_EQ(exchange.errorCode, static_cast<unsigned>(CURLE_WRITE_ERROR));
  EXPECT_LE(exchange.reply.size(), kMaxRegisterReplyBytes);
}

TEST_F(RegisterExchangeTest, AgreementPageAndEndpointAddresses) {
  std::vector<std::string> opened;
  SetOpenUrlHook([&opened](const std::string& url) { opened.push_back(url); });
  OpenAgreementPage();
  SetOpenUrlHook(nullptr);
  const std::string base = "http://127.0.0.1:" + std::to_string(port_);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], base + "/user_agreement.html");
  EXPECT_EQ(AgreementPageUrl(), base + "/user_agreement.html");
  EXPECT_EQ(RegisterEndpointUrl(), base + "/View/UserRegInter");
  setenv("ZARN_WEB_URL", "http://www.example.test/site/", 1);
  EXPECT_EQ(AgreementPageUrl(), "http://www.example.test/site/user_agreement.html");
}

TEST(RegisterAgent, ProgramNameWithoutFolderAndExtension) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/opt/kelmar/zarn", "zarn"},
      {"/opt/kelmar/zarn.exe", "zarn"},
      {"/games/my.launcher.bin", "my.launcher"},
      {"/games/.hidden", ".hidden"},
  };
  for (const auto& [path, name] : cases) {
    SetModulePathForTest(path);
    EXPECT_EQ(RegisterAgentName(), name) << path;
  }
  SetModulePathForTest("");
}

}  // namespace
}  // namespace zarn
