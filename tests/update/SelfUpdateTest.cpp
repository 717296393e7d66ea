#include "update/SelfUpdate.h"

#include <fcntl.h>
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
#include "util/Sha256.h"

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

// Its output goes nowhere: a descendant left running must not hold the test's output open.
pid_t Spawn(const std::string& program, const char* arg = nullptr, const char* arg2 = nullptr) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execl(program.c_str(), program.c_str(), arg, arg2, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// A launcher that is a real program (the system's shell under the launcher's name), so that
// the process's program is the file at that path, as for the real launcher.
void CopyShellTo(const std::string& path) { WriteExecutable(path, ReadFile("/bin/sh")); }

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
      "[ \"/proc/$zarn_p/exe\" -ef '/games/My Kelmar/zarn' ]",
      "\nrm -f -- '/games/My Kelmar/zarn.old'\n",
      "\nmv -f -- '/games/My Kelmar/zarn' '/games/My Kelmar/zarn.old'\n",
      "\nif cp -f -- '/games/My Kelmar/temp/zarn' '/games/My Kelmar/zarn' && chmod +x -- '/games/My "
      "Kelmar/zarn'; then\n",
      "\n  '/games/My Kelmar/zarn' &\n",
      "\n    rm -f -- '/games/My Kelmar/zarn.old'\n",
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

TEST(ReplacementScriptTest, OldLauncherIsKeptBesideTheNewOne) {
  EXPECT_EQ(KeptLauncherPath("/g/My Kelmar/zarn"), "/g/My Kelmar/zarn.old");
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
    ASSERT_TRUE(WaitFor([&] { return !ReadFile(marker).empty() && !Exists(script); }))
        << "the script did not finish";
    EXPECT_EQ(ReadFile(launcher), newText);
    EXPECT_TRUE(IsExecutable(launcher));
    EXPECT_TRUE(Exists(fresh)) << "the downloaded copy stays";
    EXPECT_FALSE(Exists(KeptLauncherPath(launcher)))
        << "the old launcher is dropped once the new one started";
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

TEST_F(SelfUpdateRunTest, StopsOnlyLaunchersRunningFromThisPathWithTheirChildren) {
  // A long name: the system knows a process by the first 15 bytes of its name only, and a
  // launcher of the same name in another folder is not this one.
  name = UniqueName("-with-a-long-launcher-name");
  launcher = gameDir + "/" + name;
  const std::string elsewhere = outer.file("other game/" + name);
  const std::string childPid = gameDir + "/child.pid";
  CopyShellTo(launcher);
  CopyShellTo(elsewhere);
  const std::string body = "sleep 300 & echo $! > " + ShellQuote(childPid) + "; wait; :";
  const pid_t running = Spawn(launcher, "-c", body.c_str());
  const pid_t sameName = Spawn(elsewhere, "-c", "sleep 300; :");
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
  EXPECT_FALSE(IsGone(sameName)) << "a launcher of the same name running from another folder was stopped";
  for (pid_t pid : {bystander, sameName}) {
    ::kill(-pid, SIGKILL);  // with the shell's sleep
    ::waitpid(pid, &status, 0);
  }
  ExpectReplacedAndStarted();
}

TEST_F(SelfUpdateRunTest, CompletesWhenTheOldLauncherIsStillItsParent) {
  // The launcher that starts the script may not have ended yet when the script stops the
  // launchers; the script must not stop itself with them.
  CopyShellTo(launcher);
  ASSERT_TRUE(WriteReplacementScript(script, ReplacementScriptText(launcher, fresh, script)));
  const std::string body = "/bin/sh " + ShellQuote(script) + " & sleep 300; :";
  const pid_t running = Spawn(launcher, "-c", body.c_str());
  int status = 0;
  ASSERT_EQ(::waitpid(running, &status, 0), running);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  ExpectReplacedAndStarted();
}

TEST_F(SelfUpdateRunTest, NewLauncherThatFailsAtOnceGivesTheOldOneBack) {
  const std::string oldText = "#!/bin/sh\necho old >> " + ShellQuote(marker) + "\n";
  WriteExecutable(launcher, oldText);
  WriteExecutable(fresh, "#!/bin/sh\nexit 3\n");
  ASSERT_TRUE(WriteReplacementScript(script, ReplacementScriptText(launcher, fresh, script)));
  ASSERT_TRUE(StartReplacementScript(script, gameDir));
  ASSERT_TRUE(WaitFor([&] { return !ReadFile(marker).empty() && !Exists(script); }))
      << "the script did not finish";
  EXPECT_EQ(ReadFile(launcher), oldText);
  EXPECT_TRUE(IsExecutable(launcher));
  EXPECT_FALSE(Exists(KeptLauncherPath(launcher)));
  EXPECT_EQ(ReadFile(marker), "old\n") << "the old launcher was started again";
}

// The downloaded file is proven before anything is replaced. Rows are built from programs of
// this machine: coreutils' true answers "--version" with 0, false with 1.
TEST(CheckNewLauncherTest, RefusesWhatCannotReplaceTheLauncher) {
  TempDir dir;
  const std::string good = ReadFile("/bin/true");
  ASSERT_GT(good.size(), 64u);
  std::string foreign = good;
  // e_machine of another processor: AArch64 here, x86-64 on an AArch64 machine.
  const uint16_t own =
      static_cast<uint16_t>(static_cast<unsigned char>(good[18]) | static_cast<unsigned char>(good[19]) << 8);
  const uint16_t other = own == 183 ? 62 : 183;
  foreign[18] = static_cast<char>(other & 0xff);
  foreign[19] = static_cast<char>(other >> 8);
  const std::string goodHash = Sha256Hex(good);
  struct Row {
    const char* name;
    std::string bytes;
    LauncherAnnouncement announced;
    const char* reasonPart;  // empty: accepted
  };
  const std::vector<Row> rows = {
      {"a program of this machine", good, {}, ""},
      {"announced size and hash", good, {good.size(), goodHash, ""}, ""},
      {"an HTML error page", "<html><body>404 Not Found</body></html>\n", {}, "no ELF header"},
      {"an empty file", "", {}, "empty"},
      {"a truncated executable", good.substr(0, good.size() / 3), {}, "on --version"},
      {"a program for another machine", foreign, {}, "another machine"},
      {"a script", "#!/bin/sh\necho 1.0.0.2\n", {}, "no ELF header"},
      {"a program that fails on --version", ReadFile("/bin/false"), {}, "status 1"},
      {"one byte more than announced", good + "x", {good.size(), "", ""}, "announces"},
      {"a hash other than announced", good, {std::nullopt, Sha256Hex("other"), ""}, "SHA-256"},
      {"another version than announced", good, {std::nullopt, "", "1.0.0.2"}, "version"},
  };
  const std::string oldLauncher = dir.file("zarn");
  WriteExecutable(oldLauncher, good);
  for (const Row& row : rows) {
    const std::string path = dir.file("temp/zarn");
    WriteFile(path, row.bytes);
    ::chmod(path.c_str(), 0644);
    const NewLauncherVerdict verdict = CheckNewLauncher(path, row.announced);
    if (!*row.reasonPart) {
      EXPECT_TRUE(verdict.ok) << row.name << ": " << verdict.reason;
      EXPECT_TRUE(Exists(path)) << row.name;
      continue;
    }
    EXPECT_FALSE(verdict.ok) << row.name;
    EXPECT_NE(verdict.reason.find(row.reasonPart), std::string::npos) << row.name << ": " << verdict.reason;
    EXPECT_FALSE(Exists(path)) << row.name << ": a refused file is deleted";
    EXPECT_EQ(ReadFile(oldLauncher), good) << row.name << ": the old launcher stays";
    EXPECT_TRUE(IsExecutable(oldLauncher)) << row.name;
  }
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
