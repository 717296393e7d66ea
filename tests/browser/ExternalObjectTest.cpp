// window.external as pages of the web panel see it, in a real web engine view loading pages
// from a server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebEngineView>

#include "BrowserTestSupport.h"

namespace zarn::test {
namespace {

class ExternalObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(harness.view(), nullptr); }

  // Loads a page with the given head and body and checks that it loaded.
  void Open(const std::string& path, const std::string& head, const std::string& body) {
    server.Add(path, HtmlPage(head, body));
    ASSERT_TRUE(LoadAndWait(harness.view(), QString::fromStdString(server.Url(path))));
  }
  QVariant Js(const QString& script) { return RunJs(harness.view()->page(), script); }

  PageServer server;
  BrowserHarness harness;
};

// What a script sees when it reads each name: "value:<text>" or "<error name>:<message>".
const char kReadEach[] = R"JS(
  (function (names) {
    return JSON.stringify(names.map(function (name) {
      try {
        return 'value:' + window.external[name];
      } catch (e) {
        return e.name + ':' + e.message;
      }
    }));
  })(%1)
)JS";

QString JsonArrayOf(const std::vector<QString>& items) {
  QJsonArray array;
  for (const QString& item : items) array.append(item);
  return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

std::vector<QString> ReadEach(QWebEnginePage* page, const std::vector<QString>& names) {
  const QVariant answer = RunJs(page, QString::fromLatin1(kReadEach).arg(JsonArrayOf(names)));
  std::vector<QString> out;
  for (const QJsonValue& v : QJsonDocument::fromJson(answer.toString().toUtf8()).array())
    out.push_back(v.toString());
  return out;
}

TEST_F(ExternalObjectTest, NamesBeginningWithLowerCaseXxReadTheText) {
  Open("/names.html", "", "<p>names</p>");
  const std::vector<QString> names = {
      "xxyyzz", "xxABC", "xx", "xx0", "xxyyzz_and_more", QString::fromUtf8("xx新闻"), "xx yy",
  };
  const std::vector<QString> seen = ReadEach(harness.view()->page(), names);
  ASSERT_EQ(seen.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i].toStdString());
    EXPECT_EQ(seen[i].toStdString(), "value:Dizive");
  }
}

TEST_F(ExternalObjectTest, EveryOtherNameIsAnUnknownName) {
  Open("/unknown.html", "", "<p>unknown</p>");
  const std::vector<QString> names = {
      "Xxyyzz",
      "xyzzy",
      "XXyyzz",
      "xXyyzz",
      "x",
      "",
      "yyzz",
      " xxyyzz",
      "xyxxzz",
      QString::fromUtf8("\xEF\xBD\x98\xEF\xBD\x98yyzz"),  // full-width "ｘｘ"
      "toString",
      "valueOf",
      "hasOwnProperty",
      "constructor",
      "__proto__",
      "then",
      "AddSearchProvider",  // the engine's own member of window.external is gone as well
  };
  const std::vector<QString> seen = ReadEach(harness.view()->page(), names);
  ASSERT_EQ(seen.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i].toStdString());
    EXPECT_EQ(seen[i].toStdString(),
              "TypeError:Object doesn't support property or method '" + names[i].toStdString() + "'");
  }
}

TEST_F(ExternalObjectTest, CallingTheMemberGivesNothingAndThrowsNothing) {
  Open("/call.html", "", "<p>call</p>");
  const QVariant answer = Js(R"JS(
    (function () {
      var out = {};
      function attempt(key, f) {
        try { var r = f(); out[key] = r === undefined ? 'undefined' : 'value ' + r; }
        catch (e) { out[key] = e.name; }
      }
      attempt('xxyyzz()', function () { return window.external.xxyyzz(); });
      attempt('xxABC(1, a, {})', function () { return window.external.xxABC(1, 'a', {}); });
      attempt('xx() by index', function () { return window.external['xx'](); });
      attempt('new xxyyzz()', function () { return typeof new window.external.xxyyzz(); });
      attempt('xyzzy()', function () { return window.external.xyzzy(); });
      attempt('Xxyyzz()', function () { return window.external.Xxyyzz(); });
      return JSON.stringify(out);
    })()
  )JS");
  const QJsonObject out = QJsonDocument::fromJson(answer.toString().toUtf8()).object();
  EXPECT_EQ(out.value("xxyyzz()").toString().toStdString(), "undefined");
  EXPECT_EQ(out.value("xxABC(1, a, {})").toString().toStdString(), "undefined");
  EXPECT_EQ(out.value("xx() by index").toString().toStdString(), "undefined");
  EXPECT_EQ(out.value("new xxyyzz()").toString().toStdString(), "value object");
  EXPECT_EQ(out.value("xyzzy()").toString().toStdString(), "TypeError");
  EXPECT_EQ(out.value("Xxyyzz()").toString().toStdString(), "TypeError");
}

