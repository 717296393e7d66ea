// A 1366 x 768 laptop screen at 150 % (QT_SCALE_FACTOR=1.5): the toolkit sees a 911 x 512
// screen, the game a 1366 x 768 one. The program sets up that screen itself, on the offscreen
// platform, whatever display it runs under.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>

#include "app/CVantorDlg.h"
#include "platform/Process.h"
#include "sanitizers/KeepLoadedLibraries.h"
#include "skin/ScreenPlace.h"
#include "support/TestSupport.h"
#include "work/CDialogWork.h"

namespace zarn {
namespace {

class ScaledScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::primaryScreen()->size(), QSize(911, 512))
        << "run with the laptop screen at 150 %";
    SetExitProcessHook([](int) {});
    SetModulePathForTest(dir.file("zarn"));
  }
  void TearDown() override {
    SetExitProcessHook(nullptr);
    SetModulePathForTest("");
  }
  test::TempDir dir;
};

TEST_F(ScaledScreenTest, TheResolutionListCountsDevicePixels) {
  // The toolkit rounds the scaled size (910.67 to 911), so the device size may be a pixel over.
  const QSize pixels = PrimaryScreenPixelSize();
  EXPECT_NEAR(pixels.width(), 1366, 1);
  EXPECT_EQ(pixels.height(), 768);
  // A stored resolution the screen has stays chosen; the next start keeps it.
  test::WriteFile(dir.file("ClientConfig.cfg"),
                  "[Game_Data_Set]\nDef_CurScreenResolution_X=1024\nDef_CurScreenResolution_Y=768\n");
  CVantorDlg frame("");
  ASSERT_TRUE(frame.OnInitDialog());
  ASSERT_NE(frame.workPage(), nullptr);
  auto* combo = frame.workPage()->findChild<QComboBox*>(QStringLiteral("resolutionCombo"));
  ASSERT_NE(combo, nullptr);
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  EXPECT_EQ(items, (QStringList{"800 X 600", "1024 X 768", QString::fromUtf8("屏幕分辨率")}));
  EXPECT_EQ(combo->currentText(), "1024 X 768");
}

TEST_F(ScaledScreenTest, TheFrameLargerThanTheScreenKeepsItsCornerOnIt) {
  CVantorDlg frame("");
  ASSERT_TRUE(frame.OnInitDialog());
  EXPECT_EQ(frame.pos(), QPoint(0, 0));
}

}  // namespace
}  // namespace zarn

int main(int argc, char** argv) {
  setenv("QT_SCALE_FACTOR", "1.5", 1);
  setenv("QT_QPA_PLATFORM", "offscreen:configfile=" ZARN_LAPTOP_SCREEN, 1);
  // The work page's web panel, as the launcher starts it.
  if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  const int result = RUN_ALL_TESTS();
  zarn::test::KeepLoadedLibraries();  // only under AddressSanitizer
  return result;
}
