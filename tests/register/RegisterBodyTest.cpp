// The registration body: field order, UTF-8 conversion and the encoding of separators.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "register/RegisterCore.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

using test::CodeSetGuard;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

RegisterForm ExampleForm() {
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

TEST(RegisterBody, ExampleFormInEveryCodeSet) {
  const std::string expected =
      "UserName=abc&LoginPass=pw1&CheLoginPass=pw1&RealName=\xE5\xBC\xA0\xE4\xB8\x89"
      "&IDCard=110105199001010018&SecretQuestionID=13537&SecretAnswer=x&SecretEmail=m"
      "&SecretPhone=12345678910&SpreaderID=";
  for (const char* codeSet : {"GBK", "UTF-8"}) {
    CodeSetGuard guard(codeSet);
    const RegisterForm form = ExampleForm();
    if (std::string(codeSet) == "GBK") {
      ASSERT_EQ(form.realName, "\xD5\xC5\xC8\xFD");  // the name as the GBK edit holds it
    }
    const std::string body = BuildRegisterBody(form, "");
    EXPECT_EQ(body, expected) << codeSet;
    // The name goes as its six raw UTF-8 bytes, and nothing is percent-encoded.
    EXPECT_NE(body.find("RealName=\xE5\xBC\xA0\xE4\xB8\x89&"), std::string::npos);
    EXPECT_EQ(body.find('%'), std::string::npos);
    EXPECT_TRUE(EndsWith(body, "&SpreaderID="));
  }
}

TEST(RegisterBody, AgentIdentifierIsTheLastField) {
  EXPECT_TRUE(
      EndsWith(BuildRegisterBody(ExampleForm(), "agent42"), "&SecretPhone=12345678910&SpreaderID=agent42"));
  EXPECT_TRUE(EndsWith(BuildRegisterBody(ExampleForm(), "a+b=c"), "&SpreaderID=a%2Bb%3Dc"));
}

TEST(RegisterBody, KeysInTheServiceOrder) {
  RegisterForm form;
  form.account = "1";
  form.password = "2";
  form.confirmation = "3";
  form.realName = "4";
  form.idNumber = "5";
  form.questionId = -6;
  form.answer = "7";
  form.email = "8";
  form.phone = "9";
  EXPECT_EQ(BuildRegisterBody(form, "10"),
            "UserName=1&LoginPass=2&CheLoginPass=3&RealName=4&IDCard=5&SecretQuestionID=-6"
            "&SecretAnswer=7&SecretEmail=8&SecretPhone=9&SpreaderID=10");
}

TEST(RegisterBody, SeparatorsAreEncodedAndEverythingElseGoesAsTyped) {
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> cases = {
      {"p&w", "p%26w"},
      {"100%", "100%25"},
      {"a=b", "a%3Db"},
      {"1+1", "1%2B1"},
      {"%26", "%2526"},  // already encoded-looking text stays what was typed
      {"a b", "a b"},
      {"?#/;:@!$'()*,~", "?#/;:@!$'()*,~"},
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"", ""},
      {"&&==++%%", "%26%26%3D%3D%2B%2B%25%25"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeRegisterValue(c.in), c.out) << c.in;
}

TEST(RegisterBody, PasswordWithSeparatorsCannotSplitTheField) {
  for (const char* codeSet : {"GBK", "UTF-8"}) {
    CodeSetGuard guard(codeSet);
    RegisterForm form = ExampleForm();
    form.password = form.confirmation = "a&UserName=x%+";
    form.answer = Utf8ToAnsi("答 案");
    const std::string body = BuildRegisterBody(form, "");
    EXPECT_NE(body.find("&LoginPass=a%26UserName%3Dx%25%2B&CheLoginPass=a%26UserName%3Dx%25%2B&"),
              std::string::npos)
        << body;
    EXPECT_NE(body.find("&SecretAnswer=\xE7\xAD\x94 \xE6\xA1\x88&"), std::string::npos) << codeSet;
    // Exactly the ten fields survive.
    size_t separators = 0;
    for (char c : body) separators += c == '&';
    EXPECT_EQ(separators, 9u);
  }
}

TEST(RegisterBody, GbkValuesBecomeUtf8) {
  CodeSetGuard guard("GBK");
  RegisterForm form = ExampleForm();
  form.answer = SecurityQuestionItems()[3].text;  // full-width parentheses included
  const std::string body = BuildRegisterBody(form, Utf8ToAnsi("代理"));
  EXPECT_NE(body.find("&SecretAnswer=您的学号（或工号）是?&"), std::string::npos);
  EXPECT_TRUE(EndsWith(body, "&SpreaderID=代理")) << body;
}

}  // namespace
}  // namespace zarn
