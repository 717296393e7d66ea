// The install page inside the real frame, for a setup file in a download folder of its own:
// the four buttons at their layout places with their pictures, the folder text, the folder
// picker's two answers, the install button and the Enter and Escape keys.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QPainter>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/CVantorDlg.h"
#include "install/CDialogIntall.h"
#include "install/InstallCore.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "skin/LayoutConfig.h"
#include "skin/SkinImage.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;

// A setup file that, once installed and started, records how it was started into started.txt
// beside itself.
const char kRecorderScript[] =
    "#!/bin/sh\n"
    "d=\"${0%/*}\"\n"
    "{ printf '%s\\n' \"$0\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$d/started.tmp\"\n"
    "mv \"$d/started.tmp\" \"$d/started.txt\"\n";

// The rectangle of white pixels in a picture's area, or an empty one when there is none.
QRect WhiteArea(const QImage& image, const QRect& area) {
  QRect found;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 240 && c.green() > 240 && c.blue() > 240) found |= QRect(x, y, 1, 1);
    }
  return found;
}

class InstallPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(setupPath, kRecorderScript);
    ASSERT_EQ(::chmod(setupPath.c_str(), 0755), 0);
    SetModulePathForTest(setupPath);
    SetExitProcessHook([this](int code) { exits.push_back(code); });
    SetPromptHandler([this](const PromptRequest& request) {
      prompts.push_back(request);
      return IDOK;
    });
    CDialogIntall::SetFolderPickerForTest([this] {
      ++pickerCalls;
      return QString::fromStdString(pickerAnswer);
    });
  }
  void TearDown() override {
    CDialogIntall::SetFolderPickerForTest(nullptr);
    SetAnsiCodeSet("");
    SetExitProcessHook(nullptr);
    SetPromptHandler(nullptr);
    SetModulePathForTest("");
  }

  std::unique_ptr<CVantorDlg> OpenFrame() {
    auto frame = std::make_unique<CVantorDlg>("-agent:5501 -silent");
    EXPECT_TRUE(frame->OnInitDialog());
    EXPECT_NE(frame->installPage(), nullptr);
    frame->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    return frame;
  }

  static std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !test::Exists(path); ++i) std::this_thread::sleep_for(10ms);
    return test::ReadFile(path);
  }

  test::TempDir downloads;
  test::TempDir home;
  test::TempDir disk;  // where the player installs
  test::EnvGuard homeGuard{"HOME", home.path()};
  const std::string setupPath = downloads.file("kelmar-setup");
  std::vector<int> exits;
  std::vector<PromptRequest> prompts;
  std::string pickerAnswer;  // the dialog's text, UTF-8
  int pickerCalls = 0;
};

