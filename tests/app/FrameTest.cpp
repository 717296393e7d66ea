#include <gtest/gtest.h>

#include <QTest>

#include "app/CVantorDlg.h"
#include "install/CDialogIntall.h"
#include "platform/Process.h"
#include "support/TestSupport.h"
#include "work/CDialogWork.h"

namespace zarn {
namespace {

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExitProcessHook([this](int code) { exits.push_back(code); });
    SetModulePathForTest(dir.file("zarn"));
  }
  void TearDown() override {
    SetExitProcessHook(nullptr);
    SetModulePathForTest("");
  }
  test::TempDir dir;
  std::vector<int> exits;
};

TEST_F(FrameTest, WithoutConfigurationTheInstallPage) {
  CVantorDlg frame("");
  ASSERT_TRUE(frame.OnInitDialog());
  EXPECT_EQ(frame.size(), QSize(1372, 797));
  EXPECT_EQ(frame.windowTitle(), QString::fromUtf8("Kelmar登陆器"));
  EXPECT_TRUE(frame.testAttribute(Qt::WA_TranslucentBackground));
  EXPECT_TRUE(frame.windowFlags() & Qt::FramelessWindowHint);
  ASSERT_NE(frame.installPage(), nullptr);
  EXPECT_EQ(frame.workPage(), nullptr);
  EXPECT_EQ(frame.installPage()->geometry(), QRect(440, 120, 808, 635));
}

TEST_F(FrameTest, AnEmptyConfigurationGivesTheWorkPage) {
  test::WriteFile(dir.file("ClientConfig.cfg"), "");
  CVantorDlg frame("");
  ASSERT_TRUE(frame.OnInitDialog());
  ASSERT_NE(frame.workPage(), nullptr);
  EXPECT_EQ(frame.installPage(), nullptr);
  EXPECT_EQ(frame.workPage()->geometry(), QRect(440, 120, 808, 635));
  EXPECT_EQ(frame.configPath(), dir.file("ClientConfig.cfg"));
}

TEST_F(FrameTest, WindowSystemCloseEndsTheProcess) {
  CVantorDlg frame("");
  frame.OnInitDialog();
  frame.show();
  frame.close();
  EXPECT_EQ(exits, std::vector<int>{0});
}

TEST_F(FrameTest, PageCloseButtonEndsTheProcess) {
  CVantorDlg frame("");
  frame.OnInitDialog();
  frame.show();
  CPngButton* close = frame.installPage()->button(CDialogIntall::IDC_CLOSE);
  ASSERT_NE(close, nullptr);
  QTest::mouseClick(close, Qt::LeftButton);
  EXPECT_EQ(exits, std::vector<int>{0});
}

}  // namespace
}  // namespace zarn
