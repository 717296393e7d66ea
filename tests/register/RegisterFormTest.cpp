// The registration form's data: question list, initial contents, byte limits and the eleven
// local checks.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "register/RegisterCore.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

using test::CodeSetGuard;

const char* const kCodeSets[] = {"UTF-8", "GBK"};

// Eleven different Chinese characters (UTF-8).
const std::vector<std::string> kHan = {"中", "文", "名", "字", "测", "试", "一", "二", "三", "四", "五"};

std::string HanText(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += kHan[i % kHan.size()];
  return text;
}

TEST(RegisterQuestions, FourteenItemsWithTheirIdsAndTexts) {
  const std::vector<std::string> texts = {
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
  for (const char* codeSet : kCodeSets) {
    CodeSetGuard guard(codeSet);
    const auto items = SecurityQuestionItems();
    ASSERT_EQ(items.size(), 14u) << codeSet;
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].id, i == 0 ? 0 : 13534 + static_cast<int>(i)) << codeSet << " item " << i;
      EXPECT_EQ(items[i].text, Utf8ToAnsi(texts[i])) << codeSet << " item " << i;
      EXPECT_EQ(AnsiToUtf8(items[i].text), texts[i]) << codeSet << " item " << i;
    }
    EXPECT_EQ(items[1].id, 13535);
    EXPECT_EQ(items[13].id, 13547);
  }
}

TEST(RegisterQuestions, TextsAreInTheAnsiCodeSet) {
  CodeSetGuard guard("GBK");
  const auto items = SecurityQuestionItems();
  // Full-width parentheses of item 3 are the GBK pair A3A8 / A3A9; question marks stay ASCII.
  EXPECT_NE(items[3].text.find("\xA3\xA8"), std::string::npos);
  EXPECT_NE(items[3].text.find("\xA3\xA9"), std::string::npos);
  EXPECT_EQ(items[1].text.back(), '?');
  // "您目前的姓名是?": seven double-byte characters and the "?".
  EXPECT_EQ(items[1].text.size(), 15u);
}

TEST(RegisterForm, InitialContents) {
  for (const char* codeSet : kCodeSets) {
    CodeSetGuard guard(codeSet);
    const RegisterForm form = InitialRegisterForm();
    EXPECT_TRUE(form.account.empty());
    EXPECT_TRUE(form.password.empty());
    EXPECT_TRUE(form.confirmation.empty());
    EXPECT_TRUE(form.answer.empty());
    EXPECT_EQ(form.realName, Utf8ToAnsi("张三")) << codeSet;
    EXPECT_EQ(AnsiToUtf8(form.realName), "张三");
    ASSERT_EQ(form.idNumber.size(), 18u);
    for (char c : form.idNumber) EXPECT_TRUE(c >= '0' && c <= '9') << form.idNumber;
    EXPECT_FALSE(form.email.empty());
    EXPECT_LE(form.email.size(), 20u);
    EXPECT_EQ(form.phone, "12345678910");
    EXPECT_EQ(form.questionId, 0);
    EXPECT_TRUE(form.agreementChecked);
    // Every initial text fits its field.
    for (RegisterField field : kRegisterTextFields)
      EXPECT_TRUE(FitsRegisterFieldLimit(field, RegisterFieldValue(form, field))) << codeSet;
  }
}

TEST(RegisterForm, ControlIdsAndFieldAccess) {
  const std::vector<std::pair<RegisterField, int>> ids = {
      {RegisterField::Account, 1014},  {RegisterField::Password, 1018}, {RegisterField::Confirmation, 1016},
      {RegisterField::RealName, 1015}, {RegisterField::IdNumber, 1017}, {RegisterField::Answer, 1019},
      {RegisterField::Email, 1020},    {RegisterField::Phone, 1021},
  };
  RegisterForm form;
  for (const auto& [field, id] : ids) {
    EXPECT_EQ(RegisterFieldControlId(field), id);
    RegisterFieldValue(form, field) = "v" + std::to_string(id);
  }
  EXPECT_EQ(form.account, "v1014");
  EXPECT_EQ(form.password, "v1018");
  EXPECT_EQ(form.confirmation, "v1016");
  EXPECT_EQ(form.realName, "v1015");
  EXPECT_EQ(form.idNumber, "v1017");
  EXPECT_EQ(form.answer, "v1019");
  EXPECT_EQ(form.email, "v1020");
  EXPECT_EQ(form.phone, "v1021");
}

