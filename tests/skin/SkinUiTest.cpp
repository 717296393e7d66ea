#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include "skin/CPngButton.h"
#include "skin/SkinImage.h"
#include "skin/SkinPath.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"
#include "util/FileUtils.h"

namespace zarn {
namespace {

// The shared file service's root is the working directory at its first use: the test's skin
// files go into res_zn/ under it and are removed afterwards.
class SkinFolder {
 public:
  SkinFolder() : folder_(GetSkinFolder()) {}
  ~SkinFolder() {
    for (auto f = files_.rbegin(); f != files_.rend(); ++f) {
      ::unlink(f->c_str());
      ::rmdir(f->c_str());
    }
    ::rmdir(folder_.c_str());
  }
  void Write(const std::string& name, const std::string& bytes) {
    test::WriteFile(folder_ + name, bytes);
    files_.push_back(folder_ + name);
  }
  void WritePng(const std::string& name, int w, int h, QColor color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    test::WriteFile(folder_ + name, png.toStdString());
    files_.push_back(folder_ + name);
  }
  void MakeFolder(const std::string& name) {
    test::WriteFile(folder_ + name + "/x", "");
    files_.push_back(folder_ + name);
    files_.push_back(folder_ + name + "/x");
  }

 private:
  std::string folder_;
  std::vector<std::string> files_;
};

TEST(SkinImages, BuiltInPicturesHaveTheirSizes) {
  const struct {
    int picture, w, h;
  } table[] = {{1, 1372, 797}, {19, 156, 56},  {22, 49, 49}, {28, 481, 217},
               {42, 300, 13},  {59, 321, 420}, {63, 25, 25}};
  for (const auto& t : table) {
    SkinImage image = LoadSkinPicture(t.picture);
    ASSERT_NE(image, nullptr) << t.picture;
    EXPECT_EQ(image->size(), QSize(t.w, t.h)) << t.picture;
    EXPECT_TRUE(image->hasAlphaChannel()) << t.picture;
  }
  SkinImage none;
  EXPECT_FALSE(LoadResourceImage(10040, none));  // an id without a picture
  EXPECT_EQ(none, nullptr);
}

TEST(SkinImages, FileFirstThenResourceAndNoFallBackForABrokenFile) {
  SkinFolder skin;
  skin.WritePng("ZOVIR-7.png", 10, 5, Qt::red);
  skin.Write("ZOVIR-8.png", "this is not a png");
  skin.MakeFolder("ZOVIR-9.png");

  SkinImage fromFile = LoadSkinPicture(7);
  ASSERT_NE(fromFile, nullptr);
  EXPECT_EQ(fromFile->size(), QSize(10, 5));

  SkinImage broken = LoadSkinPicture(8);
  ASSERT_NE(broken, nullptr);  // used as it loaded: an empty picture, not the resource
  EXPECT_EQ(broken->size(), QSize(0, 0));

  SkinImage folder = LoadSkinPicture(9);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->size(), QSize(0, 0));

  SkinImage missing = LoadSkinPicture(10);  // no file: the built-in picture
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->size(), QSize(80, 34));
}

TEST(SkinImages, FilesInAFolderNamedInGbkLoad) {
  // Under zh_CN.GBK a Chinese folder name reaches the loader as GBK bytes ("游戏"), which are
  // no UTF-8.
  SetAnsiCodeSet("GBK");
  const std::string gbkFolder = "\xD3\xCE\xCF\xB7";
  SkinFolder skin;
  skin.MakeFolder(gbkFolder);
  skin.WritePng(gbkFolder + "/ZOVIR-7.png", 12, 7, Qt::red);
  SkinImage image = LoadSkinImage(gbkFolder + "/ZOVIR-7.png");
  SetAnsiCodeSet("");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), QSize(12, 7));
  EXPECT_EQ(QColor(image->pixel(3, 3)), QColor(Qt::red));
}

TEST(SkinImages, OneMissingFileTakesTheWholeSetFromResources) {
  SkinFolder skin;
  skin.WritePng("ZOVIR-22.png", 11, 11, Qt::red);
  skin.WritePng("ZOVIR-23.png", 11, 11, Qt::green);
  skin.WritePng("ZOVIR-24.png", 11, 11, Qt::blue);
  SkinImage set[4];
  ASSERT_TRUE(LoadPictureSet({22, 23, 24, 22}, set));  // 22 used twice: all four files exist
  EXPECT_EQ(set[3]->size(), QSize(11, 11));
  ASSERT_TRUE(LoadPictureSet({22, 23, 24, 25}, set));  // 25 has no file
  for (auto& image : set) EXPECT_EQ(image->size(), QSize(49, 49));
}

TEST(PngButton, PictureChoice) {
  struct Case {
    bool disabled, toggle, checked, held, hover;
    int picture;
  };
  const Case cases[] = {
      {true, false, true, true, true, 3},     {true, true, false, false, false, 3},
      {false, true, true, false, false, 1},   {false, true, false, true, false, 1},
      {false, true, false, false, true, 4},  // a check box lightens its normal picture
      {false, true, false, false, false, 0},  {false, false, true, false, true, 1},
      {false, false, false, true, false, 1},  {false, false, false, false, true, 2},
      {false, false, false, false, false, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CPngButton::PictureFor(c.disabled, c.toggle, c.checked, c.held, c.hover), c.picture)
        << c.disabled << c.toggle << c.checked << c.held << c.hover;
}

TEST(PngButton, SizedToItsPictureAndClicks) {
  QWidget page;
  page.resize(400, 300);
  CPngButton push(&page, 1000);
  CPngButton check(&page, 1006, CPngButton::CheckBox);
  push.move(30, 40);
  push.SetResourceImages(10017, 10018, 10019, 10017);
  EXPECT_EQ(push.geometry(), QRect(30, 40, 49, 49));  // top-left kept
  check.move(100, 100);
  check.SetResourceImages(10035, 10036, 10035, 10035);
  EXPECT_EQ(check.size(), QSize(84, 19));
  page.show();

  int clicks = 0;
  QObject::connect(&check, &QAbstractButton::clicked, [&] { ++clicks; });
  QTest::mouseClick(&check, Qt::LeftButton);
  EXPECT_EQ(check.GetCheck(), 1);
  EXPECT_EQ(check.currentPicture(), 1);
  // Press, release, double click, release: two clicks.
  const QPointF at(5, 5);
  const QPointF global = check.mapToGlobal(at);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, at, global, Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&check, &event);
  }
  EXPECT_EQ(clicks, 3);
  EXPECT_EQ(check.GetCheck(), 1);  // flipped twice: back where the first click left it

  push.SetCheck(1);
  EXPECT_EQ(push.currentPicture(), 1);
  push.SetCheck(0);
  push.setEnabled(false);
  EXPECT_EQ(push.currentPicture(), 3);
}

}  // namespace
}  // namespace zarn
