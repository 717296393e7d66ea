#include "register/RegisterCore.h"

#include <curl/curl.h>
#include <iconv.h>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "net/Transfer.h"
#include "platform/Process.h"
#include "platform/Settings.h"
#include "util/CCString.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/Json.h"
#include "util/Paths.h"
#include "work/AgentId.h"

namespace zarn {
namespace {

// Texts are kept here in UTF-8 and handed out in the ANSI code set in force.
constexpr const char* kQuestionTexts[kSecurityQuestionCount] = {
    "--请选择密保问题--",
    "您目前的姓名是?",
    "您配偶的生日是?",
    "您的学号（或工号）是?",
    "您母亲的生日是?",
    "您高中班主任的名字是?",
    "您父亲的姓名是?",
    "您小学班主任的名字是?",
    "您父亲的生日是?",
    "您配偶的姓名是?",
    "您初中班主任的名字是?",
    "您最熟悉的童年好友名字是?",
    "您最熟悉的学校宿舍舍友名字?",
    "对您影响最大的人名字是?",
};

constexpr const char kSampleRealName[] = "张三";
constexpr const char kSampleIdNumber[] = "110105199001010018";
constexpr const char kSampleEmail[] = "player@kelmar.com";
constexpr const char kSamplePhone[] = "12345678910";

constexpr const char kFailureCaption[] = "注册失败";
constexpr const char kUnexpectedText[] = "异常错误";

constexpr long kTimeoutMs = 5000;
constexpr int kConnectRetries = 3;
constexpr unsigned kRequestContext = 1;

PromptRequest ErrorBox(const char* textUtf8, const char* captionUtf8) {
  return PromptRequest{Utf8ToAnsi(textUtf8), Utf8ToAnsi(captionUtf8), MB_OK | MB_ICONERROR};
}

bool IsAlphanumeric(std::string_view text) {
  // "^[0-9a-zA-Z]+$" on the whole text: bytes of a double-byte character never match.
  if (text.empty()) return false;
  for (char c : text) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!ok) return false;
  }
  return true;
}

void AppendField(std::string& body, const char* key, std::string_view ansiValue) {
  if (!body.empty()) body += '&';
  body += key;
  body += '=';
  body += EncodeRegisterValue(AnsiToUtf8(ansiValue));
}

