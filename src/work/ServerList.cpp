#include "work/ServerList.h"

#include <tinyxml2.h>
#include <unistd.h>

#include <limits>

#include "util/CCString.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/FileUtils.h"

namespace zarn {
namespace {

bool IsBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string TextAttribute(const tinyxml2::XMLElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value ? value : "";
}

int32_t NumberAttribute(const tinyxml2::XMLElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value ? ReadDecimal(value) : 0;
}

// UTF-8 from the document into the ANSI code set, kept to 255 bytes at a whole character.
std::string Converted(const std::string& utf8) {
  if (utf8.empty()) return {};
  CCString text;
  text.assignUtf8(utf8);
  return text.str();
}

void DeleteFile(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace

ServerRecord* AsServer(RecordHeader* record) {
  return record && record->kind == kRecordServer ? static_cast<ServerRecord*>(record) : nullptr;
}

const ServerRecord* AsServer(const RecordHeader* record) {
  return record && record->kind == kRecordServer ? static_cast<const ServerRecord*>(record) : nullptr;
}

int32_t ReadDecimal(const char* text) {
  if (!text) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

std::string TrimAnsi(const std::string& text) {
  // Walking whole characters keeps a lead or trail byte of a double-byte character from ever
  // being taken for a blank.
  size_t begin = std::string::npos, end = 0, pos = 0;
  while (pos < text.size()) {
    const size_t length = AnsiCharLength(text, pos);
    const bool blank = length == 1 && IsBlank(static_cast<unsigned char>(text[pos]));
    if (!blank) {
      if (begin == std::string::npos) begin = pos;
      end = pos + length;
    }
    pos += length;
  }
  return begin == std::string::npos ? std::string() : text.substr(begin, end - begin);
}

ServerListLoad LoadServerList(const std::string& path, bool deleteAfter, const std::string& pageUrl,
                              ServerListState& list) {
  ServerListLoad load;
  list.zones.clear();

  size_t size = 0;
  const std::unique_ptr<unsigned char[]> data =
      CCFileUtils::sharedFileUtils()->getFileData(path, "rb", &size);
  tinyxml2::XMLDocument doc;
  if (!data || doc.Parse(reinterpret_cast<const char*>(data.get()), size) != tinyxml2::XML_SUCCESS) {
    DebugOutput("server list not readable: " + path + (data ? std::string(" (") + doc.ErrorStr() + ")" : ""));
    if (deleteAfter) DeleteFile(path);
    return load;
  }
  load.loaded = true;

  const tinyxml2::XMLElement* root = doc.FirstChildElement();
  if (!root) {
    if (deleteAfter) DeleteFile(path);
    return load;
  }
  list.mainPageUrl = TextAttribute(*root, "main_page");
  load.navigateTo = list.mainPageUrl.empty() ? pageUrl : list.mainPageUrl;

  for (const tinyxml2::XMLElement* zoneElement = root->FirstChildElement(); zoneElement;
       zoneElement = zoneElement->NextSiblingElement()) {
    auto zone = std::make_unique<ZoneRecord>();
    zone->name = Converted(TextAttribute(*zoneElement, "name"));
    zone->realname = TrimAnsi(Converted(TextAttribute(*zoneElement, "realname")));
    DebugOutput("[" + zone->name + "][" + zone->realname + "]");
    zone->version = TextAttribute(*zoneElement, "version");
    zone->color = NumberAttribute(*zoneElement, "color");
    zone->expand = NumberAttribute(*zoneElement, "expand");
    zone->hide = NumberAttribute(*zoneElement, "hide");
    ZoneRecord* owner = zone.get();
    list.zones.push_back(std::move(zone));
    if (owner->hide != 0) continue;

    for (const tinyxml2::XMLElement* serverElement = zoneElement->FirstChildElement(); serverElement;
         serverElement = serverElement->NextSiblingElement()) {
      auto server = std::make_unique<ServerRecord>();
      server->name = Converted(TextAttribute(*serverElement, "name"));
      server->cnname = Converted(TextAttribute(*serverElement, "cnname"));
      server->ip = TextAttribute(*serverElement, "ip");
      server->port = TextAttribute(*serverElement, "port");
      server->serial = TextAttribute(*serverElement, "serial");
      server->num = TextAttribute(*serverElement, "num");
      server->id = TextAttribute(*serverElement, "id");
      server->color = NumberAttribute(*serverElement, "color");
      server->hide = NumberAttribute(*serverElement, "hide");
      server->zone = owner;
      owner->servers.push_back(std::move(server));
    }
  }
  if (deleteAfter) DeleteFile(path);
  return load;
}

std::string ServerListFallbackPath(const std::string& launcherDir) {
  return launcherDir + "/temp/serverlist.dat";
}

DownloadRequest ServerListRequest(const std::string& launcherDir, const std::string& serverListUrl) {
  return {serverListUrl, TempDownPath(launcherDir), kTaskCodeDownload};
}

ServerListStep LoadDownloadedServerList(const std::string& launcherDir, const std::string& pageUrl,
                                        ServerListState& list) {
  ServerListStep step;
  ServerListLoad load = LoadServerList(TempDownPath(launcherDir), true, pageUrl, list);
  if (load.loaded) {
    step.enableStart = true;
    step.navigateTo = std::move(load.navigateTo);
    return step;
  }
  const std::string fallback = ServerListFallbackPath(launcherDir);
  if (!CCFileUtils::sharedFileUtils()->isFileExist(fallback)) return step;
  // The copy is there: the start button is offered whatever it holds.
  load = LoadServerList(fallback, false, pageUrl, list);
  step.enableStart = true;
  step.usedFallback = true;
  step.navigateTo = std::move(load.navigateTo);
  return step;
}

std::vector<TreeZoneDesc> DescribeServerTree(const ZoneList& zones) {
  std::vector<TreeZoneDesc> tree;
  for (const auto& zone : zones) {
    if (zone->hide != 0) continue;
    TreeZoneDesc desc;
    desc.item = {zone->name, zone->color, zone.get()};
    desc.expand = zone->expand != 0;
    for (const auto& server : zone->servers) {
      if (server->hide != 0) continue;
      desc.servers.push_back(
          {server->cnname.empty() ? server->name : server->cnname, server->color, server.get()});
    }
    tree.push_back(std::move(desc));
  }
  return tree;
}

}  // namespace zarn