struct LimitCase {
  const char* codeSet;
  RegisterField field;
  std::string utf8;
  bool fits;
};

// The limits count what the service stores, GBK, whatever the locale's code set.
TEST(RegisterForm, ByteLimitsCountGbkInEveryLocale) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // no GBK form: counts its 4 UTF-8 bytes
  const std::string hangul = "한";               // no GBK form either: 3
  std::vector<LimitCase> cases;
  for (const char* codeSet : kCodeSets) {
    const std::vector<LimitCase> each = {
        {codeSet, RegisterField::RealName, HanText(10), true},
        {codeSet, RegisterField::RealName, HanText(11), false},
        {codeSet, RegisterField::RealName, "a" + HanText(9), true},   // 19
        {codeSet, RegisterField::RealName, "ab" + HanText(9), true},  // 20
        {codeSet, RegisterField::RealName, "abc" + HanText(9), false},
        {codeSet, RegisterField::IdNumber, HanText(9), true},
        {codeSet, RegisterField::IdNumber, HanText(10), false},
        {codeSet, RegisterField::Answer, HanText(10), true},
        {codeSet, RegisterField::Answer, HanText(10) + "x", false},
        {codeSet, RegisterField::Account, std::string(20, 'a'), true},
        {codeSet, RegisterField::Account, std::string(21, 'a'), false},
        {codeSet, RegisterField::IdNumber, std::string(18, '1'), true},
        {codeSet, RegisterField::IdNumber, std::string(19, '1'), false},
        {codeSet, RegisterField::Confirmation, "", true},
    };
    cases.insert(cases.end(), each.begin(), each.end());
  }
  // Characters GBK lacks reach the form only where the locale can hold them.
  const std::vector<LimitCase> utf8Only = {
      {"UTF-8", RegisterField::Answer, emoji + emoji + emoji + emoji + emoji, true},  // 20
      {"UTF-8", RegisterField::Answer, emoji + emoji + emoji + emoji + emoji + "a", false},
      {"UTF-8", RegisterField::Answer, HanText(8) + hangul, true},  // 16 + 3
      {"UTF-8", RegisterField::Answer, HanText(8) + hangul + "ab", false},
      {"UTF-8", RegisterField::Answer, "\xE2\x82\xAC" + HanText(9) + "a", true},  // "€" is one GBK byte
  };
  cases.insert(cases.end(), utf8Only.begin(), utf8Only.end());
  for (const auto& c : cases) {
    CodeSetGuard guard(c.codeSet);
    const std::string ansi = Utf8ToAnsi(c.utf8);
    EXPECT_EQ(FitsRegisterFieldLimit(c.field, ansi), c.fits)
        << c.codeSet << " field " << RegisterFieldControlId(c.field) << " " << c.utf8;
  }
  for (RegisterField field : kRegisterTextFields)
    EXPECT_EQ(RegisterFieldLimit(field), field == RegisterField::IdNumber ? 18u : 20u);
}

TEST(RegisterForm, PastedTextIsCutAtAWholeCharacter) {
  for (const char* codeSet : kCodeSets) {
    CodeSetGuard guard(codeSet);
    // "a" and ten double-byte characters: 21; the tenth character would cross 20.
    EXPECT_EQ(CutToRegisterFieldLimit(RegisterField::RealName, Utf8ToAnsi("a" + HanText(10))),
              Utf8ToAnsi("a" + HanText(9)))
        << codeSet;
    EXPECT_EQ(CutToRegisterFieldLimit(RegisterField::IdNumber, Utf8ToAnsi(HanText(10))),
              Utf8ToAnsi(HanText(9)))
        << codeSet;
    EXPECT_EQ(CutToRegisterFieldLimit(RegisterField::Account, std::string(25, 'a')), std::string(20, 'a'));
    EXPECT_EQ(CutToRegisterFieldLimit(RegisterField::Account, "short"), "short");
  }
  CodeSetGuard guard("UTF-8");
  EXPECT_EQ(CutToRegisterFieldLimit(RegisterField::RealName, "ab" + HanText(8) + "\xF0\x9F\x98\x80"),
            "ab" + HanText(8));  // 18 + 4 crosses 20
}

