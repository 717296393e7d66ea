#include "util/IniFile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <thread>
#include <vector>

#include "support/TestSupport.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

using test::CodeSetGuard;

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

struct ReadCase {
  const char* name;
  const char* content;
  const char* section;
  const char* key;
  const char* defaultValue;
  const char* expected;
};

TEST(IniFile, ReadsAsTheProfileFunctionsDo) {
  const ReadCase cases[] = {
      {"exact names", "[GameSetup]\nHuaWeiCDN=1\n", "GameSetup", "HuaWeiCDN", "d", "1"},
      {"names ignore case", "[GameSetup]\nHuaWeiCDN=1\n", "gAMEsETUP", "huaweicdn", "d", "1"},
      {"blanks around = and the value", "[ S ]\n\t key \t=  some value \t\n", "S", "key", "d", "some value"},
      {"caller's blanks around names", "[S]\nkey=v\n", " S ", " key ", "d", "v"},
      {"first of duplicated keys", "[S]\nk=first\nk=second\n", "S", "k", "d", "first"},
      {"first of duplicated sections", "[S]\na=1\n[T]\na=t\n[S]\na=2\n", "S", "a", "d", "1"},
      {"only the first section of a name counts", "[S]\na=1\n[S]\nb=3\n", "S", "b", "d", "d"},
      {"key of another section", "[T]\nk=t\n[S]\nother=1\n", "S", "k", "d", "d"},
      {"missing key", "[S]\nother=1\n", "S", "k", "dflt", "dflt"},
      {"missing section", "[T]\nk=1\n", "S", "k", "dflt", "dflt"},
      {"default loses trailing blanks", "[S]\n", "S", "k", " x  \t", " x"},
      {"comment is no key", "[S]\n;k=1\n  ; k=2\n", "S", "k", "d", "d"},
      {"line without = is no key", "[S]\nk\n", "S", "k", "d", "d"},
      {"empty value is a value", "[S]\nk=\n", "S", "k", "d", ""},
      {"CR LF line ends", "[S]\r\nk=v\r\nx=y\r\n", "S", "k", "d", "v"},
      {"enclosing double quotes dropped", "[S]\nk=\"quoted value\"\n", "S", "k", "d", "quoted value"},
      {"enclosing single quotes dropped", "[S]\nk='q'\n", "S", "k", "d", "q"},
      {"unbalanced quote kept", "[S]\nk=\"half\n", "S", "k", "d", "\"half"},
      {"value holds =", "[S]\nk=a=b\n", "S", "k", "d", "a=b"},
      {"key before any section", "k=top\n[S]\n", "S", "k", "d", "d"},
      {"UTF-8 mark before the first section", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "d", "v"},
      {"broken header names nothing", "[S]\n[broken\nk=v\n", "S", "k", "d", "v"},
      {"last line without line end", "[S]\nk=v", "S", "k", "d", "v"},
      {"agent key is text", "[agent]\n1033=abc\n", "agent", "1033", "", "abc"},
  };
  test::TempDir dir;
  for (const ReadCase& c : cases) {
    const std::string path = dir.file("case.cfg");
    test::WriteFile(path, c.content);
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, c.defaultValue, path), c.expected) << c.name;
  }
  EXPECT_EQ(GetPrivateProfileString("S", "k", "absent", dir.file("missing.cfg")), "absent");
}

TEST(IniFile, NameCaseFoldsOnlySingleByteLetters) {
  CodeSetGuard gbk("GBK");
  test::TempDir dir;
  const std::string path = dir.file("gbk.cfg");
  // 0xB0 0x41 and 0xB0 0x61 are two different GBK characters whose trail bytes look like
  // "A" and "a".
  test::WriteFile(path, "[\xB0\x41]\nk=1\n[Ab]\nk=2\n");
  EXPECT_EQ(GetPrivateProfileString("\xB0\x41", "K", "d", path), "1");
  EXPECT_EQ(GetPrivateProfileString("\xB0\x61", "k", "d", path), "d");
  EXPECT_EQ(GetPrivateProfileString("aB", "k", "d", path), "2");
}

