// Starting other programs: the decision by the file's header, the reasons given when nothing
// starts, and children that do not outlive their end as zombies.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/Guards.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

// Children of this process, finished ones (zombies) included.
std::vector<int> OwnChildren() {
  std::vector<int> children;
  DIR* proc = ::opendir("/proc");
  if (!proc) return children;
  while (const dirent* e = ::readdir(proc)) {
    const int pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    std::ifstream in("/proc/" + std::string(e->d_name) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) continue;
    // "pid (name) state ppid ...": the name may hold blanks and parentheses.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    int ppid = 0;
    rest >> state >> ppid;
    if (ppid == ::getpid()) children.push_back(pid);
  }
  ::closedir(proc);
  return children;
}

void WriteExecutable(const std::string& path, const std::string& bytes, mode_t mode = 0755) {
  test::WriteFile(path, bytes);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// A recorder: writes its arguments, one a line, to the file named by its own name + ".log".
std::string Recorder() {
  return "#!/bin/sh\n{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.tmp\"\n/bin/mv \"$0.tmp\" "
         "\"$0.log\"\n";
}

TEST(Process, GameStartDecidedByTheFilesHeader) {
  test::CodeSetGuard utf8("UTF-8");
  test::TempDir dir;
  const std::string bin = dir.file("bin"), noWine = dir.file("nowine");
  ASSERT_EQ(::mkdir(noWine.c_str(), 0755), 0);
  WriteExecutable(bin + "/wine", Recorder());
  const std::string mz = std::string("MZ\x90\x00\x03\x00", 6) + "PE";

  struct Case {
    const char* name;
    std::string bytes;  // "" with missing: no file
    mode_t mode;
    bool wineOnPath;
    const char* started;  // "wine", "direct" or nullptr (an error is returned)
    const char* reason;   // a part of the error text
    bool missing = false;
  };
  const Case cases[] = {
      {"windows-on-ntfs", mz, 0755, true, "wine", nullptr},
      {"windows-without-x", mz, 0644, true, "wine", nullptr},
      {"windows-no-wine", mz, 0755, false, nullptr, "wine"},
      {"script", Recorder(), 0755, false, "direct", nullptr},
      {"text", "just some text\n", 0755, true, nullptr, "不是可以运行的程序"},
      {"empty", "", 0755, true, nullptr, "不是可以运行的程序"},
      {"elf-stub",
       std::string("\x7f"
                   "ELF",
                   4) +
           std::string(12, '\0'),
       0755, true, nullptr, "无法启动程序"},
      {"missing", "", 0755, true, nullptr, "找不到程序文件", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string program = dir.file(c.name);
    if (!c.missing) WriteExecutable(program, c.bytes, c.mode);
    test::EnvGuard path("PATH", c.wineOnPath ? bin : noWine);
    ::unlink((bin + "/wine.log").c_str());
    const std::string error = StartProgram(program, {"-Zone:a", "-ID:1"}, dir.path());
    if (!c.started) {
      EXPECT_NE(error.find(Utf8ToAnsi(c.reason)), std::string::npos) << error;
      EXPECT_NE(error.find(program), std::string::npos) << error;
      EXPECT_FALSE(test::Exists(bin + "/wine.log"));
      continue;
    }
    EXPECT_EQ(error, "");
    if (std::string(c.started) == "wine") {
      ASSERT_TRUE(test::WaitFor([&] { return test::Exists(bin + "/wine.log"); }));
      EXPECT_EQ(test::ReadFile(bin + "/wine.log"), program + "\n-Zone:a\n-ID:1\n");
    } else {
      ASSERT_TRUE(test::WaitFor([&] { return test::Exists(program + ".log"); }));
      EXPECT_EQ(test::ReadFile(program + ".log"), "-Zone:a\n-ID:1\n");
      EXPECT_FALSE(test::Exists(bin + "/wine.log"));
    }
  }
  EXPECT_EQ(ClassifyProgram("/bin/sh"), ProgramKind::Native);
  EXPECT_EQ(ClassifyProgram(dir.path()), ProgramKind::Missing);  // a folder
}

// The URL opener's children (xdg-open) end while the launcher runs on: none stays a zombie.
TEST(Process, UrlOpenerChildrenAreReaped) {
  test::TempDir dir;
  WriteExecutable(dir.file("xdg-open"), Recorder());
  test::EnvGuard path("PATH", dir.path());
  for (int i = 0; i < 3; ++i) {
    const std::string log = dir.file("xdg-open.log");
    ::unlink(log.c_str());
    OpenUrl("http://127.0.0.1/page" + std::to_string(i));
    ASSERT_TRUE(test::WaitFor([&] { return test::Exists(log); }));
    EXPECT_EQ(test::ReadFile(log), "http://127.0.0.1/page" + std::to_string(i) + "\n");
  }
  EXPECT_TRUE(test::WaitFor([] { return OwnChildren().empty(); })) << OwnChildren().size() << " left";
}

}  // namespace
}  // namespace zarn
