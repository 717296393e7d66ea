// zarn-publish: writes the content tree the launcher updates from, or checks one.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <set>
#include <string>

#include "Check.h"
#include "Publish.h"

namespace {

constexpr char kUsage[] =
    "usage: zarn-publish --from GAME_FOLDER --layout LAYOUT.json --out CONTENT_ROOT [--progress]\n"
    "       zarn-publish --check [--tree CONTENT_ROOT] [--version-manifest FILE] [--login-info FILE]\n"
    "                    [--server-list FILE] [--names-only]\n"
    "\n"
    "Publishing writes CONTENT_ROOT/public/update.xml, CONTENT_ROOT/public/zip/<key>,\n"
    "CONTENT_ROOT/ClientData/<id>.md5 and CONTENT_ROOT/ClientData/<id>.zip and replaces those two\n"
    "folders as a whole; unchanged packages keep their archive and version text.\n"
    "Checking prints every problem as <file>:<line>: <problem> and exits with 1 when there is one.\n"
    "Exit status: 0 done, 1 problems found, 2 the run failed or the options are wrong.\n";

int UsageError(const std::string& why) {
  std::cerr << "zarn-publish: " << why << "\n\n" << kUsage;
  return 2;
}

const char* StateText(zarn::publish::PublishedItem::State state) {
  switch (state) {
    case zarn::publish::PublishedItem::kNew:
      return "new";
    case zarn::publish::PublishedItem::kChanged:
      return "changed";
    case zarn::publish::PublishedItem::kUnchanged:
      return "unchanged";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  // Texts are compared in the locale's code set, as the launcher compares them.
  std::setlocale(LC_ALL, "");
  bool check = false, progress = false, namesOnly = false;
  std::string from, layout, out, tree, versionManifest, loginInfo, serverList;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* target) {
      if (i + 1 >= argc) return false;
      *target = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "--check")
      check = true;
    else if (arg == "--progress")
      progress = true;
    else if (arg == "--names-only")
      namesOnly = true;
    else if (arg == "--from")
      ok = value(&from);
    else if (arg == "--layout")
      ok = value(&layout);
    else if (arg == "--out")
      ok = value(&out);
    else if (arg == "--tree")
      ok = value(&tree);
    else if (arg == "--version-manifest")
      ok = value(&versionManifest);
    else if (arg == "--login-info")
      ok = value(&loginInfo);
    else if (arg == "--server-list")
      ok = value(&serverList);
    else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else
      return UsageError("unknown option " + arg);
    if (!ok) return UsageError(arg + " needs a value");
  }

  if (check) {
    if (!from.empty() || !layout.empty() || !out.empty())
      return UsageError("--check takes --tree, --version-manifest, --login-info and --server-list");
    if (tree.empty() && versionManifest.empty() && loginInfo.empty() && serverList.empty())
      return UsageError("--check needs at least one thing to check");
    zarn::publish::Problems problems;
    std::set<std::string> ids;
    if (!tree.empty()) ids = zarn::publish::CheckContentTree(tree, {!namesOnly}, problems);
    if (!versionManifest.empty()) zarn::publish::CheckVersionManifest(versionManifest, problems);
    if (!loginInfo.empty()) zarn::publish::CheckLoginInfo(loginInfo, problems);
    if (!serverList.empty())
      zarn::publish::CheckServerList(serverList, tree.empty() ? nullptr : &ids, problems);
    problems.Print(std::cout);
    std::cout.flush();
    if (problems.empty()) {
      std::cerr << "zarn-publish: no problems\n";
      return 0;
    }
    std::cerr << "zarn-publish: " << problems.size() << (problems.size() == 1 ? " problem\n" : " problems\n");
    return 1;
  }

  if (from.empty() || layout.empty() || out.empty())
    return UsageError("publishing needs --from, --layout and --out");
  if (!tree.empty() || !versionManifest.empty() || !loginInfo.empty() || !serverList.empty() || namesOnly)
    return UsageError(
        "--tree, --version-manifest, --login-info, --server-list and --names-only go with --check");
  zarn::publish::PublishOptions options;
  options.gameFolder = from;
  options.layoutPath = layout;
  options.outRoot = out;
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  options.progress = progress || terminal;
  options.progressInPlace = terminal;
  zarn::publish::PublishReport report;
  std::vector<std::string> errors;
  if (!zarn::publish::Publish(options, &report, &errors)) {
    for (const std::string& e : errors) std::cerr << "zarn-publish: " << e << '\n';
    std::cerr << "zarn-publish: nothing was published; " << out << " is as it was\n";
    return 2;
  }
  size_t changed = 0;
  for (const auto& item : report.items) {
    std::printf("%-8s %-24s %-9s %6zu files %10.1f MiB  %s\n", item.server ? "server" : "package",
                item.name.c_str(), StateText(item.state), item.files, item.bytes / 1048576.0,
                item.version.c_str());
    if (item.state != zarn::publish::PublishedItem::kUnchanged) ++changed;
  }
  std::printf("published %zu items to %s (%zu new or changed, %llu files excluded)\n", report.items.size(),
              out.c_str(), changed, static_cast<unsigned long long>(report.excluded));
  return 0;
}
