// The server list: zones and their game servers, read from an XML document in which only the
// position of an element decides its role (root, zone, server) and every value is an attribute.
// The work page owns the records and builds its tree from DescribeServerTree.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "work/WorkDownload.h"

namespace zarn {

enum : int32_t { kRecordServer = 1, kRecordZone = 2 };

// Both record kinds begin with these two fields, so a tree item's data can be read without
// knowing which kind it is. Tree items carry a RecordHeader*.
struct RecordHeader {
  int32_t color = 0;  // text colour, 0x00BBGGRR (red in the low byte)
  int32_t kind = 0;   // kRecordServer or kRecordZone
};

struct ZoneRecord;

struct ServerRecord : RecordHeader {
  ServerRecord() { kind = kRecordServer; }
  std::string name;    // ANSI; the server value of the game command line
  std::string cnname;  // ANSI; the tree text when not empty
  std::string ip, port, serial, num;
  std::string id;  // the server's data id, as read; empty: the server cannot be started
  int32_t hide = 0;
  ZoneRecord* zone = nullptr;  // the owning zone
};

struct ZoneRecord : RecordHeader {
  ZoneRecord() { kind = kRecordZone; }
  std::string realname;  // ANSI, blanks removed at both ends; the zone value of the command line
  std::string name;      // ANSI; the tree text
  std::string version;   // as read; the version value of the command line
  int32_t expand = 0;
  int32_t hide = 0;
  std::vector<std::unique_ptr<ServerRecord>> servers;  // hidden ones included; empty for a hidden zone
};

using ZoneList = std::vector<std::unique_ptr<ZoneRecord>>;

// The server record behind a tree item's data, or null when it is a zone (or nothing).
ServerRecord* AsServer(RecordHeader* record);
const ServerRecord* AsServer(const RecordHeader* record);

// The page's server list state.
struct ServerListState {
  ZoneList zones;
  std::string mainPageUrl;  // the root's "main_page"
};

struct ServerListLoad {
  bool loaded = false;  // false: the file could not be read as XML
  // Where to point the embedded browser: "main_page", else the page's pageUrl (which may be
  // empty). Nothing when the file did not load or had no root element.
  std::optional<std::string> navigateTo;
};

// Rebuilds list.zones from the XML file at path. The old records are freed first, also when
// the file does not load: the caller clears its tree and its selected server before calling.
// With deleteAfter the file is deleted once read (also when it is not XML).
ServerListLoad LoadServerList(const std::string& path, bool deleteAfter, const std::string& pageUrl,
                              ServerListState& list);

// launcherDir + "/temp/serverlist.dat": a copy the game folder may hold; only ever read.
std::string ServerListFallbackPath(const std::string& launcherDir);
// The server list download: serverListUrl to launcherDir + "/temp.down", task code 100.
DownloadRequest ServerListRequest(const std::string& launcherDir, const std::string& serverListUrl);

struct ServerListStep {
  bool enableStart = false;   // a list (or the fall-back copy) was read
  bool usedFallback = false;  // the downloaded file did not load and the fall-back copy was read
  std::optional<std::string> navigateTo;
};

// The server list download has finished: reads launcherDir + "/temp.down" (deleting it), and
// when that is not a readable list, the fall-back copy (keeping it).
ServerListStep LoadDownloadedServerList(const std::string& launcherDir, const std::string& pageUrl,
                                        ServerListState& list);

// What the tree shows, in order: the zones that are not hidden with their servers that are not
// hidden. Each item has its own colour; the tree's background is black.
struct TreeItemDesc {
  std::string text;  // ANSI
  int32_t color = 0;
  RecordHeader* record = nullptr;
};
struct TreeZoneDesc {
  TreeItemDesc item;
  bool expand = false;
  std::vector<TreeItemDesc> servers;
};
std::vector<TreeZoneDesc> DescribeServerTree(const ZoneList& zones);

// An attribute number as "%d" reads it: leading white space, optional sign, digits up to the
// first other character; 0 when there are none. Values beyond 32 bits stop at the limits.
int32_t ReadDecimal(const char* text);
// The text without white space at either end, walking whole characters of the ANSI code set.
std::string TrimAnsi(const std::string& text);

}  // namespace zarn
