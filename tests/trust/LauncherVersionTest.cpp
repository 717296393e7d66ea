#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "app/Version.h"
#include "support/TestSupport.h"
#include "update/SelfUpdate.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

// Runs command through the shell; its standard output, *status its exit status.
std::string Output(const std::string& command, int* status) {
  std::string out;
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    *status = ::pclose(p);
  }
  return out;
}

TEST(LauncherVersionTest, AnswersWithoutADisplayOrAWindow) {
  // With no display and the X11 platform forced, any start of the toolkit would fail.
  int status = -1;
  const std::string out = Output("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '" ZARN_LAUNCHER
                                 "' --version 2>/dev/null",
                                 &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, GetAppVersion() + "\n");
}

TEST(LauncherVersionTest, TheRealLauncherPassesTheSelfUpdateChecks) {
  test::TempDir dir;
  // Under a name that is not the launcher's: the answer comes before the self-copy.
  const std::string path = dir.file("temp/zarn-1.0.0.2");
  test::WriteFile(path, test::ReadFile(ZARN_LAUNCHER));
  std::string hex;
  uint64_t size = 0;
  ASSERT_TRUE(Sha256File(path, &hex, &size));
  const NewLauncherVerdict verdict = CheckNewLauncher(path, {size, hex, GetAppVersion()});
  EXPECT_TRUE(verdict.ok) << verdict.reason;
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_FALSE(test::Exists(dir.file("zarn"))) << "the checked launcher copied itself";
}

}  // namespace
}  // namespace zarn
