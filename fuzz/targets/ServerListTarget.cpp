// The server list: downloaded to "temp.down", with the game folder's own copy as the fall-back.
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "update/UpdateManifest.h"
#include "util/CCString.h"
#include "work/ServerList.h"

namespace zarn::fuzz {
namespace {

void CheckPlan(const std::string& launcherDir, const std::string& id) {
  const ServerDataPlan plan = PlanServerData(launcherDir, id);
  if (!plan.hasData) return;
  // Everything the per-server step writes stays in the game folder.
  const std::string prefix = launcherDir + "/";
  for (const std::string* path :
       {&plan.serverDataDir, &plan.listLocalPath, &plan.archiveLocalPath, &plan.installedListPath}) {
    ZARN_FUZZ_CHECK(
        path->compare(0, prefix.size(), prefix) == 0 && !NameLeavesFolder(path->substr(prefix.size())),
        "server id \"" + id + "\" gives the path " + *path);
  }
}

void CheckList(const std::string& launcherDir, const std::string& bytes) {
  const std::string down = launcherDir + "/temp.down";
  const std::string fallback = ServerListFallbackPath(launcherDir);
  WriteBytes(down, bytes);
  WriteBytes(fallback, bytes);

  ServerListState list;
  const ServerListStep step = LoadDownloadedServerList(launcherDir, "http://page.invalid/", list);
  ZARN_FUZZ_CHECK(!Exists(down), "the downloaded list was not deleted");
  ZARN_FUZZ_CHECK(Exists(fallback), "the fall-back copy was deleted");
  ZARN_FUZZ_CHECK(step.enableStart, "a present fall-back copy did not enable the start");
  ZARN_FUZZ_CHECK(!step.navigateTo || !step.navigateTo->empty(), "navigates to an empty address");

  std::set<const ZoneRecord*> zones;
  for (const auto& zone : list.zones) {
    zones.insert(zone.get());
    ZARN_FUZZ_CHECK(zone->kind == kRecordZone, "zone record of another kind");
    ZARN_FUZZ_CHECK(
        zone->name.size() <= CCString::kMaxAnsiBytes && zone->realname.size() <= CCString::kMaxAnsiBytes,
        "zone text longer than 255 bytes");
    ZARN_FUZZ_CHECK(TrimAnsi(zone->realname) == zone->realname,
                    "zone realname keeps blanks: " + zone->realname);
    ZARN_FUZZ_CHECK(zone->hide == 0 || zone->servers.empty(), "a hidden zone holds servers");
    for (const auto& server : zone->servers) {
      ZARN_FUZZ_CHECK(server->kind == kRecordServer && server->zone == zone.get(),
                      "server not owned by its zone");
      ZARN_FUZZ_CHECK(
          server->name.size() <= CCString::kMaxAnsiBytes && server->cnname.size() <= CCString::kMaxAnsiBytes,
          "server text longer than 255 bytes");
      CheckPlan(launcherDir, server->id);
    }
  }

  for (const TreeZoneDesc& zone : DescribeServerTree(list.zones)) {
    ZARN_FUZZ_CHECK(zone.item.record && zones.count(static_cast<const ZoneRecord*>(zone.item.record)) == 1,
                    "a tree zone without its record");
    const auto* owner = static_cast<const ZoneRecord*>(zone.item.record);
    ZARN_FUZZ_CHECK(owner->hide == 0, "a hidden zone is shown");
    for (const TreeItemDesc& item : zone.servers) {
      const ServerRecord* server = AsServer(item.record);
      ZARN_FUZZ_CHECK(server && server->zone == owner && server->hide == 0,
                      "a tree server without its record");
    }
  }
}

}  // namespace

void FuzzServerList(const uint8_t* data, size_t size) {
  const std::string launcherDir = FreshFolder("serverlist");
  FreshFolder("serverlist/temp");
  const std::string bytes(AsText(data, size));
  UnderEachCodeSet([&] { CheckList(launcherDir, bytes); });
}

}  // namespace zarn::fuzz
