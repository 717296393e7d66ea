#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

#include "support/TestSupport.h"
#include "work/ServerList.h"

namespace zarn {
namespace {

using test::CodeSetGuard;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr char kPageUrl[] = "http://layout.example/news.html";

struct Loaded {
  ServerListLoad load;
  const ServerListState& list;
  const std::vector<TreeZoneDesc>& tree;
};

struct ListCase {
  const char* name;
  const char* codeSet;
  std::string xml;
  std::function<void(const Loaded&)> check;
};

const std::vector<ListCase>& ListCases() {
  static const std::vector<ListCase> cases = {
      {"RolesByPositionOnly", "UTF-8",
       R"(<?xml version="1.0"?>
<!-- names of elements do not matter -->
<anything main_page="http://web/start.html">
  text is ignored
  <z1 name="Zone A" realname="ZA" version="1.2">
    <s name="A1" ip="10.0.0.1" port="7001" serial="3" num="4" id="12"><deeper name="ignored"/></s>
    <!-- a comment between servers -->
    <t name="A2" id="0"/>
  </z1>
  <z2 name="Zone B"><s name="B1"/></z2>
</anything>
<second><zone name="never read"/></second>)",
       [](const Loaded& l) {
         EXPECT_TRUE(l.load.loaded);
         EXPECT_EQ(l.load.navigateTo, std::optional<std::string>("http://web/start.html"));
         EXPECT_EQ(l.list.mainPageUrl, "http://web/start.html");
         ASSERT_EQ(l.list.zones.size(), 2u);
         const ZoneRecord& a = *l.list.zones[0];
         EXPECT_EQ(a.kind, 2);
         EXPECT_EQ(a.name, "Zone A");
         EXPECT_EQ(a.realname, "ZA");
         EXPECT_EQ(a.version, "1.2");
         ASSERT_EQ(a.servers.size(), 2u);
         const ServerRecord& a1 = *a.servers[0];
         EXPECT_EQ(a1.kind, 1);
         EXPECT_EQ(a1.name, "A1");
         EXPECT_EQ(a1.ip, "10.0.0.1");
         EXPECT_EQ(a1.port, "7001");
         EXPECT_EQ(a1.serial, "3");
         EXPECT_EQ(a1.num, "4");
         EXPECT_EQ(a1.id, "12");
         EXPECT_EQ(a1.zone, &a);
         EXPECT_EQ(a.servers[1]->name, "A2");
         EXPECT_EQ(l.list.zones[1]->name, "Zone B");
         ASSERT_EQ(l.tree.size(), 2u);
         EXPECT_EQ(l.tree[0].item.text, "Zone A");
         EXPECT_EQ(l.tree[0].item.record, &a);
         ASSERT_EQ(l.tree[0].servers.size(), 2u);
         EXPECT_EQ(l.tree[0].servers[0].record, &a1);
         EXPECT_EQ(l.tree[1].servers.size(), 1u);
       }},
      {"NamesAreConverted", "GBK",
       R"(<list><zone name="电信" realname="新闻" version="v1">
            <server name="中" cnname="电信" ip="1.2.3.4" id="中"/></zone></list>)",
       [](const Loaded& l) {
         ASSERT_EQ(l.list.zones.size(), 1u);
         const ZoneRecord& z = *l.list.zones[0];
         EXPECT_EQ(z.name, "\xB5\xE7\xD0\xC5");
         EXPECT_EQ(z.realname, "\xD0\xC2\xCE\xC5");
         ASSERT_EQ(z.servers.size(), 1u);
         EXPECT_EQ(z.servers[0]->name, "\xD6\xD0");
         EXPECT_EQ(z.servers[0]->cnname, "\xB5\xE7\xD0\xC5");
         // Values other than names stay as read.
         EXPECT_EQ(z.servers[0]->id, "中");
         EXPECT_EQ(l.tree[0].servers[0].text, "\xB5\xE7\xD0\xC5");
       }},
      {"RealnameIsTrimmed", "UTF-8", "<list><zone name=\"N\" realname=\"  X\t\"/></list>",
       [](const Loaded& l) {
         ASSERT_EQ(l.list.zones.size(), 1u);
         EXPECT_EQ(l.list.zones[0]->realname, "X");
         EXPECT_EQ(l.list.zones[0]->name, "N");
       }},
      {"RealnameTrimmedInGbk", "GBK", "<list><zone realname=\" \t电 信 \"/><zone realname=\"   \"/></list>",
       [](const Loaded& l) {
         ASSERT_EQ(l.list.zones.size(), 2u);
         EXPECT_EQ(l.list.zones[0]->realname, "\xB5\xE7 \xD0\xC5");
         EXPECT_EQ(l.list.zones[1]->realname, "");
       }},
      {"CnnameOverNameForTheItemText", "UTF-8",
       R"(<list><zone name="Z"><server name="S" cnname=""/><server name="S" cnname="C"/></zone></list>)",
       [](const Loaded& l) {
         ASSERT_EQ(l.tree.size(), 1u);
         ASSERT_EQ(l.tree[0].servers.size(), 2u);
         EXPECT_EQ(l.tree[0].servers[0].text, "S");
         EXPECT_EQ(l.tree[0].servers[1].text, "C");
         // The record keeps the name for the command line.
         EXPECT_EQ(AsServer(l.tree[0].servers[1].record)->name, "S");
       }},
      {"HiddenZoneKeptWithoutServers", "UTF-8",
       R"(<list><zone name="H" hide="1"><server name="1"/><server name="2"/><server name="3"/></zone>
            <zone name="V"><server name="4"/></zone></list>)",
       [](const Loaded& l) {
         ASSERT_EQ(l.list.zones.size(), 2u);
         EXPECT_EQ(l.list.zones[0]->name, "H");
         EXPECT_EQ(l.list.zones[0]->hide, 1);
         EXPECT_TRUE(l.list.zones[0]->servers.empty());
         ASSERT_EQ(l.tree.size(), 1u);
         EXPECT_EQ(l.tree[0].item.text, "V");
       }},
      {"HiddenServerKeptWithoutItem", "UTF-8",
       R"(<list><zone name="Z"><server name="a"/><server name="b" hide="1"/><server name="c" hide="0"/></zone></list>)",
       [](const Loaded& l) {
         ASSERT_EQ(l.list.zones[0]->servers.size(), 3u);
         EXPECT_EQ(l.list.zones[0]->servers[1]->hide, 1);
         ASSERT_EQ(l.tree[0].servers.size(), 2u);
         EXPECT_EQ(l.tree[0].servers[0].text, "a");
         EXPECT_EQ(l.tree[0].servers[1].text, "c");
       }},
      {"ExpandFlag", "UTF-8",
       R"(<list><zone name="open" expand="1"/><zone name="closed" expand="0"/><zone name="plain"/>
            <zone name="neg" expand="-1"/></list>)",
       [](const Loaded& l) {
         ASSERT_EQ(l.tree.size(), 4u);
         EXPECT_TRUE(l.tree[0].expand);
         EXPECT_FALSE(l.tree[1].expand);
         EXPECT_FALSE(l.tree[2].expand);
         EXPECT_TRUE(l.tree[3].expand);
       }},
      {"ColoursPerItem", "UTF-8",
       R"(<list><zone name="red" color="255"><server name="green" color="65280"/><server name="black"/>
            </zone><zone name="blue" color=" 16711680px"/></list>)",
       [](const Loaded& l) {
         ASSERT_EQ(l.tree.size(), 2u);
         // 0x00BBGGRR: red in the low byte, green in the next.
         EXPECT_EQ(l.tree[0].item.color, 0x0000FF);
         EXPECT_EQ(l.tree[0].servers[0].color, 0x00FF00);
         EXPECT_EQ(l.tree[0].servers[1].color, 0);
         EXPECT_EQ(l.tree[1].item.color, 0xFF0000);
         EXPECT_EQ(l.list.zones[0]->color, 255);
       }},
      {"NoMainPageNavigatesToThePageUrl", "UTF-8", R"(<list><zone name="Z"/></list>)",
       [](const Loaded& l) {
         EXPECT_EQ(l.load.navigateTo, std::optional<std::string>(kPageUrl));
         EXPECT_EQ(l.list.mainPageUrl, "");
       }},
      {"NoRootElement", "UTF-8", R"(<?xml version="1.0"?><!-- an empty list -->)",
       [](const Loaded& l) {
         EXPECT_TRUE(l.load.loaded);
         EXPECT_FALSE(l.load.navigateTo.has_value());
         EXPECT_TRUE(l.list.zones.empty());
         EXPECT_TRUE(l.tree.empty());
       }},
      {"NotXml", "UTF-8", "<html><body>502 Bad Gateway",
       [](const Loaded& l) {
         EXPECT_FALSE(l.load.loaded);
         EXPECT_FALSE(l.load.navigateTo.has_value());
         EXPECT_TRUE(l.list.zones.empty());
       }},
      {"EmptyFileIsNotXml", "UTF-8", "", [](const Loaded& l) { EXPECT_FALSE(l.load.loaded); }},
      {"LongNameCutAtAWholeCharacterUtf8", "UTF-8",
       [] {
         std::string name = "a";
         for (int i = 0; i < 100; ++i) name += "中";  // 301 bytes
         return "<list><zone name=\"" + name + "\"/></list>";
       }(),
       [](const Loaded& l) {
         std::string expected = "a";
         for (int i = 0; i < 84; ++i) expected += "中";  // 253 bytes: the next character would pass 255
         EXPECT_EQ(l.list.zones[0]->name, expected);
       }},
      {"LongNameCutAtAWholeCharacterGbk", "GBK",
       [] {
         std::string name = "ab";
         for (int i = 0; i < 150; ++i) name += "中";  // 302 bytes of GBK
         return "<list><zone><server name=\"" + name + "\" cnname=\"" + name + "\"/></zone></list>";
       }(),
       [](const Loaded& l) {
         std::string expected = "ab";
         for (int i = 0; i < 126; ++i) expected += "\xD6\xD0";  // 254 bytes
         EXPECT_EQ(l.list.zones[0]->servers[0]->name, expected);
         EXPECT_EQ(l.list.zones[0]->servers[0]->cnname, expected);
       }},
      {"NumbersAsPercentD", "UTF-8",
       R"(<list><zone name="a" color="  42abc" hide="+0" expand="x1"/><zone name="b" hide="-7"/>
            <zone name="c" color="99999999999"/><zone name="d" color="-99999999999" expand=""/></list>)",
       [](const Loaded& l) {
         ASSERT_EQ(l.list.zones.size(), 4u);
         EXPECT_EQ(l.list.zones[0]->color, 42);
         EXPECT_EQ(l.list.zones[0]->hide, 0);
         EXPECT_EQ(l.list.zones[0]->expand, 0);
         EXPECT_EQ(l.list.zones[1]->hide, -7);
         EXPECT_EQ(l.list.zones[2]->color, std::numeric_limits<int32_t>::max());
         EXPECT_EQ(l.list.zones[3]->color, std::numeric_limits<int32_t>::min());
         ASSERT_EQ(l.tree.size(), 3u);  // a hide of -7 is not 0
         EXPECT_EQ(l.tree[1].item.text, "c");
       }},
      {"EntitiesAndByteOrderMark", "UTF-8",
       "\xEF\xBB\xBF<list><zone name=\"A &amp; B\" realname=\"&#9;R&#32;\"/></list>",
       [](const Loaded& l) {
         ASSERT_EQ(l.list.zones.size(), 1u);
         EXPECT_EQ(l.list.zones[0]->name, "A & B");
         EXPECT_EQ(l.list.zones[0]->realname, "R");
       }},
  };
  return cases;
}