TEST_F(ExternalObjectTest, TheMemberActsAsTheTextWhereverTextIsExpected) {
  Open("/text.html", "", "<p id=\"p\"></p>");
  const QVariant answer = Js(R"JS(
    (function () {
      var v = window.external.xxyyzz;
      document.getElementById('p').textContent = v;
      return JSON.stringify([
        v + '', `${v}`, String(v), v == 'Dizive', v.length, v.toUpperCase(), v.indexOf('v'),
        JSON.stringify({v: v}), window.external.xxABC == window.external.xxyyzz,
        document.getElementById('p').textContent
      ]);
    })()
  )JS");
  EXPECT_EQ(answer.toString().toStdString(),
            R"(["Dizive","Dizive","Dizive",true,6,"DIZIVE",4,"{\"v\":\"Dizive\"}",true,"Dizive"])");
}

TEST_F(ExternalObjectTest, WritesAndQueriesAnswerLikeTheHostObject) {
  Open("/write.html", "", "<p>write</p>");
  const QVariant answer = Js(R"JS(
    (function () {
      var out = [];
      function attempt(f) { try { out.push(String(f())); } catch (e) { out.push(e.name); } }
      attempt(function () { window.external.xxyyzz = 'changed'; return '' + window.external.xxyyzz; });
      attempt(function () { window.external.xyzzy = 1; return 'stored'; });
      attempt(function () { return 'xxyyzz' in window.external; });
      attempt(function () { return 'xyzzy' in window.external; });
      attempt(function () { return Object.keys(window.external).length; });
      attempt(function () { return typeof window.external; });
      attempt(function () { window.external = null; return '' + window.external.xxyyzz; });
      attempt(function () { Object.defineProperty(window.external, 'xxq', {value: 1}); return 'defined'; });
      return JSON.stringify(out);
    })()
  )JS");
  EXPECT_EQ(answer.toString().toStdString(),
            R"(["Dizive","TypeError","true","false","0","object","Dizive","TypeError"])");
}

TEST_F(ExternalObjectTest, PageScriptsFindTheObjectBeforeTheirFirstLine) {
  // The head script runs before the body is parsed; it also replaces the globals the object
  // could have borrowed, which must change nothing.
  Open("/early.html",
       "<script>"
       "window.early = '' + window.external.xxyyzz;"
       "window.String = function () { return 'replaced'; };"
       "window.TypeError = function () {};"
       "</script>",
       "<p>early</p>");
  EXPECT_EQ(Js("window.early").toString().toStdString(), "Dizive");
  EXPECT_EQ(Js("(function () { try { window.external.xyzzy; return 'no error'; } "
               "catch (e) { return e.name + ':' + (e instanceof Error); } })()")
                .toString()
                .toStdString(),
            "TypeError:true");
  EXPECT_EQ(Js("'' + window.external.xxyyzz").toString().toStdString(), "Dizive");
}

TEST_F(ExternalObjectTest, FramesOfThePageHaveTheObjectToo) {
  server.Add("/inner.html",
             HtmlPage("<script>window.seen = '' + window.external.xxyyzz;</script>", "<p id=\"v\"></p>"));
  Open("/outer.html", "",
       "<iframe id=\"f\" src=\"/inner.html\"></iframe>"
       "<iframe id=\"s\" srcdoc=\"&lt;script&gt;window.seen = '' + window.external.xxyyzz;&lt;/script&gt;\">"
       "</iframe>");
  ASSERT_TRUE(WaitFor([&] {
    return Js("(function () { var f = document.getElementById('f').contentWindow, "
              "s = document.getElementById('s').contentWindow; return !!(f && f.seen && s && s.seen); })()")
        .toBool();
  }));
  EXPECT_EQ(Js("document.getElementById('s').contentWindow.seen").toString().toStdString(), "Dizive");
  EXPECT_EQ(Js("frames[0].seen").toString().toStdString(), "Dizive");
  EXPECT_EQ(Js("'' + frames[0].external.xxyyzz").toString().toStdString(), "Dizive");
  EXPECT_EQ(Js("(function () { try { frames[0].external.Xxyyzz; return 'no error'; } "
               "catch (e) { return e.name; } })()")
                .toString()
                .toStdString(),
            "TypeError");
  // The frame also reads the page's object through its parent.
  EXPECT_EQ(Js("frames[0].eval(\"'' + parent.external.xxABC\")").toString().toStdString(), "Dizive");
}

}  // namespace
}  // namespace zarn::test
