#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/TestSupport.h"
#include "util/FileUtils.h"
#include "util/FileWrite.h"
#include "util/Paths.h"

namespace zarn {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(FileUtils, SharedInstanceRootIsTheWorkingDirectoryAtFirstUse) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  CCFileUtils* utils = CCFileUtils::sharedFileUtils();
  EXPECT_EQ(utils->getResourceRoot(), std::string(cwd) + "/");
  // Later changes of the working directory do not move the root.
  TempDir dir;
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_EQ(CCFileUtils::sharedFileUtils()->getResourceRoot(), std::string(cwd) + "/");
  ASSERT_EQ(chdir(cwd), 0);
}

TEST(FileUtils, ExistenceOfFilesAndFoldersRelativeToTheRoot) {
  TempDir dir;
  WriteFile(dir.file("res_zn/ZOVIR-59.png"), "x");
  CCFileUtilsLinux utils(dir.path());
  utils.init();
  EXPECT_EQ(utils.getResourceRoot(), dir.path() + "/");
  EXPECT_TRUE(utils.isFileExist("res_zn/ZOVIR-59.png"));
  EXPECT_TRUE(utils.isFileExist("res_zn"));  // folders count
  EXPECT_TRUE(utils.isFileExist(dir.file("res_zn/ZOVIR-59.png")));
  EXPECT_FALSE(utils.isFileExist("res_zn/ZOVIR-1.png"));
  EXPECT_FALSE(utils.isFileExist(""));
  // Relative means relative to the root, not to the working directory of the moment.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  TempDir other;
  WriteFile(other.file("only-here"), "x");
  ASSERT_EQ(chdir(other.path().c_str()), 0);
  EXPECT_FALSE(utils.isFileExist("only-here"));
  ASSERT_EQ(chdir(cwd), 0);
}

TEST(FileUtils, AbsolutePaths) {
  CCFileUtilsLinux utils("/tmp");
  utils.init();
  EXPECT_TRUE(utils.isAbsolutePath("/a"));
  EXPECT_FALSE(utils.isAbsolutePath("a/b"));
  EXPECT_FALSE(utils.isAbsolutePath("C:\\a"));
  EXPECT_FALSE(utils.isAbsolutePath(""));
}

TEST(FileUtils, FileData) {
  TempDir dir;
  WriteFile(dir.file("empty"), "");
  WriteFile(dir.file("data"), std::string("ab\0c", 4));
  CCFileUtilsLinux utils(dir.path());
  utils.init();

  size_t size = 99;
  EXPECT_EQ(utils.getFileData("missing", "rb", &size), nullptr);
  EXPECT_EQ(size, 0u);

  auto empty = utils.getFileData("empty", "rb", &size);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(empty[0], 0);

  auto data = utils.getFileData(dir.file("data"), "rb", &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), 5), std::string("ab\0c\0", 5));

  mkdir(dir.file("folder").c_str(), 0755);
  EXPECT_EQ(utils.getFileData("folder", "rb", &size), nullptr);
}

TEST(FileUtils, FullPathsAreFoundUnderTheRootAndCached) {
  TempDir dir;
  WriteFile(dir.file("sub/name.txt"), "1");
  CCFileUtilsLinux utils(dir.path());
  utils.init();
  EXPECT_EQ(utils.fullPathForFilename("sub/name.txt"), dir.file("sub/name.txt"));
  EXPECT_EQ(utils.fullPathForFilename("none.txt"), "none.txt");
  EXPECT_EQ(utils.fullPathForFilename("/abs/x"), "/abs/x");
  // Once found, the answer stays even when the file goes away.
  ::unlink(dir.file("sub/name.txt").c_str());
  EXPECT_EQ(utils.fullPathForFilename("sub/name.txt"), dir.file("sub/name.txt"));
}

TEST(Paths, MakeSureDirectoryPathExists) {
  TempDir dir;
  EXPECT_TRUE(MakeSureDirectoryPathExists(dir.file("a/b/c/file.zip")));
  EXPECT_TRUE(IsDirectory(dir.file("a/b/c")));
  EXPECT_FALSE(PathExists(dir.file("a/b/c/file.zip")));
  EXPECT_TRUE(MakeSureDirectoryPathExists(dir.file("a/b/c/")));
  WriteFile(dir.file("plain"), "x");
  EXPECT_FALSE(MakeSureDirectoryPathExists(dir.file("plain/under/file")));
  EXPECT_EQ(DirName("/x/y/z"), "/x/y");
  EXPECT_EQ(BaseFileName("/x/y/z"), "z");
  EXPECT_EQ(BaseFileName("z"), "z");
  EXPECT_EQ(DirName("z"), "");
}

// A replaced file holds the old or the new bytes, never a part; a link of its name is replaced,
// not written through; a failure leaves neither the target changed nor a temporary file.
TEST(FileWrite, ReplaceFileSwapsWholeFilesAndNeverWritesThroughALink) {
  TempDir dir;
  WriteFile(dir.file("target.cfg"), "old");
  ASSERT_TRUE(ReplaceFile(dir.file("target.cfg"), "new content"));
  EXPECT_EQ(test::ReadFile(dir.file("target.cfg")), "new content");

  WriteFile(dir.file("elsewhere.txt"), "must stay");
  ASSERT_EQ(::symlink(dir.file("elsewhere.txt").c_str(), dir.file("link.cfg").c_str()), 0);
  ASSERT_TRUE(ReplaceFile(dir.file("link.cfg"), "mine", {.mode = 0755, .exactMode = true}));
  EXPECT_EQ(test::ReadFile(dir.file("elsewhere.txt")), "must stay");
  struct stat st {};
  ASSERT_EQ(::lstat(dir.file("link.cfg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0755u);

  // The target's place is a folder: the rename fails, the folder stays, nothing is left behind.
  ASSERT_TRUE(MakeSureDirectoryPathExists(dir.file("busy/inner/")));
  WriteFile(dir.file("busy/inner/keep"), "k");
  EXPECT_FALSE(ReplaceFile(dir.file("busy"), "x"));
  EXPECT_EQ(test::ReadFile(dir.file("busy/inner/keep")), "k");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 4u);  // target.cfg, elsewhere.txt, link.cfg, busy: no temporary file
}

}  // namespace
}  // namespace zarn