// Test names print the case name, not its bytes.
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class ListTable : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListTable, Loads) {
  const ListCase& c = GetParam();
  CodeSetGuard codeSet(c.codeSet);
  TempDir dir;
  const std::string path = dir.file("list.xml");
  WriteFile(path, c.xml);
  ServerListState list;
  const ServerListLoad load = LoadServerList(path, false, kPageUrl, list);
  const std::vector<TreeZoneDesc> tree = DescribeServerTree(list.zones);
  c.check({load, list, tree});
  EXPECT_EQ(ReadFile(path), c.xml);  // kept without deleteAfter
}

INSTANTIATE_TEST_SUITE_P(ServerList, ListTable, ::testing::ValuesIn(ListCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServerList, DeleteAfterRemovesTheFileWhateverItHeld) {
  for (const std::string& xml : {std::string("<list><zone name=\"Z\"/></list>"), std::string("not xml"),
                                 std::string("<?xml version=\"1.0\"?>")}) {
    TempDir dir;
    const std::string path = dir.file("temp.down");
    WriteFile(path, xml);
    ServerListState list;
    LoadServerList(path, true, kPageUrl, list);
    EXPECT_FALSE(Exists(path)) << xml;
  }
}

TEST(ServerList, ReloadReplacesTheOldRecords) {
  TempDir dir;
  ServerListState list;
  WriteFile(dir.file("a.xml"),
            "<list main_page=\"http://m/\"><zone name=\"old\"><server name=\"s\"/></zone></list>");
  ASSERT_TRUE(LoadServerList(dir.file("a.xml"), false, kPageUrl, list).loaded);
  ASSERT_EQ(list.zones.size(), 1u);
  WriteFile(dir.file("b.xml"), "<list><zone name=\"new1\"/><zone name=\"new2\"/></list>");
  ASSERT_TRUE(LoadServerList(dir.file("b.xml"), false, kPageUrl, list).loaded);
  ASSERT_EQ(list.zones.size(), 2u);
  EXPECT_EQ(list.zones[0]->name, "new1");
  // A list that does not load leaves no record of the old one.
  WriteFile(dir.file("c.xml"), "<<<");
  EXPECT_FALSE(LoadServerList(dir.file("c.xml"), false, kPageUrl, list).loaded);
  EXPECT_TRUE(list.zones.empty());
}

TEST(ServerList, AsServerTellsTheKinds) {
  ZoneRecord zone;
  ServerRecord server;
  RecordHeader* zoneItem = &zone;
  RecordHeader* serverItem = &server;
  EXPECT_EQ(zoneItem->kind, 2);
  EXPECT_EQ(serverItem->kind, 1);
  EXPECT_EQ(AsServer(zoneItem), nullptr);
  EXPECT_EQ(AsServer(serverItem), &server);
  EXPECT_EQ(AsServer(static_cast<RecordHeader*>(nullptr)), nullptr);
}

TEST(ServerList, ReadDecimalTable) {
  const std::vector<std::pair<const char*, int32_t>> cases = {
      {"0", 0},
      {"42", 42},
      {"  42abc", 42},
      {"\t\n 7", 7},
      {"+5", 5},
      {"-5", -5},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"2147483647", 2147483647},
      {"1e3", 1},
      {"- 4", 0},
      {"99999999999", 2147483647},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ReadDecimal(text), value) << '"' << text << '"';
  EXPECT_EQ(ReadDecimal(nullptr), 0);
}

