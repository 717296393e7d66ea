#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "util/CCString.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

// Ten Chinese characters: 30 bytes of UTF-8, 20 bytes of GBK.
const std::string kTenHanUtf8 =
    "\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D\xE5\xAD\x97\xE6\xB5\x8B"
    "\xE8\xAF\x95\xE4\xB8\x80\xE4\xBA\x8C\xE4\xB8\x89\xE5\x9B\x9B";

using test::CodeSetGuard;

TEST(CodePage, AsciiIsUnchangedInEveryCodeSet) {
  for (const char* codeSet : {"UTF-8", "GBK"}) {
    CodeSetGuard guard(codeSet);
    EXPECT_EQ(Utf8ToAnsi("serverlist http://a/b?x=1"), "serverlist http://a/b?x=1") << codeSet;
    EXPECT_EQ(AnsiToUtf8("plain"), "plain") << codeSet;
  }
}

TEST(CodePage, ChineseBecomesGbkAndBack) {
  CodeSetGuard guard("GBK");
  ASSERT_EQ(kTenHanUtf8.size(), 30u);
  const std::string gbk = Utf8ToAnsi(kTenHanUtf8);
  EXPECT_EQ(gbk.size(), 20u);
  EXPECT_EQ(gbk.substr(0, 2), "\xD6\xD0");  // 中
  EXPECT_EQ(AnsiToUtf8(gbk), kTenHanUtf8);
}

TEST(CodePage, InvalidUtf8BecomesTheReplacementCharacter) {
  {
    CodeSetGuard guard("UTF-8");
    bool lossy = false;
    EXPECT_EQ(Utf8ToAnsi("a\xFF"
                         "b",
                         &lossy),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_TRUE(lossy);
    // A truncated three-byte sequence is one replacement, not three.
    EXPECT_EQ(Utf8ToAnsi("\xE4\xB8"), "\xEF\xBF\xBD");
  }
  {
    CodeSetGuard guard("GBK");
    bool lossy = false;
    EXPECT_EQ(Utf8ToAnsi("a\xFF"
                         "b",
                         &lossy),
              "a?b");
    EXPECT_TRUE(lossy);
    // A character GBK cannot write comes out as "?".
    EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "?");
  }
}

TEST(CodePage, CutsAtWholeCharacters) {
  {
    CodeSetGuard guard("GBK");
    const std::string gbk = Utf8ToAnsi(kTenHanUtf8);
    EXPECT_EQ(CutAnsi(gbk, 5).size(), 4u);
    EXPECT_EQ(CutAnsi("a" + gbk, 4).size(), 3u);
  }
  CodeSetGuard guard("UTF-8");
  EXPECT_EQ(CutAnsi(kTenHanUtf8, 7).size(), 6u);
  EXPECT_EQ(CutAnsi(kTenHanUtf8, 100), kTenHanUtf8);
  EXPECT_EQ(CutUtf8("ab" + kTenHanUtf8, 4), "ab");
}

TEST(CCStringTest, AssignFromUtf8) {
  CodeSetGuard guard("GBK");
  CCString s;
  s.assignUtf8("");
  EXPECT_STREQ(s.getCString(), "");
  s.assignUtf8(kTenHanUtf8);
  EXPECT_EQ(s.str().size(), 20u);
  s.assignUtf8("plain");
  EXPECT_EQ(s.str(), "plain");
}

TEST(CCStringTest, LongInputIsCutTo255BytesAtAWholeCharacter) {
  CodeSetGuard guard("UTF-8");
  std::string input;
  while (input.size() < 300) input += kTenHanUtf8;  // three-byte characters
  CCString s;
  s.assignUtf8(input);
  EXPECT_EQ(s.str().size(), 255u);  // 85 whole characters
  s.assignUtf8("x" + input);
  EXPECT_EQ(s.str().size(), 253u);  // "x" and 84 whole characters; a 255th byte would split one
  EXPECT_EQ(s.str(), "x" + input.substr(0, 252));
}

TEST(CCStringTest, ObjectsCountAndCompare) {
  CCString a("abc"), b("abc"), c("abd");
  EXPECT_GT(b.id(), a.id());
  EXPECT_EQ(a.retainCount(), 1u);
  EXPECT_TRUE(a.isEqual(&b));
  EXPECT_FALSE(a.isEqual(&c));
  CCObject plain;
  EXPECT_EQ(plain.copy(), nullptr);
  EXPECT_FALSE(a.isEqual(&plain));
  std::unique_ptr<CCObject> copy(a.copy());
  EXPECT_TRUE(a.isEqual(copy.get()));
}

}  // namespace
}  // namespace zarn
