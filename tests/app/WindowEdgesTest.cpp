// The launcher's windows on real desktops: broken pictures, pages off the picture, small
// screens, message boxes that belong to their window, the server tree's lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/CVantorApp.h"
#include "app/CVantorDlg.h"
#include "install/CDialogIntall.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "register/CDialogRegisterPop.h"
#include "skin/LayoutConfig.h"
#include "skin/ScreenPlace.h"
#include "skin/SkinPath.h"
#include "support/TestSupport.h"
#include "work/CDialogWork.h"
#include "work/CMyTreeCtrl.h"

namespace zarn {
namespace {

// A skin file in the shared skin folder, removed afterwards (with the folder when it made it).
class SkinFile {
 public:
  SkinFile(const std::string& name, const std::string& bytes)
      : folder_(GetSkinFolder()), path_(folder_ + name), madeFolder_(::access(folder_.c_str(), F_OK) != 0) {
    test::WriteFile(path_, bytes);
  }
  ~SkinFile() {
    ::unlink(path_.c_str());
    if (madeFolder_) ::rmdir(folder_.c_str());
  }

 private:
  std::string folder_, path_;
  bool madeFolder_;
};

class WindowEdgesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExitProcessHook([](int) {});
    SetModulePathForTest(dir.file("zarn"));
    savedLayout = GetLayout();
  }
  void TearDown() override {
    GetLayout() = savedLayout;
    SetExitProcessHook(nullptr);
    SetModulePathForTest("");
    SetPromptHandler(nullptr);
  }
  test::TempDir dir;
  CLayoutConfig savedLayout;
};

// Neither a broken background nor a page reaching past it may hide or clip the page.
TEST_F(WindowEdgesTest, ThePageStaysWholeAndVisible) {
  const struct {
    const char* name;
    const char* pictureFile;  // bytes of ZOVIR-1.png, or null for the built-in picture
    LayoutRect workClient;
  } cases[] = {
      {"undecodable background", "not a png", {440, 120, 1248, 755}},
      {"page left of and above the picture", nullptr, {-60, -40, 748, 595}},
      {"page past the picture's right and bottom", nullptr, {900, 500, 1708, 1135}},
      {"undecodable background, page off the origin", "not a png", {-60, 500, 748, 1135}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<SkinFile> skin;
    if (c.pictureFile) skin = std::make_unique<SkinFile>("ZOVIR-1.png", c.pictureFile);
    GetLayout().WorkClient = c.workClient;
    CVantorDlg frame("");
    ASSERT_TRUE(frame.OnInitDialog());
    frame.show();
    QWidget* page = frame.installPage();
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->isVisible());
    const QRect pageRect(c.workClient.left, c.workClient.top, c.workClient.right - c.workClient.left,
                         c.workClient.bottom - c.workClient.top);
    EXPECT_EQ(page->size(), pageRect.size());
    EXPECT_TRUE(frame.rect().contains(page->geometry())) << "frame " << frame.width() << "x" << frame.height()
                                                         << ", page at " << page->x() << "," << page->y();
    // The page keeps its offset from the picture's corner.
    EXPECT_EQ(page->pos() - frame.pictureOrigin(), pageRect.topLeft());
    // Nothing of the page is covered or cut: it paints its whole rectangle.
    EXPECT_EQ(page->visibleRegion().boundingRect(), page->rect());
  }
}

TEST_F(WindowEdgesTest, AnUndecodablePanelPictureLeavesTheFormVisible) {
  SkinFile broken("ZOVIR-59.png", "not a png");
  CDialogRegisterPop panel;
  ASSERT_FALSE(panel.size().isEmpty());
  const LayoutRect& r = panel.form().GetPageRect();
  EXPECT_EQ(panel.form().size(), QSize(r.right - r.left, r.bottom - r.top));
  EXPECT_TRUE(panel.rect().contains(panel.form().geometry()));
}

TEST(ScreenPlace, CentredInTheAvailableAreaWithTheCornerOnScreen) {
  const struct {
    QSize window;
    QRect available;
    QPoint expected;
  } cases[] = {
      {{1372, 797}, {0, 0, 1920, 1080}, {274, 141}},
      // A panel along the top: centred below it.
      {{1372, 797}, {0, 32, 1920, 1048}, {274, 32 + 125}},
      // A panel on the left.
      {{1372, 797}, {64, 0, 1856, 1080}, {64 + 242, 141}},
      // A 1366 x 768 laptop with a bottom panel: the top-left corner stays on screen.
      {{1372, 797}, {0, 0, 1366, 740}, {0, 0}},
      // A second screen to the right and below.
      {{400, 300}, {1920, 200, 1280, 1024}, {1920 + 440, 200 + 362}},
      {{2000, 300}, {1920, 200, 1280, 1024}, {1920, 200 + 362}},
  };
  for (const auto& c : cases) EXPECT_EQ(CentredInArea(c.window, c.available), c.expected) << c.available.x();
}

TEST_F(WindowEdgesTest, TheFrameStartsInsideTheScreensFreeArea) {
  CVantorDlg frame("");
  ASSERT_TRUE(frame.OnInitDialog());
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_GE(frame.x(), area.x());
  EXPECT_GE(frame.y(), area.y());
  if (frame.width() <= area.width()) {
    EXPECT_LE(frame.x() + frame.width(), area.x() + area.width());
  }
}