// The step after the server list download: the downloaded file, else the fall-back copy.
class DownloadedList : public ::testing::Test {
 protected:
  std::string TempDown() const { return dir.path() + "/temp.down"; }
  std::string Fallback() const { return dir.path() + "/temp/serverlist.dat"; }
  TempDir dir;
  ServerListState list;
};

TEST_F(DownloadedList, ReadableDownloadIsUsedAndDeleted) {
  WriteFile(TempDown(), "<list main_page=\"http://m/\"><zone name=\"down\"/></list>");
  WriteFile(Fallback(), "<list><zone name=\"fallback\"/></list>");
  const ServerListStep step = LoadDownloadedServerList(dir.path(), kPageUrl, list);
  EXPECT_TRUE(step.enableStart);
  EXPECT_FALSE(step.usedFallback);
  EXPECT_EQ(step.navigateTo, std::optional<std::string>("http://m/"));
  ASSERT_EQ(list.zones.size(), 1u);
  EXPECT_EQ(list.zones[0]->name, "down");
  EXPECT_FALSE(Exists(TempDown()));
  EXPECT_TRUE(Exists(Fallback()));
}

TEST_F(DownloadedList, NotXmlWithFallbackUsesTheFallbackAndKeepsIt) {
  WriteFile(TempDown(), "<html>error page sent with 200");
  const std::string fallbackXml = "<list><zone name=\"fallback\"><server name=\"s\"/></zone></list>";
  WriteFile(Fallback(), fallbackXml);
  const ServerListStep step = LoadDownloadedServerList(dir.path(), kPageUrl, list);
  EXPECT_TRUE(step.enableStart);
  EXPECT_TRUE(step.usedFallback);
  EXPECT_EQ(step.navigateTo, std::optional<std::string>(kPageUrl));
  ASSERT_EQ(list.zones.size(), 1u);
  EXPECT_EQ(list.zones[0]->name, "fallback");
  EXPECT_EQ(DescribeServerTree(list.zones).at(0).servers.size(), 1u);
  EXPECT_FALSE(Exists(TempDown()));
  EXPECT_EQ(ReadFile(Fallback()), fallbackXml);
}