TEST_F(InstallPageTest, ButtonsPicturesAndFolderText) {
  auto frame = OpenFrame();
  CDialogIntall* page = frame->installPage();
  EXPECT_EQ(page->geometry(), QRect(440, 120, 808, 635));

  // The background is the frame's picture under the page with the illustration drawn over it.
  const SkinImage background = LoadSkinPicture(1), illustration = LoadSkinPicture(28);
  ASSERT_TRUE(background && illustration);
  const CLayoutConfig& l = GetLayout();
  QImage expected(808, 635, QImage::Format_ARGB32_Premultiplied);
  expected.fill(Qt::black);
  {
    QPainter p(&expected);
    p.drawImage(-440, -120, *background);
    p.drawImage(l.image_setup.x - 440, l.image_setup.y - 120, *illustration);
  }
  EXPECT_TRUE(page->backgroundBitmap() == expected) << "background and illustration";

  // Each button at its layout point, sized and painted as its normal picture where that
  // picture is opaque.
  const struct {
    int id;
    LayoutPoint at;
    int picture;
  } buttons[] = {{CDialogIntall::IDC_MINIMIZE, l.btn_min, 22},
                 {CDialogIntall::IDC_CLOSE, l.btn_close, 25},
                 {CDialogIntall::IDC_SETUP, l.btn_setup, 32},
                 {CDialogIntall::IDC_SETUP_AUTO, l.btn_setup_auto, 29}};
  for (const auto& b : buttons) {
    CPngButton* button = page->button(b.id);
    ASSERT_NE(button, nullptr) << b.id;
    const SkinImage normal = LoadSkinPicture(b.picture);
    ASSERT_TRUE(normal) << b.picture;
    EXPECT_EQ(button->geometry(), QRect(QPoint(b.at.x - 440, b.at.y - 120), normal->size())) << b.id;
    EXPECT_TRUE(button->isVisible()) << b.id;
    const QImage shown = button->grab().toImage();
    int opaque = 0;
    for (int y = 0; y < normal->height(); y += 3)
      for (int x = 0; x < normal->width(); x += 3) {
        if (qAlpha(normal->pixel(x, y)) != 255) continue;
        ++opaque;
        ASSERT_EQ(QColor(shown.pixel(x, y)), QColor(normal->pixel(x, y))) << b.id << " at " << x << "," << y;
      }
    EXPECT_GT(opaque, 0) << b.picture;
  }

  // The proposed root of this machine (the temporary home here, or a larger local disk),
  // followed by "Kelmar/", in white at "text_path".
  EXPECT_EQ(page->installRoot(), ProposedInstallRoot());
  const QRect band(l.text_path.x, l.text_path.y, 808 - l.text_path.x, 30);
  const auto textArea = [&](const std::string& root) {
    page->setInstallRoot(root);
    const QImage shot = page->grab().toImage();
    QImage written(shot.size(), QImage::Format_ARGB32);
    written.fill(Qt::black);
    for (int y = band.top(); y <= band.bottom(); ++y)
      for (int x = band.left(); x <= band.right(); ++x)
        if (shot.pixel(x, y) != page->backgroundBitmap().pixel(x, y))
          written.setPixel(x, y, shot.pixel(x, y));
    return WhiteArea(written, band);
  };
  const QRect bare = textArea(""), shortRoot = textArea(disk.path()),
              longRoot = textArea(disk.path() + "/Games/Online/Kelmar Players");
  ASSERT_FALSE(bare.isEmpty()) << "\"Kelmar/\" alone is still shown";
  EXPECT_GE(bare.left(), l.text_path.x);
  EXPECT_LE(bare.left(), l.text_path.x + 3);
  EXPECT_LT(bare.height(), 24);  // one line of a 20-pixel font
  EXPECT_GT(shortRoot.right(), bare.right());
  EXPECT_GT(longRoot.right(), shortRoot.right());
  EXPECT_EQ(longRoot.left(), shortRoot.left());
  page->setInstallRoot(disk.path());
  QTest::qWait(50);
  if (const char* dir = std::getenv("ZARN_SHOT_DIR")) {
    EXPECT_TRUE(frame->grab().save(QString::fromLocal8Bit(dir) + "/install-page.png"));
  }
  EXPECT_TRUE(exits.empty());
}

TEST_F(InstallPageTest, CancelledPickerDoesNothing) {
  auto frame = OpenFrame();
  CDialogIntall* page = frame->installPage();
  page->setInstallRoot(disk.path());
  pickerAnswer = "";
  QTest::mouseClick(page->button(CDialogIntall::IDC_SETUP), Qt::LeftButton);
  EXPECT_EQ(pickerCalls, 1);
  EXPECT_EQ(page->installRoot(), disk.path());
  EXPECT_FALSE(test::Exists(disk.file("Kelmar")));
  EXPECT_TRUE(test::Exists(setupPath));
  EXPECT_TRUE(page->isVisible());
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(prompts.empty());
}

