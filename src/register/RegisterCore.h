// Account registration without the window: the form's values and limits, the local checks,
// the request body, the exchange with the web service and the reply's outcome.
//
// Every text held by the form is in the ANSI code set (util/CodePage.h), as the edits hold it.
// The web side speaks UTF-8; the body is converted on the way out and the reply's message on the
// way in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Prompt.h"

namespace zarn {

// One entry of the security question list; the id is what the web service receives.
struct SecurityQuestionItem {
  int32_t id = 0;
  std::string text;  // ANSI
};

inline constexpr int32_t kSecurityQuestionBaseId = 13534;  // id = base + index, except index 0
inline constexpr size_t kSecurityQuestionCount = 14;

// The fourteen entries in list order; entry 0 is the "no question chosen" placeholder (id 0).
std::vector<SecurityQuestionItem> SecurityQuestionItems();

// The text fields of the form, in tab order.
enum class RegisterField { Account, Password, Confirmation, RealName, IdNumber, Answer, Email, Phone };
inline constexpr RegisterField kRegisterTextFields[] = {
    RegisterField::Account,  RegisterField::Password, RegisterField::Confirmation, RegisterField::RealName,
    RegisterField::IdNumber, RegisterField::Answer,   RegisterField::Email,        RegisterField::Phone};

// Control ids of the form.
inline constexpr int kRegisterQuestionComboId = 1011;
inline constexpr int kRegisterAgreementCheckId = 1013;
inline constexpr int kRegisterAgreementLinkId = 1022;
inline constexpr int kRegisterCloseButtonId = 1023;
int RegisterFieldControlId(RegisterField field);

// What the player has entered. The nine values go to the web service; the tick only gates the
// submit.
struct RegisterForm {
  std::string account;       // ANSI, edit 1014
  std::string password;      // edit 1018
  std::string confirmation;  // edit 1016
  std::string realName;      // edit 1015
  std::string idNumber;      // edit 1017
  int32_t questionId = 0;    // id of the chosen SecurityQuestionItem (0: placeholder)
  std::string answer;        // edit 1019
  std::string email;         // edit 1020
  std::string phone;         // edit 1021
  bool agreementChecked = true;
};

std::string& RegisterFieldValue(RegisterForm& form, RegisterField field);
const std::string& RegisterFieldValue(const RegisterForm& form, RegisterField field);

// The contents the form opens with: sample legal name, ID number, e-mail and phone, the
// placeholder question, the agreement ticked.
RegisterForm InitialRegisterForm();

// Text limits in bytes as the web service counts them: 18 for the ID number, 20 for every other
// field. The service stores GBK, so a text counts as GBK encodes it whatever the locale's code
// set (a Chinese character 2, ASCII 1); a character GBK lacks counts its UTF-8 bytes.
size_t RegisterFieldLimit(RegisterField field);
// The count of each character of a UTF-8 text, in order.
std::vector<size_t> RegisterCharBytes(std::string_view utf8);
// Whether a candidate text (ANSI) fits its field.
bool FitsRegisterFieldLimit(RegisterField field, std::string_view candidate);
// The longest whole-character prefix (ANSI) that fits: what an edit keeps of a paste.
std::string CutToRegisterFieldLimit(RegisterField field, std::string_view text);

// The local checks in their order, values taken exactly as typed. Returns the first failing
// check's message box (error icon, OK button), or nothing when every check passes.
std::optional<PromptRequest> CheckRegisterForm(const RegisterForm& form);

// The form body, UTF-8: the fields in the service's order with the values converted from ANSI
// and "%", "&", "=" and "+" percent-encoded; everything else as typed.
std::string BuildRegisterBody(const RegisterForm& form, std::string_view agentId);
// One value of the body: UTF-8 in, the four separators percent-encoded.
std::string EncodeRegisterValue(std::string_view utf8);

// Addresses on the web service.
std::string RegisterEndpointUrl();  // WebUrl() + "/View/UserRegInter"
std::string AgreementPageUrl();     // WebUrl() + "/user_agreement.html"
// Opens the agreement page in the default browser (the form's agreement link).
void OpenAgreementPage();

// The program's name (file name without folder and extension): the user agent of the request
// and the caption of the connection error box.
std::string RegisterAgentName();

// One POST of a registration body, synchronous, bounded by 5 s per connect attempt, 5 s of
// stalled sending or receiving, and up to 3 connect retries.
struct RegisterExchange {
  enum class Result {
    Ok,          // a reply was read to its end (whatever its status)
    SendFailed,  // no reply arrived: the connection, the request or the URL failed
    ReadFailed,  // the reply began but could not be read to its end
  };
  Result result = Result::SendFailed;
  unsigned errorCode = 0;  // the libcurl code of the failure (0 when Ok)
  std::string errorText;   // libcurl's description of the failure
  long status = 0;         // HTTP status of the reply; not used to judge it
  int connectAttempts = 0;
  std::string reply;  // the whole reply body as received
};
RegisterExchange ExchangeRegisterRequest(const std::string& url, const std::string& body);

// Replies beyond this size are not a registration answer; reading stops and the reply counts as
// unreadable rather than exhausting memory.
inline constexpr size_t kMaxRegisterReplyBytes = 16u << 20;

// The exchange with its failure boxes: when no reply arrived, "GetHttpConnection Error: <code>,
// Context: 1" (caption RegisterAgentName(), OK only), then "网络连接失败！". Returns the reply
// text, empty when the exchange failed.
std::string PostRegisterRequest(const std::string& url, const std::string& body);

// The decoded reply. A text that is not JSON, a root that is not an object, or a "Code" that is
// not a 32-bit JSON integer gives code 0; a missing or non-string "Message" gives "".
struct RegisterReply {
  int32_t code = 0;
  std::string message;  // ANSI, at most 255 bytes
};
// Parses the reply; a parse error's description goes to the diagnostic output.
RegisterReply ParseRegisterReply(const std::string& replyText);
// The outcome box: 200 → message "注册成功" (information), 500 → message "注册失败" (error),
// else "异常错误" "注册失败" (error).
PromptRequest RegisterOutcomePrompt(const RegisterReply& reply);

enum class RegisterOutcome {
  CheckFailed,  // a local check failed; nothing was sent
  NoReply,      // the exchange failed; "异常错误" was shown
  Registered,   // Code 200
  Refused,      // Code 500
  Unexpected,   // any other reply
};

// The form's submit: checks, posts to RegisterEndpointUrl() with the agent identifier of this
// installation, and shows the outcome through zarn::MessageBox.
RegisterOutcome SubmitRegistration(const RegisterForm& form);

}  // namespace zarn
