// The version manifest (a reply body) and the login information (a downloaded file).
#include <string>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "work/LauncherInfo.h"

namespace zarn::fuzz {
namespace {

void CheckManifest(std::string_view body, const std::string& launcherDir) {
  const std::optional<VersionManifest> manifest = ParseVersionManifest(body);
  if (manifest) {
    for (const auto* optional : {&manifest->titleBar, &manifest->serverlist, &manifest->website})
      ZARN_FUZZ_CHECK(!optional->has_value() || !(*optional)->empty(),
                      "an optional member holds an empty text");
  }

  const LauncherPageValues current{"http://page.invalid/", "http://list.invalid/", ""};
  const LauncherInfoDecision decision = DecideLauncherInfo(body, current, launcherDir, "1.0.0.1");
  ZARN_FUZZ_CHECK((decision.result == kLauncherInfoFailed) == !manifest,
                  "the decision disagrees with the manifest reading");
  if (decision.result == kLauncherInfoFailed) {
    ZARN_FUZZ_CHECK(decision.values.pageUrl == current.pageUrl &&
                        decision.values.serverListUrl == current.serverListUrl &&
                        decision.values.websiteUrl == current.websiteUrl,
                    "a failed step changed the page's values");
  }
  if (decision.result == kSelfUpdateQueued) {
    // The new launcher is saved in the game folder's "temp" folder, under a plain file name.
    const std::string& local = decision.selfUpdate.localPath;
    const std::string folder = launcherDir + "/temp/";
    ZARN_FUZZ_CHECK(local.compare(0, folder.size(), folder) == 0, "self-update saved at " + local);
    ZARN_FUZZ_CHECK(local.find('/', folder.size()) == std::string::npos, "self-update saved at " + local);
  }
}

}  // namespace

void FuzzVersionManifest(const uint8_t* data, size_t size) {
  const std::string launcherDir = ScratchPath("manifest");
  UnderEachCodeSet([&] { CheckManifest(AsText(data, size), launcherDir); });
}

void FuzzLoginInfo(const uint8_t* data, size_t size) {
  const std::string dir = FreshFolder("login");
  const std::string path = dir + "/temp.down";
  WriteBytes(path, AsText(data, size));

  LoginInfo info;
  ZARN_FUZZ_CHECK(ReadLoginInfo(path, &info), "a readable login information file was reported unreadable");
  ZARN_FUZZ_CHECK(!Exists(path), "the downloaded login information was not deleted");
}

}  // namespace zarn::fuzz