// A form that passes every check.
RegisterForm ValidForm() {
  RegisterForm form = InitialRegisterForm();
  form.account = "abc";
  form.password = "pw1";
  form.confirmation = "pw1";
  form.questionId = 13537;
  form.answer = "x";
  form.email = "m";
  return form;
}

struct CheckCase {
  const char* name;
  std::function<void(RegisterForm&)> change;  // values given in UTF-8, stored in ANSI
  const char* text;                           // nullptr: every check passes
  const char* caption;
};

std::string A(const char* utf8) { return Utf8ToAnsi(utf8); }

const char kAgreement[] = "请阅读并同意用户注册服务协议！";
const char kQuestion[] = "请选择密保问题！";
const char kShort[] = "账号太短！";
const char kPattern[] = "账号只能包含字母和数字";
const char kPassword[] = "请填写正确的密码";
const char kMismatch[] = "两次密码输入不一致";
const char kRealName[] = "请填写正确的真实姓名";
const char kEmail[] = "请填写正确的邮箱地址";
const char kPhone[] = "请填写正确手机号码";
const char kAnswer[] = "密保答案不能填空";
const char kIdNumber[] = "请输入正确的身份证号码";
const char kFailed[] = "注册失败";
const char kAgreementTitle[] = "用户协议";

TEST(RegisterChecks, FirstFailingCheckInOrder) {
  const std::vector<CheckCase> cases = {
      {"valid form", [](RegisterForm&) {}, nullptr, nullptr},
      {"agreement unticked", [](RegisterForm& f) { f.agreementChecked = false; }, kAgreement,
       kAgreementTitle},
      {"agreement unticked on an empty form",
       [](RegisterForm& f) {
         f = RegisterForm{};
         f.agreementChecked = false;
       },
       kAgreement, kAgreementTitle},
      {"placeholder question with empty account",
       [](RegisterForm& f) {
         f.questionId = 0;
         f.account.clear();
       },
       kQuestion, kFailed},
      {"placeholder question on an empty form", [](RegisterForm& f) { f = RegisterForm{}; }, kQuestion,
       kFailed},
      {"last question", [](RegisterForm& f) { f.questionId = 13547; }, nullptr, nullptr},
      {"empty account", [](RegisterForm& f) { f.account.clear(); }, kShort, kFailed},
      {"two characters", [](RegisterForm& f) { f.account = "ab"; }, kShort, kFailed},
      {"two characters with underscore", [](RegisterForm& f) { f.account = "a_"; }, kShort, kFailed},
      {"three letters", [](RegisterForm& f) { f.account = "abc"; }, nullptr, nullptr},
      {"three digits", [](RegisterForm& f) { f.account = "007"; }, nullptr, nullptr},
      {"mixed case and digits", [](RegisterForm& f) { f.account = "Zz09aA"; }, nullptr, nullptr},
      {"underscore", [](RegisterForm& f) { f.account = "a_b"; }, kPattern, kFailed},
      {"trailing blank kept", [](RegisterForm& f) { f.account = "abc "; }, kPattern, kFailed},
      {"leading blank kept", [](RegisterForm& f) { f.account = " abc"; }, kPattern, kFailed},
      {"hyphen", [](RegisterForm& f) { f.account = "ab-c"; }, kPattern, kFailed},
      {"Chinese account", [](RegisterForm& f) { f.account = A("张三丰"); }, kPattern, kFailed},
      {"short password", [](RegisterForm& f) { f.password = f.confirmation = "pw"; }, kPassword, kFailed},
      {"empty password", [](RegisterForm& f) { f.password.clear(); }, kPassword, kFailed},
      {"three-byte password", [](RegisterForm& f) { f.password = f.confirmation = "   "; }, nullptr, nullptr},
      {"confirmation in upper case",
       [](RegisterForm& f) {
         f.password = "pass";
         f.confirmation = "PASS";
       },
       kMismatch, kFailed},
      {"confirmation with a blank", [](RegisterForm& f) { f.confirmation = "pw1 "; }, kMismatch, kFailed},
      {"empty confirmation", [](RegisterForm& f) { f.confirmation.clear(); }, kMismatch, kFailed},
      {"empty legal name", [](RegisterForm& f) { f.realName.clear(); }, kRealName, kFailed},
      {"blank legal name kept", [](RegisterForm& f) { f.realName = " "; }, nullptr, nullptr},
      {"empty e-mail", [](RegisterForm& f) { f.email.clear(); }, kEmail, kFailed},
      {"e-mail of any form", [](RegisterForm& f) { f.email = "not an address"; }, nullptr, nullptr},
      {"10 digits", [](RegisterForm& f) { f.phone = "1234567891"; }, kPhone, kFailed},
      {"12 digits", [](RegisterForm& f) { f.phone = "123456789012"; }, kPhone, kFailed},
      {"empty phone", [](RegisterForm& f) { f.phone.clear(); }, kPhone, kFailed},
      {"11 non-digits", [](RegisterForm& f) { f.phone = "abcdefghijk"; }, nullptr, nullptr},
      {"empty answer", [](RegisterForm& f) { f.answer.clear(); }, kAnswer, kFailed},
      {"empty ID number", [](RegisterForm& f) { f.idNumber.clear(); }, kIdNumber, kFailed},
      {"ID number of any form", [](RegisterForm& f) { f.idNumber = "x"; }, nullptr, nullptr},
      // Several faults: only the first one in the order speaks.
      {"short password and bad phone",
       [](RegisterForm& f) {
         f.password = "p";
         f.phone = "1";
       },
       kPassword, kFailed},
      {"bad phone, no answer, no ID",
       [](RegisterForm& f) {
         f.phone = "1";
         f.answer.clear();
         f.idNumber.clear();
       },
       kPhone, kFailed},
      {"no answer, no ID",
       [](RegisterForm& f) {
         f.answer.clear();
         f.idNumber.clear();
       },
       kAnswer, kFailed},
      {"no name, no e-mail",
       [](RegisterForm& f) {
         f.realName.clear();
         f.email.clear();
       },
       kRealName, kFailed},
      {"mismatch and no name",
       [](RegisterForm& f) {
         f.confirmation = "x";
         f.realName.clear();
       },
       kMismatch, kFailed},
  };
  for (const char* codeSet : kCodeSets) {
    CodeSetGuard guard(codeSet);
    for (const auto& c : cases) {
      RegisterForm form = ValidForm();
      c.change(form);
      const auto failure = CheckRegisterForm(form);
      if (!c.text) {
        EXPECT_FALSE(failure.has_value())
            << codeSet << " " << c.name << ": " << (failure ? AnsiToUtf8(failure->text) : "");
        continue;
      }
      ASSERT_TRUE(failure.has_value()) << codeSet << " " << c.name;
      EXPECT_EQ(failure->text, Utf8ToAnsi(c.text)) << codeSet << " " << c.name;
      EXPECT_EQ(failure->caption, Utf8ToAnsi(c.caption)) << codeSet << " " << c.name;
      EXPECT_EQ(failure->type, MB_OK | MB_ICONERROR) << codeSet << " " << c.name;
    }
  }
}

