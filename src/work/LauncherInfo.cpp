#include "work/LauncherInfo.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <unistd.h>

#include <cstdio>

#include "app/Version.h"
#include "platform/Prompt.h"
#include "platform/Settings.h"
#include "update/UpdateTrust.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/FileUtils.h"
#include "util/Json.h"
#include "util/Paths.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

void ReportParseError(const char* what, const rapidjson::Document& doc) {
  char text[160];
  std::snprintf(text, sizeof text, "%s: %s (offset %zu)", what,
                rapidjson::GetParseError_En(doc.GetParseError()), doc.GetErrorOffset());
  DebugOutput(text);
}

// The member's text when it is a string; the first member of a name wins.
const rapidjson::Value* StringMember(const rapidjson::Value& object, const char* name) {
  const auto it = object.FindMember(name);
  if (it == object.MemberEnd() || !it->value.IsString()) return nullptr;
  return &it->value;
}

// Texts are C strings to the launcher: an escaped NUL ends them.
std::string Text(const rapidjson::Value& value) { return std::string(value.GetString()); }

std::optional<std::string> NonEmptyString(const rapidjson::Value& object, const char* name) {
  const rapidjson::Value* value = StringMember(object, name);
  if (!value) return std::nullopt;
  std::string text = Text(*value);
  if (text.empty()) return std::nullopt;
  return text;
}

