#include "update/SelfUpdate.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/Prompt.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using test::WaitFor;

// A launcher name no other process on this machine carries (other tests run real launchers).
std::string UniqueName(const std::string& tail = {}) {
  static int counter = 0;
  return "kl" + std::to_string(::getpid()) + "n" + std::to_string(++counter) + tail;
}

void WriteExecutable(const std::string& path, const std::string& text, mode_t mode = 0755) {
  WriteFile(path, text);
  ::chmod(path.c_str(), mode);
}

bool IsExecutable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

// Gone: no such process, or only its exit status is left.
bool IsGone(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return true;
  const size_t close = stat.rfind(") ");
  return close != std::string::npos && close + 2 < stat.size() &&
         (stat[close + 2] == 'Z' || stat[close + 2] == 'X');
}

pid_t Spawn(const std::string& program, const char* arg = nullptr) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(program.c_str(), program.c_str(), arg, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// Runs a shell script file synchronously; its output.
std::string RunShell(const TempDir& dir, const std::string& script) {
  WriteFile(dir.file("run.sh"), script);
  const std::string cmd = "/bin/sh '" + dir.file("run.sh") + "' > '" + dir.file("run.out") + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return ReadFile(dir.file("run.out"));
}

TEST(ShellQuoteTest, TheShellReadsBackExactlyTheText) {
  TempDir dir;
  const char* texts[] = {"plain",     "with blank", "it's", "a''b", "$HOME `id` $(id) \\ \"q\"",
                         "new\nline", "",           "-rf",  "*",    "\xE6\xB8\xB8\xE6\x88\x8F dir",
                         "'"};
  for (const char* text : texts)
    EXPECT_EQ(RunShell(dir, "printf %s " + ShellQuote(text)), text) << ShellQuote(text);
}

TEST(ReplacementScriptTest, StepsInOrderEveryPathQuoted) {
  const std::string dir = "/games/My Kelmar";
  const std::string text = ReplacementScriptText(dir + "/zarn", dir + "/temp/zarn", dir + "/copy1597.sh");
  EXPECT_EQ(text.rfind("#!/bin/sh\n", 0), 0u);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  ASSERT_NE(text.back(), '\n') << "the last line has no line end";
  EXPECT_EQ(text.substr(text.rfind('\n') + 1), "rm -f -- '/games/My Kelmar/copy1597.sh'");

  const std::vector<std::string> steps = {
      "\nrm -f -- '/games/My Kelmar/zarn'\n",
      "[ \"$zarn_n\" = 'zarn' ]",
      "\ncp -f -- '/games/My Kelmar/temp/zarn' '/games/My Kelmar/zarn'\n",
      "\nchmod +x -- '/games/My Kelmar/zarn'\n",
      "\n'/games/My Kelmar/zarn' &\n",
      "\nrm -f -- '/games/My Kelmar/copy1597.sh'",
  };
  size_t at = 0;
  for (const std::string& step : steps) {
    const size_t found = text.find(step, at);
    ASSERT_NE(found, std::string::npos) << step;
    at = found + 1;
  }
  for (size_t pos = text.find(dir); pos != std::string::npos; pos = text.find(dir, pos + 1))
    EXPECT_EQ(text[pos - 1], '\'') << "unquoted path at " << pos;
}

TEST(ReplacementScriptTest, ProcessNameIsTheFirstFifteenBytesOfTheFileName) {
  const std::string text =
      ReplacementScriptText("/g/kelmar-launcher-long-name", "/g/temp/x", "/g/copy1597.sh");
  EXPECT_NE(text.find("= 'kelmar-launcher' ]"), std::string::npos);
  EXPECT_EQ(ReplacementScriptPath("/g/My Kelmar"), "/g/My Kelmar/copy1597.sh");
}

// A game folder with a blank and a quote in its name, an old launcher and a new one that
// records its start.
class SelfUpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gameDir = outer.file("Kelmar Game's");
    name = UniqueName();
    launcher = gameDir + "/" + name;
    fresh = gameDir + "/temp/" + name;
    marker = gameDir + "/started by new";
    script = ReplacementScriptPath(gameDir);
    WriteExecutable(launcher, "#!/bin/sh\necho old\n");
    newText = "#!/bin/sh\necho new >> " + ShellQuote(marker) + "\n";
    WriteExecutable(fresh, newText, 0644);  // as downloaded: no execute permission
  }
  void ExpectReplacedAndStarted() {
    ASSERT_TRUE(WaitFor([&] { return Exists(marker) && !Exists(script); })) << "the script did not finish";
    EXPECT_EQ(ReadFile(launcher), newText);
    EXPECT_TRUE(IsExecutable(launcher));
    EXPECT_TRUE(Exists(fresh)) << "the downloaded copy stays";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ReadFile(marker), "new\n") << "started once";
  }

  TempDir outer;
  std::string gameDir, name, launcher, fresh, marker, script, newText;
};

