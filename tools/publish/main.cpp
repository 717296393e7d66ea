// zarn-publish: writes the content tree the launcher updates from, or checks one.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "Check.h"
#include "Publish.h"
#include "Signing.h"

namespace {

constexpr char kUsage[] =
    "usage: zarn-publish --from GAME_FOLDER --layout LAYOUT.json --out CONTENT_ROOT [--progress]\n"
    "                    [--secret-key FILE] [--launcher FILE]\n"
    "       zarn-publish --check [--tree CONTENT_ROOT] [--version-manifest FILE] [--login-info FILE]\n"
    "                    [--server-list FILE] [--names-only] [--public-key FILE|KEY] [--launcher FILE]\n"
    "       zarn-publish keygen --public-key FILE --secret-key FILE [--unencrypted] [--force]\n"
    "\n"
    "Publishing writes CONTENT_ROOT/public/update.xml, CONTENT_ROOT/public/zip/<key>,\n"
    "CONTENT_ROOT/ClientData/<id>.md5 and CONTENT_ROOT/ClientData/<id>.zip and replaces those two\n"
    "folders as a whole; unchanged packages keep their archive and version text. Every archive is\n"
    "announced with its size and SHA-256. With --secret-key (a minisign secret key) update.xml, each\n"
    "<id>.md5 and CONTENT_ROOT/PCVersion/1033/version.xml are signed (X.minisig beside X). With\n"
    "--launcher the new launcher's size and SHA-256 go into that version manifest.\n"
    "Checking prints every problem as <file>:<line>: <problem> and exits with 1 when there is one;\n"
    "with --public-key it also requires valid signatures by that key.\n"
    "keygen writes a minisign key pair; the secret key is encrypted with a password (asked on the\n"
    "terminal, or the first line of standard input) unless --unencrypted is given.\n"
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

// A password: asked on the terminal without echo, or the first line of standard input.
std::string ReadPassword(const char* prompt) {
  std::string line;
  if (::isatty(STDIN_FILENO) == 1) {
    std::cerr << prompt << std::flush;
    termios saved{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
      termios silent = saved;
      silent.c_lflag &= static_cast<tcflag_t>(~ECHO);
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::getline(std::cin, line);
    if (quiet) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << '\n';
  } else {
    std::getline(std::cin, line);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool ReadText(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *text = bytes.str();
  return !in.bad();
}

// Writes a new file with the mode given; never replaces one unless force.
bool WriteNew(const std::string& path, const std::string& text, mode_t mode, bool force, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), force ? "we" : "wxe");
  if (!f) {
    *error = path + ": " + std::strerror(errno) + (errno == EEXIST ? " (--force replaces it)" : "");
    return false;
  }
  ::fchmod(fileno(f), mode);
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0 &&
                  ::fsync(fileno(f)) == 0;
  if (std::fclose(f) != 0 || !ok) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

int KeyGen(int argc, char** argv) {
  std::string pub, sec;
  bool unencrypted = false, force = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--public-key" && i + 1 < argc)
      pub = argv[++i];
    else if (arg == "--secret-key" && i + 1 < argc)
      sec = argv[++i];
    else if (arg == "--unencrypted")
      unencrypted = true;
    else if (arg == "--force")
      force = true;
    else
      return UsageError("keygen: unknown or incomplete option " + arg);
  }
  if (pub.empty() || sec.empty()) return UsageError("keygen needs --public-key and --secret-key");
  std::string password;
  if (unencrypted) {
    std::cerr << "zarn-publish: WARNING: the secret key is stored UNENCRYPTED. Anyone who can read " << sec
              << " can sign updates that every player's launcher installs and runs.\n";
  } else {
    password = ReadPassword("Password for the new secret key: ");
    if (::isatty(STDIN_FILENO) == 1 && ReadPassword("Password again: ") != password) {
      std::cerr << "zarn-publish: the passwords differ; no key was written\n";
      return 2;
    }
    if (password.empty()) {
      std::cerr << "zarn-publish: an empty password; give --unencrypted to store the key without one\n";
      return 2;
    }
  }
  const zarn::publish::SecretKey key = zarn::publish::NewSecretKey();
  std::string text, error;
  if (!zarn::publish::SecretKeyFileText(key, password, zarn::publish::MinisignKdfCost(), &text, &error) ||
      !WriteNew(sec, text, 0600, force, &error) ||
      !WriteNew(pub, zarn::publish::PublicKeyFileText(key.Public()), 0644, force, &error)) {
    std::cerr << "zarn-publish: " << error << '\n';
    return 2;
  }
  std::cout << "public key: " << zarn::PublicKeyText(key.Public()) << "\n"
            << "build the launcher with -DZARN_UPDATE_PUBLIC_KEY=" << zarn::PublicKeyText(key.Public())
            << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "keygen") == 0) return KeyGen(argc, argv);
  // Texts are compared in the locale's code set, as the launcher compares them.
  std::setlocale(LC_ALL, "");
  bool check = false, progress = false, namesOnly = false;
  std::string from, layout, out, tree, versionManifest, loginInfo, serverList, secretKeyFile, publicKey,
      launcher;
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
    else if (arg == "--secret-key")
      ok = value(&secretKeyFile);
    else if (arg == "--public-key")
      ok = value(&publicKey);
    else if (arg == "--launcher")
      ok = value(&launcher);
    else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else
      return UsageError("unknown option " + arg);
    if (!ok) return UsageError(arg + " needs a value");
  }

  if (check) {
    if (!from.empty() || !layout.empty() || !out.empty() || !secretKeyFile.empty())
      return UsageError(
          "--check takes --tree, --version-manifest, --login-info, --server-list, --public-key and "
          "--launcher");
    // A key file or the key line itself.
    std::string keyText = publicKey;
    if (!publicKey.empty() && ReadText(publicKey, &keyText) && keyText.empty()) keyText = publicKey;
    std::vector<zarn::MinisignPublicKey> parsed;
    std::string reason;
    if (!keyText.empty() && !zarn::ParsePublicKeys(keyText, &parsed, &reason))
      return UsageError("--public-key: " + reason);
    // The version manifest of the tree is checked with it.
    if (versionManifest.empty() && !tree.empty() &&
        ::access((tree + "/PCVersion/1033/version.xml").c_str(), F_OK) == 0)
      versionManifest = tree + "/PCVersion/1033/version.xml";
    if (tree.empty() && versionManifest.empty() && loginInfo.empty() && serverList.empty())
      return UsageError("--check needs at least one thing to check");
    zarn::publish::Problems problems;
    std::set<std::string> ids;
    if (!tree.empty()) ids = zarn::publish::CheckContentTree(tree, {!namesOnly, keyText}, problems);
    if (!versionManifest.empty())
      zarn::publish::CheckVersionManifest(versionManifest, problems, keyText, launcher);
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
  if (!tree.empty() || !versionManifest.empty() || !loginInfo.empty() || !serverList.empty() || namesOnly ||
      !publicKey.empty())
    return UsageError(
        "--tree, --version-manifest, --login-info, --server-list, --names-only and --public-key go with "
        "--check");
  zarn::publish::SecretKey secretKey;
  if (!secretKeyFile.empty()) {
    std::string text, error;
    if (!ReadText(secretKeyFile, &text))
      return UsageError("--secret-key: " + secretKeyFile + " cannot be read");
    const std::string password =
        zarn::publish::SecretKeyIsEncrypted(text) ? ReadPassword("Password for the secret key: ") : "";
    bool encrypted = false;
    if (!zarn::publish::ReadSecretKey(text, password, &secretKey, &encrypted, &error)) {
      std::cerr << "zarn-publish: " << secretKeyFile << ": " << error << "\n";
      return 2;
    }
  }
  zarn::publish::PublishOptions options;
  options.gameFolder = from;
  options.layoutPath = layout;
  options.outRoot = out;
  options.secretKey = secretKeyFile.empty() ? nullptr : &secretKey;
  options.launcherFile = launcher;
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