// Takes a text the way a C string is taken: up to its first NUL.
std::string_view UpToNul(std::string_view text) {
  const size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

std::string VersionManifestUrl() {
  return CdnBaseUrl() + "PCVersion/" + std::to_string(kGameNumber) + "/version.xml";
}

std::optional<VersionManifest> ParseVersionManifest(std::string_view utf8Body) {
  const std::string ansi = Utf8ToAnsi(UpToNul(utf8Body));
  rapidjson::Document doc;
  doc.Parse<kJsonParseFlags>(ansi.c_str());
  if (doc.HasParseError()) {
    ReportParseError("version manifest", doc);
    return std::nullopt;
  }
  if (!doc.IsObject()) {
    DebugOutput("version manifest: not a JSON object");
    return std::nullopt;
  }
  const rapidjson::Value* version = StringMember(doc, "version");
  const rapidjson::Value* url = StringMember(doc, "url");
  if (!version || !url) {
    DebugOutput("version manifest: no string \"version\" or \"url\"");
    return std::nullopt;
  }
  VersionManifest manifest;
  manifest.version = Text(*version);
  manifest.url = Text(*url);
  manifest.titleBar = NonEmptyString(doc, "titleBar");
  manifest.serverlist = NonEmptyString(doc, "serverlist");
  manifest.website = NonEmptyString(doc, "website");
  // What the new launcher must be; a value of another form announces nothing.
  if (const auto size = doc.FindMember("size"); size != doc.MemberEnd() && size->value.IsUint64())
    manifest.size = size->value.GetUint64();
  if (const rapidjson::Value* sha256 = StringMember(doc, "sha256"); sha256 && IsSha256Hex(Text(*sha256)))
    manifest.sha256 = Text(*sha256);
  return manifest;
}

std::string SelfUpdateFileName(std::string_view url) {
  const size_t slash = url.rfind('/');
  return std::string(slash == std::string_view::npos ? url : url.substr(slash + 1));
}

std::string SelfUpdatePath(const std::string& launcherDir, std::string_view url) {
  return launcherDir + "/temp/" + SelfUpdateFileName(url);
}

LauncherInfoDecision DecideLauncherInfo(std::optional<std::string_view> body,
                                        const LauncherPageValues& current, const std::string& launcherDir,
                                        const std::string& ownVersion) {
  LauncherInfoDecision decision;
  decision.values = current;
  if (!body) return decision;
  const std::optional<VersionManifest> manifest = ParseVersionManifest(*body);
  if (!manifest) return decision;

  auto replace = [](std::string& target, const std::optional<std::string>& value, bool& changed) {
    if (!value) return;
    changed = target != *value;
    target = *value;
  };
  replace(decision.values.pageUrl, manifest->titleBar, decision.pageUrlChanged);
  replace(decision.values.serverListUrl, manifest->serverlist, decision.serverListUrlChanged);
  replace(decision.values.websiteUrl, manifest->website, decision.websiteUrlChanged);

  if (manifest->version == ownVersion) {
    decision.result = kLauncherCurrent;
    decision.hideBrowser = decision.values.pageUrl.empty();
    return decision;
  }
  decision.result = kSelfUpdateQueued;
  decision.selfUpdate = {manifest->url, SelfUpdatePath(launcherDir, manifest->url), kTaskCodeSelfUpdate};
  if (manifest->size && *manifest->size <= static_cast<uint64_t>(INT64_MAX))
    decision.selfUpdateExpect.size = static_cast<int64_t>(*manifest->size);
  decision.selfUpdateExpect.sha256 = manifest->sha256;
  decision.selfUpdateAnnounced = {manifest->size, manifest->sha256, manifest->version};
  return decision;
}

LauncherInfoDecision LoadLauncherInfo(const FetchFunction& fetch, const LauncherPageValues& current,
                                      const std::string& launcherDir) {
  std::optional<std::string> body = fetch ? fetch(VersionManifestUrl()) : std::nullopt;
  // A reply without a body is no reply.
  if (body && body->empty()) body.reset();
  if (body && !UpdatePublicKey().empty()) {
    const std::optional<std::string> signature = fetch(SignaturePathFor(VersionManifestUrl()));
    if (!CheckSignedText(*body, signature.value_or(std::string()), kVersionManifestDocument)) body.reset();
  }
  LauncherInfoDecision decision = DecideLauncherInfo(
      body ? std::optional<std::string_view>(*body) : std::nullopt, current, launcherDir, GetAppVersion());
  if (decision.result == kSelfUpdateQueued) PrepareDownload(decision.selfUpdate);
  return decision;
}

bool AskLauncherInfoRetry() {
  return MessageBox(Utf8ToAnsi("下载版本文件失败,是否重新下载?"), Utf8ToAnsi("下载版本文件失败"),
                    MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

std::string LoginInfoUrl() {
  return AccountUrl() + "/Interface/ClientLogonJson?id=" + std::to_string(kGameNumber);
}

DownloadRequest LoginInfoRequest(const std::string& launcherDir) {
  return {LoginInfoUrl(), TempDownPath(launcherDir), kTaskCodeDownload};
}

bool ReadLoginInfo(const std::string& path, LoginInfo* info) {
  size_t size = 0;
  const std::unique_ptr<unsigned char[]> data =
      CCFileUtils::sharedFileUtils()->getFileData(path, "rb", &size);
  // unlink, not remove: a folder of that name is not the launcher's to delete.
  if (!data) {
    ::unlink(path.c_str());
    return false;
  }
  LoginInfo read;
  rapidjson::Document doc;
  // The bytes as they are, up to the NUL the file service appends (or an earlier one).
  doc.Parse<kJsonParseFlags>(reinterpret_cast<const char*>(data.get()));
  if (doc.HasParseError()) {
    ReportParseError("login information", doc);
  } else if (doc.IsObject()) {
    const auto lander = doc.FindMember("lander_id");
    if (lander != doc.MemberEnd() && lander->value.IsInt()) read.landerId = lander->value.GetInt();
    if (const rapidjson::Value* v = StringMember(doc, "find_pwd_url")) read.findPasswordUrl = Text(*v);
    if (const rapidjson::Value* v = StringMember(doc, "recharge_url")) read.rechargeUrl = Text(*v);
  }
  if (info) *info = std::move(read);
  ::unlink(path.c_str());
  return true;
}

void ShowLoginInfoFailure() {
  const std::string text = Utf8ToAnsi("获取登录信息失败");
  MessageBox(text, text, MB_OK);
}

std::string WebsiteAddress(const std::string& websiteUrl, const std::string& layoutWebUrl) {
  return websiteUrl.empty() ? layoutWebUrl : websiteUrl;
}

std::string RechargeAddress(const LoginInfo& info, const std::string& agentId) {
  return info.rechargeUrl + "?Lid=" + std::to_string(info.landerId) + "&SpreaderID=" + agentId;
}

std::string PasswordAddress(const LoginInfo& info) {
  return info.findPasswordUrl + "?Lid=" + std::to_string(info.landerId);
}

}  // namespace zarn