TEST(IniFile, ReadsAreCutTo255BytesAtAWholeCharacter) {
  test::TempDir dir;
  const std::string path = dir.file("long.cfg");
  test::WriteFile(path, "[S]\nlong=" + std::string(300, 'a') + "\n");
  EXPECT_EQ(GetPrivateProfileString("S", "long", "", path), std::string(255, 'a'));
  EXPECT_EQ(GetPrivateProfileString("S", "none", std::string(300, 'b'), path), std::string(255, 'b'));
  {
    // "中" is three bytes in UTF-8: starting at byte 254 it does not fit.
    CodeSetGuard utf8("UTF-8");
    test::WriteFile(path, "[S]\nk=" + std::string(252, 'a') + "中中\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), std::string(252, 'a') + "中");
    test::WriteFile(path, "[S]\nk=" + std::string(254, 'a') + "中\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), std::string(254, 'a'));
  }
  {
    // "啊" is 0xB0 0xA1 in GBK: at bytes 255 and 256 it is left out whole.
    CodeSetGuard gbk("GBK");
    test::WriteFile(path, "[S]\nk=" + std::string(254, 'a') + "\xB0\xA1" + "\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), std::string(254, 'a'));
    test::WriteFile(path, "[S]\nk=" + std::string(253, 'a') + "\xB0\xA1\xB0\xA1" + "\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), std::string(253, 'a') + "\xB0\xA1");
  }
}

TEST(IniFile, NumericReading) {
  const std::pair<const char*, int> table[] = {
      {"12", 12},
      {"  12abc", 12},
      {"x", 0},
      {"-3", -3},
      {"+7", 7},
      {"", 0},
      {"\t5", 5},
      {"1 2", 1},
      {"- 4", 0},
      {"007", 7},
      {"2147483647", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999999999999", INT_MIN},
  };
  for (auto [text, value] : table) EXPECT_EQ(ProfileTextToInt(text), value) << '"' << text << '"';

  test::TempDir dir;
  const std::string path = dir.file("n.cfg");
  test::WriteFile(path, "[S]\na=  12abc\nb=x\nc=-3\nd=\n");
  EXPECT_EQ(GetPrivateProfileInt("S", "a", 99, path), 12);
  EXPECT_EQ(GetPrivateProfileInt("S", "b", 99, path), 0);
  EXPECT_EQ(GetPrivateProfileInt("s", "C", 99, path), -3);
  EXPECT_EQ(GetPrivateProfileInt("S", "d", 99, path), 0);  // present but empty
  EXPECT_EQ(GetPrivateProfileInt("S", "missing", 99, path), 99);
  EXPECT_EQ(GetPrivateProfileInt("S", "a", 5, dir.file("none.cfg")), 5);
}

struct WriteCase {
  const char* name;
  const char* before;  // nullptr: no file
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

TEST(IniFile, WritesChangeOnlyTheirLine) {
  const WriteCase cases[] = {
      {"missing file", nullptr, "S", "k", "v", "[S]\nk=v\n"},
      {"empty file", "", "S", "k", "v", "[S]\nk=v\n"},
      {"replace a value, comments and unknown keys kept", "; head\n[S]\nk=old\n; note\nunknown=1\n", "S", "k",
       "new", "; head\n[S]\nk=new\n; note\nunknown=1\n"},
      {"replace keeps CR LF and the key's spelling", "[S]\r\n  Key = old \r\nx=1\r\n", "S", "KEY", "new",
       "[S]\r\nKey=new\r\nx=1\r\n"},
      {"names ignore case", "[gamesetup]\nhuaweicdn=0\n", "GameSetup", "HuaWeiCDN", "1",
       "[gamesetup]\nhuaweicdn=1\n"},
      {"new key after the section's last key", "[S]\na=1\n\n; T follows\n[T]\nb=2\n", "S", "k", "v",
       "[S]\na=1\nk=v\n\n; T follows\n[T]\nb=2\n"},
      {"new key in a section ending the file", "[T]\nb=2\n[S]\na=1\n; end\n\n", "S", "k", "v",
       "[T]\nb=2\n[S]\na=1\nk=v\n; end\n\n"},
      {"new key after a last line without line end", "[S]\na=1", "S", "k", "v", "[S]\na=1\nk=v\n"},
      {"new key in an empty section", "[S]\n[T]\nb=2\n", "S", "k", "v", "[S]\nk=v\n[T]\nb=2\n"},
      {"new section after a last line without line end", "[T]\nb=2", "S", "k", "v", "[T]\nb=2\n[S]\nk=v\n"},
      {"new section takes CR LF from the file", "[T]\r\nb=2\r\n", "S", "k", "v",
       "[T]\r\nb=2\r\n[S]\r\nk=v\r\n"},
      {"first of duplicated sections", "[S]\na=1\n[S]\nk=old\n", "S", "k", "v",
       "[S]\na=1\nk=v\n[S]\nk=old\n"},
      {"first of duplicated keys", "[S]\nk=1\nk=2\n", "S", "k", "v", "[S]\nk=v\nk=2\n"},
      {"odd lines kept byte for byte", "top line\n[S]\ngarbage\n[broken\n  k  =  1  \n", "S", "k", "2",
       "top line\n[S]\ngarbage\n[broken\nk=2\n"},
      {"UTF-8 mark kept", "\xEF\xBB\xBF[S]\nk=1\n", "S", "k", "v", "\xEF\xBB\xBF[S]\nk=v\n"},
      {"replace a last line without line end", "[S]\nk=old", "S", "k", "v", "[S]\nk=v"},
      {"empty value", "[S]\nk=old\n", "S", "k", "", "[S]\nk=\n"},
      {"keys of other sections untouched", "[T]\nk=t\n[S]\nk=s\n", "S", "k", "v", "[T]\nk=t\n[S]\nk=v\n"},
  };
  test::TempDir dir;
  int n = 0;
  for (const WriteCase& c : cases) {
    const std::string path = dir.file("w" + std::to_string(n++) + ".cfg");
    if (c.before) test::WriteFile(path, c.before);
    ASSERT_TRUE(WritePrivateProfileString(c.section, c.key, c.value, path)) << c.name;
    EXPECT_EQ(test::ReadFile(path), c.after) << c.name;
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "(none)", path), c.value) << c.name;
  }
  // Nothing but the written files is left in the folder.
  EXPECT_EQ(FolderEntries(dir.path()).size(), std::size(cases));
}

TEST(IniFile, RefusesWhatWouldNotStayOnOneLine) {
  const struct {
    const char* section;
    const char* key;
    std::string value;
  } cases[] = {
      {"S", "k", "a\nb"}, {"S", "k", "a\r[S]"}, {"S", "k", std::string("a\0b", 3)},
      {"S\n", "k", "v"},  {"S]", "k", "v"},     {"S", "k=x", "v"},
      {"S", "k\nx", "v"}, {"", "k", "v"},       {"S", "  ", "v"},
      {"S", ";k", "v"},   {"S", "[k", "v"},
  };
  test::TempDir dir;
  const std::string path = dir.file("ClientConfig.cfg");
  const std::string before = "[S]\nk=old\n";
  test::WriteFile(path, before);
  for (const auto& c : cases) {
    EXPECT_FALSE(WritePrivateProfileString(c.section, c.key, c.value, path)) << c.section << "/" << c.key;
    EXPECT_EQ(test::ReadFile(path), before);
  }
  EXPECT_EQ(FolderEntries(dir.path()).size(), 1u);
}

TEST(IniFile, WriteFailuresReturnFalse) {
  test::TempDir dir;
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir.file("no/such/folder/c.cfg")));
  ASSERT_EQ(mkdir(dir.file("folder.cfg").c_str(), 0755), 0);
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir.file("folder.cfg")));
  test::WriteFile(dir.file("plain"), "x");
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir.file("plain/c.cfg")));
  EXPECT_EQ(test::ReadFile(dir.file("plain")), "x");
  EXPECT_FALSE(test::Exists(dir.file("no")));
}