TEST_F(DownloadedList, NotXmlWithoutFallbackLeavesTheStartDisabled) {
  WriteFile(TempDown(), "garbage");
  const ServerListStep step = LoadDownloadedServerList(dir.path(), kPageUrl, list);
  EXPECT_FALSE(step.enableStart);
  EXPECT_FALSE(step.usedFallback);
  EXPECT_FALSE(step.navigateTo.has_value());
  EXPECT_TRUE(list.zones.empty());
  EXPECT_FALSE(Exists(TempDown()));
  EXPECT_FALSE(Exists(Fallback()));  // never written
}

TEST_F(DownloadedList, UnreadableFallbackStillEnablesTheStart) {
  WriteFile(TempDown(), "garbage");
  WriteFile(Fallback(), "also garbage");
  const ServerListStep step = LoadDownloadedServerList(dir.path(), kPageUrl, list);
  EXPECT_TRUE(step.enableStart);
  EXPECT_TRUE(step.usedFallback);
  EXPECT_FALSE(step.navigateTo.has_value());
  EXPECT_TRUE(list.zones.empty());
  EXPECT_TRUE(Exists(Fallback()));
}

TEST_F(DownloadedList, NoRootElementEnablesTheStartWithAnEmptyTree) {
  WriteFile(TempDown(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
  WriteFile(Fallback(), "<list><zone name=\"fallback\"/></list>");
  const ServerListStep step = LoadDownloadedServerList(dir.path(), kPageUrl, list);
  EXPECT_TRUE(step.enableStart);
  EXPECT_FALSE(step.usedFallback);
  EXPECT_TRUE(list.zones.empty());
  EXPECT_FALSE(Exists(TempDown()));
}

TEST_F(DownloadedList, RequestGoesToTempDown) {
  const DownloadRequest request = ServerListRequest(dir.path(), "http://127.0.0.1:1/list.xml");
  EXPECT_EQ(request.url, "http://127.0.0.1:1/list.xml");
  EXPECT_EQ(request.localPath, TempDown());
  EXPECT_EQ(request.taskCode, 100);
  EXPECT_EQ(ServerListFallbackPath(dir.path()), Fallback());
}

}  // namespace
}  // namespace zarn