// Failures that can only happen before any reply: the request never reached a server.
bool IsConnectFailure(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_TOO_MANY_REDIRECTS:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<SecurityQuestionItem> SecurityQuestionItems() {
  std::vector<SecurityQuestionItem> items;
  items.reserve(kSecurityQuestionCount);
  for (size_t i = 0; i < kSecurityQuestionCount; ++i) {
    const int32_t id = i == 0 ? 0 : kSecurityQuestionBaseId + static_cast<int32_t>(i);
    items.push_back(SecurityQuestionItem{id, Utf8ToAnsi(kQuestionTexts[i])});
  }
  return items;
}

int RegisterFieldControlId(RegisterField field) {
  switch (field) {
    case RegisterField::Account:
      return 1014;
    case RegisterField::Password:
      return 1018;
    case RegisterField::Confirmation:
      return 1016;
    case RegisterField::RealName:
      return 1015;
    case RegisterField::IdNumber:
      return 1017;
    case RegisterField::Answer:
      return 1019;
    case RegisterField::Email:
      return 1020;
    case RegisterField::Phone:
      return 1021;
  }
  return 0;
}

std::string& RegisterFieldValue(RegisterForm& form, RegisterField field) {
  switch (field) {
    case RegisterField::Account:
      return form.account;
    case RegisterField::Password:
      return form.password;
    case RegisterField::Confirmation:
      return form.confirmation;
    case RegisterField::RealName:
      return form.realName;
    case RegisterField::IdNumber:
      return form.idNumber;
    case RegisterField::Answer:
      return form.answer;
    case RegisterField::Email:
      return form.email;
    case RegisterField::Phone:
      return form.phone;
  }
  return form.account;
}

const std::string& RegisterFieldValue(const RegisterForm& form, RegisterField field) {
  return RegisterFieldValue(const_cast<RegisterForm&>(form), field);
}

RegisterForm InitialRegisterForm() {
  RegisterForm form;
  form.realName = Utf8ToAnsi(kSampleRealName);
  form.idNumber = kSampleIdNumber;
  form.email = kSampleEmail;
  form.phone = kSamplePhone;
  form.questionId = 0;
  form.agreementChecked = true;
  return form;
}

size_t RegisterFieldLimit(RegisterField field) { return field == RegisterField::IdNumber ? 18 : 20; }

std::vector<size_t> RegisterCharBytes(std::string_view utf8) {
  std::vector<size_t> sizes;
  // The service's fields hold GBK, whatever the player's locale.
  const iconv_t toGbk = ::iconv_open("GBK", "UTF-8");
  size_t pos = 0;
  while (pos < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[pos]);
    size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    len = std::min(len, utf8.size() - pos);
    size_t bytes = len;
    if (len > 1 && toGbk != reinterpret_cast<iconv_t>(-1)) {
      char* in = const_cast<char*>(utf8.data() + pos);
      size_t inLeft = len;
      char out[8];
      char* outp = out;
      size_t outLeft = sizeof out;
      ::iconv(toGbk, nullptr, nullptr, nullptr, nullptr);
      if (::iconv(toGbk, &in, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && inLeft == 0)
        bytes = static_cast<size_t>(outp - out);
    }
    sizes.push_back(bytes);
    pos += len;
  }
  if (toGbk != reinterpret_cast<iconv_t>(-1)) ::iconv_close(toGbk);
  return sizes;
}

bool FitsRegisterFieldLimit(RegisterField field, std::string_view candidate) {
  size_t total = 0;
  for (size_t bytes : RegisterCharBytes(AnsiToUtf8(candidate))) total += bytes;
  return total <= RegisterFieldLimit(field);
}

std::string CutToRegisterFieldLimit(RegisterField field, std::string_view text) {
  const size_t limit = RegisterFieldLimit(field);
  size_t total = 0, pos = 0;
  while (pos < text.size()) {
    const size_t len = AnsiCharLength(text, pos);
    const std::vector<size_t> bytes = RegisterCharBytes(AnsiToUtf8(text.substr(pos, len)));
    for (size_t b : bytes) total += b;
    if (total > limit) break;
    pos += len;
  }
  return std::string(text.substr(0, pos));
}

std::optional<PromptRequest> CheckRegisterForm(const RegisterForm& form) {
  if (!form.agreementChecked) return ErrorBox("请阅读并同意用户注册服务协议！", "用户协议");
  if (form.questionId == 0) return ErrorBox("请选择密保问题！", kFailureCaption);
  if (form.account.size() < 3) return ErrorBox("账号太短！", kFailureCaption);
  if (!IsAlphanumeric(form.account)) return ErrorBox("账号只能包含字母和数字", kFailureCaption);
  if (form.password.size() < 3) return ErrorBox("请填写正确的密码", kFailureCaption);
  if (form.confirmation != form.password) return ErrorBox("两次密码输入不一致", kFailureCaption);
  if (form.realName.empty()) return ErrorBox("请填写正确的真实姓名", kFailureCaption);
  if (form.email.empty()) return ErrorBox("请填写正确的邮箱地址", kFailureCaption);
  if (form.phone.size() != 11) return ErrorBox("请填写正确手机号码", kFailureCaption);
  if (form.answer.empty()) return ErrorBox("密保答案不能填空", kFailureCaption);
  if (form.idNumber.empty()) return ErrorBox("请输入正确的身份证号码", kFailureCaption);
  return std::nullopt;
}

std::string EncodeRegisterValue(std::string_view utf8) {
  // Only the bytes that would split a field or change its meaning for a form decoder; UTF-8
  // sequences never contain them, so non-ASCII text passes untouched.
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '%':
        out += "%25";
        break;
      case '&':
        out += "%26";
        break;
      case '=':
        out += "%3D";
        break;
      case '+':
        out += "%2B";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string BuildRegisterBody(const RegisterForm& form, std::string_view agentId) {
  std::string body;
  AppendField(body, "UserName", form.account);
  AppendField(body, "LoginPass", form.password);
  AppendField(body, "CheLoginPass", form.confirmation);
  AppendField(body, "RealName", form.realName);
  AppendField(body, "IDCard", form.idNumber);
  AppendField(body, "SecretQuestionID", std::to_string(form.questionId));
  AppendField(body, "SecretAnswer", form.answer);
  AppendField(body, "SecretEmail", form.email);
  AppendField(body, "SecretPhone", form.phone);
  AppendField(body, "SpreaderID", agentId);
  return body;
}

std::string RegisterEndpointUrl() { return WebUrl() + "/View/UserRegInter"; }
std::string AgreementPageUrl() { return WebUrl() + "/user_agreement.html"; }
void OpenAgreementPage() { OpenUrl(AgreementPageUrl()); }

std::string RegisterAgentName() {
  std::string name = BaseFileName(GetModulePath());
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.erase(dot);
  return name.empty() ? std::string("zarn") : name;
}

RegisterExchange ExchangeRegisterRequest(const std::string& url, const std::string& body) {
  net::TransferOptions options;
  options.url = url;
  options.postBody = &body;
  options.userAgent = RegisterAgentName();
  // The request carries no accept list and never waits for a 100-continue.
  options.headers = {"Content-Type: application/x-www-form-urlencoded", "Accept:", "Expect:"};
  options.connectTimeout = std::chrono::milliseconds(kTimeoutMs);
  options.connectRetries = kConnectRetries;
  // Once connected, the exchange may go without a byte moving either way for at most this long.
  options.stallLimit = std::chrono::milliseconds(kTimeoutMs);
  options.stallFromConnect = true;
  // The form (a password among it) is never sent again to a server it was not addressed to.
  options.redirects = net::RedirectPolicy::KeepBodyWithinOrigin;
  net::Transfer transfer(std::move(options));
  net::MemorySink reply(kMaxRegisterReplyBytes);
  const net::TransferResult done = transfer.Run(reply);

  RegisterExchange result;
  result.connectAttempts = done.attempts;
  result.status = done.status;
  result.errorCode = static_cast<unsigned>(done.code);
  if (done.code == CURLE_OK) {
    result.result = RegisterExchange::Result::Ok;
  } else {
    result.errorText = reply.Full() ? "reply larger than the registration limit" : done.errorText;
    const bool replyBegan = done.finalHeadDone && !IsConnectFailure(done.code);
    result.result = replyBegan ? RegisterExchange::Result::ReadFailed : RegisterExchange::Result::SendFailed;
  }
  result.reply = std::move(reply.Body());
  return result;
}

std::string PostRegisterRequest(const std::string& url, const std::string& body) {
  RegisterExchange exchange = ExchangeRegisterRequest(url, body);
  switch (exchange.result) {
    case RegisterExchange::Result::Ok:
      return std::move(exchange.reply);
    case RegisterExchange::Result::SendFailed: {
      DebugOutput("registration request to " + url + " failed: " + exchange.errorText);
      char text[96];
      std::snprintf(text, sizeof text, "GetHttpConnection Error: %u, Context: %u", exchange.errorCode,
                    kRequestContext);
      MessageBox(text, RegisterAgentName(), MB_OK);
      MessageBox(Utf8ToAnsi("网络连接失败！"), Utf8ToAnsi(kFailureCaption), MB_OK | MB_ICONERROR);
      return {};
    }
    case RegisterExchange::Result::ReadFailed:
      // A reply cut short is not trusted, even when its beginning parses; the player learns that
      // the outcome is unknown from the box the empty reply brings.
      DebugOutput("registration reply from " + url + " could not be read: " + exchange.errorText);
      return {};
  }
  return {};
}

RegisterReply ParseRegisterReply(const std::string& replyText) {
  RegisterReply reply;
  rapidjson::Document doc;
  // A zero-terminated text, as the reply buffer is: anything after a NUL byte is not read.
  doc.Parse<kJsonParseFlags>(replyText.c_str());
  if (doc.HasParseError()) {
    DebugOutput(std::string("registration reply: ") + rapidjson::GetParseError_En(doc.GetParseError()) +
                " (offset " + std::to_string(doc.GetErrorOffset()) + ")");
    return reply;
  }
  if (!doc.IsObject()) return reply;
  const auto code = doc.FindMember("Code");
  if (code != doc.MemberEnd() && code->value.IsInt()) reply.code = code->value.GetInt();
  const auto message = doc.FindMember("Message");
  if (message != doc.MemberEnd() && message->value.IsString()) {
    CCString text;
    text.assignUtf8(std::string_view(message->value.GetString(), message->value.GetStringLength()));
    reply.message = text.str();
  }
  return reply;
}

PromptRequest RegisterOutcomePrompt(const RegisterReply& reply) {
  switch (reply.code) {
    case 200:
      return PromptRequest{reply.message, Utf8ToAnsi("注册成功"), MB_OK | MB_ICONINFORMATION};
    case 500:
      return PromptRequest{reply.message, Utf8ToAnsi(kFailureCaption), MB_OK | MB_ICONERROR};
    default:
      return ErrorBox(kUnexpectedText, kFailureCaption);
  }
}

RegisterOutcome SubmitRegistration(const RegisterForm& form) {
  if (const auto failure = CheckRegisterForm(form)) {
    MessageBox(failure->text, failure->caption, failure->type);
    return RegisterOutcome::CheckFailed;
  }
  const std::string reply = PostRegisterRequest(RegisterEndpointUrl(), BuildRegisterBody(form, GetAgentId()));
  if (reply.empty()) {
    const PromptRequest box = ErrorBox(kUnexpectedText, kFailureCaption);
    MessageBox(box.text, box.caption, box.type);
    return RegisterOutcome::NoReply;
  }
  const RegisterReply decoded = ParseRegisterReply(reply);
  const PromptRequest box = RegisterOutcomePrompt(decoded);
  MessageBox(box.text, box.caption, box.type);
  switch (decoded.code) {
    case 200:
      return RegisterOutcome::Registered;
    case 500:
      return RegisterOutcome::Refused;
    default:
      return RegisterOutcome::Unexpected;
  }
}

}  // namespace zarn