TEST(IniFile, WriteKeepsModeAndFollowsALink) {
  test::TempDir dir;
  const std::string real = dir.file("real.cfg");
  test::WriteFile(real, "[S]\nk=1\n");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink(real.c_str(), dir.file("link.cfg").c_str()), 0);
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", dir.file("link.cfg")));
  struct stat st;
  ASSERT_EQ(lstat(dir.file("link.cfg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(test::ReadFile(real), "[S]\nk=2\n");
}

// Runs a write as a player who may not create files in the folder: as that player's own user
// when the test runs unprivileged, as "nobody" in a child process when it runs as root (root
// may write anywhere).
bool WriteAsPlayer(const std::string& folder, const std::string& path) {
  if (::geteuid() != 0) {
    ::chmod(folder.c_str(), 0555);
    const bool ok = WritePrivateProfileString("GameSetup", "Window", "1", path);
    ::chmod(folder.c_str(), 0755);
    return ok;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
    _exit(dropped && WritePrivateProfileString("GameSetup", "Window", "1", path) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A game folder the player cannot write to: a configuration file the player may write is
// rewritten in place, one the player may not write stays as it was.
TEST(IniFile, ReadOnlyFolderWritesTheFileInPlaceWhenItCan) {
  const std::string before = "[GameSetup]\r\nHuaWeiCDN=1\r\n; a comment\r\n[agent]\r\n1033=A7\r\n";
  for (const bool fileWritable : {true, false}) {
    SCOPED_TRACE(fileWritable ? "file writable" : "file read-only");
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string folder = dir.file("Kelmar"), path = folder + "/ClientConfig.cfg";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    test::WriteFile(path, before);
    ASSERT_EQ(::chmod(path.c_str(), fileWritable ? 0666 : 0444), 0);
    struct stat old;
    ASSERT_EQ(::stat(path.c_str(), &old), 0);

    EXPECT_EQ(WriteAsPlayer(folder, path), fileWritable);
    EXPECT_EQ(test::ReadFile(path),
              fileWritable ? "[GameSetup]\r\nHuaWeiCDN=1\r\nWindow=1\r\n; a comment\r\n[agent]\r\n1033=A7\r\n"
                           : before);
    struct stat now;
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, old.st_ino);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"ClientConfig.cfg"});
  }
}

TEST(IniFile, ConcurrentWritersLoseNoKey) {
  test::TempDir dir;
  const std::string path = dir.file("ClientConfig.cfg");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i)
        WritePrivateProfileString("T" + std::to_string(t), "k" + std::to_string(i),
                                  std::to_string(t * 100 + i), path);
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i)
      EXPECT_EQ(GetPrivateProfileInt("T" + std::to_string(t), "k" + std::to_string(i), -1, path),
                t * 100 + i);
  EXPECT_EQ(FolderEntries(dir.path()).size(), 1u);
}

}  // namespace
}  // namespace zarn
