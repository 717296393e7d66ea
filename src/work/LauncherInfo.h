// The web side's two start-up documents: the version manifest (is this launcher current, which
// page to show, where the server list is) and the login information (the account service's
// identifier and the recharge and password recovery pages), plus the service addresses built
// from them. The work page fetches and downloads; everything here needs no window.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/IDownloader.h"
#include "update/SelfUpdate.h"
#include "work/WorkDownload.h"

namespace zarn {

// ---- Version manifest -------------------------------------------------------------------

// CdnBaseUrl() + "PCVersion/1033/version.xml" (the update host setting never applies here).
std::string VersionManifestUrl();

// A manifest as read. Text is in the ANSI code set. The optional members hold a value only when
// the document gave them as a non-empty string.
struct VersionManifest {
  std::string version;
  std::string url;
  std::optional<std::string> titleBar;
  std::optional<std::string> serverlist;
  std::optional<std::string> website;
  // The new launcher's "size" and "sha256", when announced (a byte count, 64 hex digits).
  std::optional<uint64_t> size;
  std::string sha256;
};

// Reads a manifest body (UTF-8 JSON, taken up to its first NUL, converted to the ANSI code set
// before parsing). Nothing when it does not parse, is not an object, or lacks a string "version"
// or "url"; the parser's complaint goes to the diagnostic output.
std::optional<VersionManifest> ParseVersionManifest(std::string_view utf8Body);

// The text after the last "/" of the announced address, or all of it when it has none.
std::string SelfUpdateFileName(std::string_view url);
// launcherDir + "/temp/" + SelfUpdateFileName(url).
std::string SelfUpdatePath(const std::string& launcherDir, std::string_view url);

// What LoadLauncherInfo answers: the page acts on it.
enum LauncherInfoResult : int {
  kLauncherInfoFailed = -1,  // ask "下载版本文件失败,是否重新下载?" and repeat or end
  kLauncherCurrent = 0,      // go on with the login information
  kSelfUpdateQueued = 1,     // the new launcher is downloading; nothing more
};

// The page values the manifest may replace.
struct LauncherPageValues {
  std::string pageUrl;        // default address of the embedded page (layout "http" at first)
  std::string serverListUrl;  // where the server list is fetched
  std::string websiteUrl;     // opened by the web site button
};

struct LauncherInfoDecision {
  int result = kLauncherInfoFailed;
  // The page's values after the step; on failure they equal the ones passed in.
  LauncherPageValues values;
  bool pageUrlChanged = false;
  bool serverListUrlChanged = false;
  bool websiteUrlChanged = false;
  // The launcher is current and there is no page to show: hide the embedded browser.
  bool hideBrowser = false;
  // With kSelfUpdateQueued: the download of the new launcher (task code 2000), what the
  // download is checked against while it arrives, and what the file must prove before it may
  // replace the launcher.
  DownloadRequest selfUpdate;
  DownloadExpectations selfUpdateExpect;
  LauncherAnnouncement selfUpdateAnnounced;
};

// The decision for a fetched manifest. body is nothing when the fetch failed (no reply, or a
// reply without a body). Pure: touches no file.
LauncherInfoDecision DecideLauncherInfo(std::optional<std::string_view> body,
                                        const LauncherPageValues& current, const std::string& launcherDir,
                                        const std::string& ownVersion);

// Fetches a URL into memory: the reply body, or nothing when FetchUrl returned 0.
using FetchFunction = std::function<std::optional<std::string>(const std::string& url)>;

// The whole step: fetches VersionManifestUrl() with fetch, decides against GetAppVersion(),
// and for a self-update creates the folder launcherDir + "/temp/". Queuing the download
// (decision.selfUpdate) is the caller's. With a trusted update key the manifest counts as
// fetched only with a valid signature, fetched from its address + ".minisig".
LauncherInfoDecision LoadLauncherInfo(const FetchFunction& fetch, const LauncherPageValues& current,
                                      const std::string& launcherDir);

// The question after a failed launcher information step. True when the player chose to retry.
bool AskLauncherInfoRetry();

// ---- Login information --------------------------------------------------------------------

// AccountUrl() + "/Interface/ClientLogonJson?id=1033".
std::string LoginInfoUrl();
// The login information download: LoginInfoUrl() to launcherDir + "/temp.down", task code 100.
DownloadRequest LoginInfoRequest(const std::string& launcherDir);

struct LoginInfo {
  int32_t landerId = 0;
  std::string findPasswordUrl;
  std::string rechargeUrl;
};

// Reads the downloaded login information at path and deletes the file. False (and info left as
// it was) when the file cannot be read. A document that does not parse, or members of another
// type, read as absent: empty addresses and landerId 0, and still true.
bool ReadLoginInfo(const std::string& path, LoginInfo* info);

// Shows "获取登录信息失败" (the step's only failure message).
void ShowLoginInfoFailure();

// ---- Service addresses -----------------------------------------------------------------------

// The web site: websiteUrl, or the layout's "webUrl" when that is empty.
std::string WebsiteAddress(const std::string& websiteUrl, const std::string& layoutWebUrl);
// "%s?Lid=%d&SpreaderID=%s" of the recharge address, the identifier and the agent identifier.
std::string RechargeAddress(const LoginInfo& info, const std::string& agentId);
// "%s?Lid=%d" of the password recovery address and the identifier.
std::string PasswordAddress(const LoginInfo& info);

}  // namespace zarn