// A message box is owned by the window that shows it and lies over its page or form.
TEST_F(WindowEdgesTest, MessageBoxesBelongToTheLaunchersWindow) {
  InstallDialogPrompt();
  CVantorDlg frame("");
  ASSERT_TRUE(frame.OnInitDialog());
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  std::unique_ptr<CDialogRegisterPop> panel;

  struct Seen {
    QWidget* parent = nullptr;
    QPoint centre;
  };
  const auto showBox = [] {
    Seen seen;
    QTimer::singleShot(0, [&seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      seen.parent = box->parentWidget();
      seen.centre = box->geometry().center();
      box->buttons().first()->click();
    });
    MessageBox("text", "caption", MB_OK | MB_ICONERROR);
    return seen;
  };

  // Over the page of the frame.
  Seen seen = showBox();
  EXPECT_EQ(seen.parent, &frame);
  const QRect page(frame.page()->mapToGlobal(QPoint(0, 0)), frame.page()->size());
  EXPECT_LE((seen.centre - page.center()).manhattanLength(), 2) << seen.centre.x() << "," << seen.centre.y();

  // Over the registration panel while it runs.
  panel = std::make_unique<CDialogRegisterPop>(&frame);
  panel->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get()));
  seen = showBox();
  EXPECT_EQ(seen.parent, panel.get());
  const QRect panelRect(panel->mapToGlobal(QPoint(0, 0)), panel->size());
  EXPECT_LE((seen.centre - panelRect.center()).manhattanLength(), 2);
}

// The tree draws its connecting lines in a grey that reads on the black panel, where the system
// tree draws them: through every column whose ancestor has a sibling below.
TEST(ServerTreeLines, LinesJoinZonesAndServers) {
  QWidget page;
  auto* tree = new CMyTreeCtrl(&page);
  tree->setGeometry(0, 0, 253, 300);
  QTreeWidgetItem* zoneA = tree->InsertItem(nullptr, "A", 0x00FFFFFF, nullptr);
  QTreeWidgetItem* a1 = tree->InsertItem(zoneA, "a1", 0x0000FF00, nullptr);
  QTreeWidgetItem* a2 = tree->InsertItem(zoneA, "a2", 0x0000FF00, nullptr);
  QTreeWidgetItem* zoneC = tree->InsertItem(nullptr, "C (closed)", 0x00FFFFFF, nullptr);
  tree->InsertItem(zoneC, "c1", 0x0000FF00, nullptr);
  QTreeWidgetItem* zoneB = tree->InsertItem(nullptr, "B", 0x00FFFFFF, nullptr);
  QTreeWidgetItem* b1 = tree->InsertItem(zoneB, "b1", 0x0000FF00, nullptr);
  tree->expandItem(zoneA);
  tree->expandItem(zoneB);
  page.resize(253, 300);
  page.show();
  const QImage shot = tree->viewport()->grab().toImage();
  const QColor line = CMyTreeCtrl::LineColor();
  // Legible: far from the black ground.
  EXPECT_GE(qGray(line.rgb()), 120);

  const int step = tree->indentation();
  const auto rowRect = [&](QTreeWidgetItem* item) { return tree->visualItemRect(item); };
  // Line pixels in a column band (x0..x1 of the view) over an item's row.
  const auto linePixels = [&](QTreeWidgetItem* item, int x0, int x1) {
    const QRect row = rowRect(item);
    int n = 0;
    for (int y = row.top(); y <= row.bottom(); ++y)
      for (int x = x0; x <= x1; ++x)
        if (shot.pixelColor(x, y) == line) ++n;
    return n;
  };
  const int rootColumn0 = 0, rootColumn1 = step - 1, childColumn0 = step, childColumn1 = 2 * step - 1;
  const struct {
    const char* where;
    QTreeWidgetItem* item;
    int x0, x1;
    bool drawn;
  } cases[] = {
      {"zone A: line and button at the root", zoneA, rootColumn0, rootColumn1, true},
      {"server a1: the root line goes on to zone C", a1, rootColumn0, rootColumn1, true},
      {"server a1: its own line", a1, childColumn0, childColumn1, true},
      {"server a2: the root line goes on to zone C", a2, rootColumn0, rootColumn1, true},
      {"server a2: its own line", a2, childColumn0, childColumn1, true},
      {"zone C (closed): line and button at the root", zoneC, rootColumn0, rootColumn1, true},
      {"zone B: line and button at the root", zoneB, rootColumn0, rootColumn1, true},
      {"server b1: its own line", b1, childColumn0, childColumn1, true},
      {"server b1: B is the last zone, the root line has ended", b1, rootColumn0, rootColumn1, false},
  };
  for (const auto& c : cases) EXPECT_EQ(linePixels(c.item, c.x0, c.x1) > 0, c.drawn) << c.where;
  // Below the last server nothing is drawn.
  const QRect last = rowRect(b1);
  int below = 0;
  for (int y = last.bottom() + 1; y < std::min(shot.height(), last.bottom() + 40); ++y)
    for (int x = 0; x < 2 * step; ++x)
      if (shot.pixelColor(x, y) == line) ++below;
  EXPECT_EQ(below, 0);
}

}  // namespace
}  // namespace zarn