TEST(RegisterChecks, AccountLengthCountsAnsiBytes) {
  // One Chinese character: two bytes under GBK (too short), three under UTF-8 (long enough, but
  // not a letter or digit).
  {
    CodeSetGuard guard("GBK");
    RegisterForm form = ValidForm();
    form.account = Utf8ToAnsi("张");
    ASSERT_EQ(form.account.size(), 2u);
    EXPECT_EQ(CheckRegisterForm(form)->text, Utf8ToAnsi(kShort));
  }
  {
    CodeSetGuard guard("UTF-8");
    RegisterForm form = ValidForm();
    form.account = "张";
    ASSERT_EQ(form.account.size(), 3u);
    EXPECT_EQ(CheckRegisterForm(form)->text, kPattern);
    // Under UTF-8 a phone of 11 bytes may be fewer characters: only bytes count.
    form = ValidForm();
    form.phone = "张三12345";
    ASSERT_EQ(form.phone.size(), 11u);
    EXPECT_FALSE(CheckRegisterForm(form).has_value());
  }
}

TEST(RegisterChecks, InitialFormAsksForTheQuestionFirst) {
  const RegisterForm form = InitialRegisterForm();
  const auto failure = CheckRegisterForm(form);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->text, Utf8ToAnsi(kQuestion));
}

}  // namespace
}  // namespace zarn