TEST_F(InstallPageTest, PickedFolderIsInstalledAtOnce) {
  auto frame = OpenFrame();
  CDialogIntall* page = frame->installPage();
  pickerAnswer = disk.file("Games");
  QTest::mouseClick(page->button(CDialogIntall::IDC_SETUP), Qt::LeftButton);

  EXPECT_EQ(pickerCalls, 1);
  EXPECT_EQ(page->installRoot(), disk.file("Games"));
  const std::string target = disk.file("Games/Kelmar/kelmar-setup");
  EXPECT_EQ(test::ReadFile(target), kRecorderScript);
  EXPECT_EQ(test::ReadFile(disk.file("Games/Kelmar/ClientConfig.cfg")),
            "[GameSetup]\nHuaWeiCDN=1\nexe_del=" + setupPath + "\n[agent]\n1033=5501\n");
  // The installed launcher runs with the setup file's path; the setup file is gone.
  EXPECT_EQ(WaitForFile(disk.file("Games/Kelmar/started.txt")), target + "\n" + setupPath + "\n");
  EXPECT_FALSE(test::Exists(setupPath));
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_TRUE(prompts.empty());
}

TEST_F(InstallPageTest, PickedChineseFolderUnderAGbkLocaleIsThatFolder) {
  SetAnsiCodeSet("GBK");
  const std::string picked = disk.file("游戏");  // named as the dialog showed it
  ASSERT_EQ(::mkdir(picked.c_str(), 0755), 0);
  auto frame = OpenFrame();
  CDialogIntall* page = frame->installPage();
  pickerAnswer = picked;
  QTest::mouseClick(page->button(CDialogIntall::IDC_SETUP), Qt::LeftButton);

  EXPECT_EQ(page->installRoot(), picked);
  EXPECT_EQ(test::ReadFile(picked + "/Kelmar/kelmar-setup"), kRecorderScript);
  EXPECT_EQ(WaitForFile(picked + "/Kelmar/started.txt"),
            picked + "/Kelmar/kelmar-setup\n" + setupPath + "\n");
  // No second folder of a recoded name beside it.
  EXPECT_EQ(QDir(QString::fromStdString(disk.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("游戏")});
  EXPECT_EQ(exits, std::vector<int>{0});
}

TEST_F(InstallPageTest, InstallButtonUsesTheShownRootAndNothingWithoutOne) {
  auto frame = OpenFrame();
  CDialogIntall* page = frame->installPage();
  page->setInstallRoot("");
  QTest::mouseClick(page->button(CDialogIntall::IDC_SETUP_AUTO), Qt::LeftButton);
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(test::Exists(setupPath));

  page->setInstallRoot(disk.path() + "/");
  QTest::mouseClick(page->button(CDialogIntall::IDC_SETUP_AUTO), Qt::LeftButton);
  const std::string target = disk.file("Kelmar/kelmar-setup");
  EXPECT_EQ(WaitForFile(disk.file("Kelmar/started.txt")), target + "\n" + setupPath + "\n");
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(pickerCalls, 0);
}

TEST_F(InstallPageTest, EnterChoosesEscapeCloses) {
  auto frame = OpenFrame();
  CDialogIntall* page = frame->installPage();
  page->setFocus();
  pickerAnswer = "";
  QTest::keyClick(page, Qt::Key_Return);
  EXPECT_EQ(pickerCalls, 1);
  QTest::keyClick(page, Qt::Key_Enter);
  EXPECT_EQ(pickerCalls, 2);
  EXPECT_TRUE(exits.empty());
  QTest::keyClick(page, Qt::Key_Escape);
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(pickerCalls, 2);
  EXPECT_TRUE(test::Exists(setupPath));
}

TEST_F(InstallPageTest, MinimiseButtonMinimisesTheFrame) {
  auto frame = OpenFrame();
  QTest::mouseClick(frame->installPage()->button(CDialogIntall::IDC_MINIMIZE), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return frame->isMinimized(); }, 5000));
  EXPECT_TRUE(exits.empty());
}

}  // namespace
}  // namespace zarn