TEST_F(SelfUpdateRunTest, ScriptReplacesAndStartsTheLauncher) {
  ASSERT_TRUE(WriteReplacementScript(script, ReplacementScriptText(launcher, fresh, script)));
  ASSERT_TRUE(StartReplacementScript(script, gameDir));
  ExpectReplacedAndStarted();
}

TEST_F(SelfUpdateRunTest, StopsRunningLaunchersOfThatNameWithTheirChildren) {
  // A long name: the system knows the process by its first 15 bytes only.
  name = UniqueName("-with-a-long-launcher-name");
  launcher = gameDir + "/" + name;
  const std::string childPid = gameDir + "/child.pid";
  WriteExecutable(launcher, "#!/bin/sh\nsleep 300 &\necho $! > " + ShellQuote(childPid) + "\nwait\n");
  const pid_t running = Spawn(launcher);
  const pid_t bystander = Spawn("/bin/sleep", "300");  // another program: left alone
  ASSERT_TRUE(WaitFor([&] { return !ReadFile(childPid).empty(); }));
  const pid_t child = std::atoi(ReadFile(childPid).c_str());
  ASSERT_GT(child, 0);

  ASSERT_TRUE(WriteReplacementScript(script, ReplacementScriptText(launcher, fresh, script)));
  ASSERT_EQ(std::system(("/bin/sh " + ShellQuote(script)).c_str()), 0);

  int status = 0;
  ASSERT_EQ(::waitpid(running, &status, 0), running);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_TRUE(WaitFor([&] { return IsGone(child); })) << "the launcher's child was not stopped";
  EXPECT_FALSE(IsGone(bystander));
  ::kill(bystander, SIGKILL);
  ::waitpid(bystander, &status, 0);
  ExpectReplacedAndStarted();
}

TEST_F(SelfUpdateRunTest, CompletesWhenTheOldLauncherIsStillItsParent) {
  // The launcher that starts the script may not have ended yet when the script stops the
  // launchers; the script must not stop itself with them.
  WriteExecutable(launcher, "#!/bin/sh\n/bin/sh " + ShellQuote(script) + " &\nsleep 300\n");
  ASSERT_TRUE(WriteReplacementScript(script, ReplacementScriptText(launcher, fresh, script)));
  const pid_t running = Spawn(launcher);
  int status = 0;
  ASSERT_EQ(::waitpid(running, &status, 0), running);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  ExpectReplacedAndStarted();
}

class RunSelfUpdateTest : public SelfUpdateRunTest {
 protected:
  void SetUp() override {
    SelfUpdateRunTest::SetUp();
    SetExitProcessHook([this](int code) { exitCodes.push_back(code); });
  }
  void TearDown() override {
    SetExitProcessHook(nullptr);
    SetPromptHandler(nullptr);
  }
  std::vector<int> exitCodes;
};

TEST_F(RunSelfUpdateTest, TellsThePlayerStartsTheScriptAndEnds) {
  std::vector<PromptRequest> prompts;
  SetPromptHandler([&](const PromptRequest& r) {
    prompts.push_back(r);
    return IDOK;
  });
  EXPECT_EQ(RunSelfUpdate(gameDir, launcher, fresh), SelfUpdateOutcome::kStarted);
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, Utf8ToAnsi("登陆器有更新，需要重启。"));
  EXPECT_EQ(prompts[0].caption, Utf8ToAnsi("更新提示"));
  EXPECT_EQ(prompts[0].type, static_cast<unsigned>(MB_OK));
  EXPECT_EQ(exitCodes, std::vector<int>{0});
  ExpectReplacedAndStarted();
}

TEST_F(RunSelfUpdateTest, BoxNotShownChangesNothing) {
  SetPromptHandler([](const PromptRequest&) { return 0; });
  EXPECT_EQ(RunSelfUpdate(gameDir, launcher, fresh), SelfUpdateOutcome::kNotConfirmed);
  EXPECT_TRUE(exitCodes.empty());
  EXPECT_FALSE(Exists(script));
  EXPECT_EQ(ReadFile(launcher), "#!/bin/sh\necho old\n");
}

TEST_F(RunSelfUpdateTest, ScriptNotWritableStillEndsWithoutReplacing) {
  SetPromptHandler([](const PromptRequest&) { return IDOK; });
  const std::string missingDir = gameDir + "/no such folder";
  EXPECT_EQ(RunSelfUpdate(missingDir, launcher, fresh), SelfUpdateOutcome::kNotWritten);
  EXPECT_EQ(exitCodes, std::vector<int>{0});
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ReadFile(launcher), "#!/bin/sh\necho old\n");
  EXPECT_FALSE(Exists(marker));
}

}  // namespace
}  // namespace zarn
