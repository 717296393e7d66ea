// zarn-skincheck: checks a folder of skin pictures against the sizes the launcher is laid out
// for, and that each picture is usable: alpha channel, visible content, distinct button states,
// opaque where a page or the registration form paints it without its alpha.
//
//   zarn-skincheck <res folder>            checks <res>/png/<id>.png and <res>/icon/128.png
//   zarn-skincheck --skin-files <folder>   checks <folder>/ZOVIR-<n>.png
//   zarn-skincheck --partial <folder>      checks a skin folder that replaces only some pictures:
//                                          the files present, and that each button set is whole
#include <QColor>
#include <QDir>
#include <QImage>
#include <QRect>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Expected {
  int number, resourceId, width, height;
};

// Picture numbers, their resources and sizes, written out as the skin table gives them.
const Expected kPictures[] = {
    {1, 10001, 1372, 797}, {7, 10002, 80, 34},   {8, 10003, 80, 34},    {9, 10004, 80, 34},
    {10, 10005, 80, 34},   {11, 10006, 80, 34},  {12, 10007, 80, 34},   {13, 10008, 80, 34},
    {14, 10009, 80, 34},   {15, 10010, 80, 34},  {16, 10011, 80, 34},   {17, 10012, 80, 34},
    {18, 10013, 80, 34},   {19, 10014, 156, 56}, {20, 10015, 156, 56},  {21, 10016, 156, 56},
    {22, 10017, 49, 49},   {23, 10018, 49, 49},  {24, 10019, 49, 49},   {25, 10020, 49, 49},
    {26, 10021, 49, 49},   {27, 10022, 49, 49},  {28, 10023, 481, 217}, {29, 10024, 120, 34},
    {30, 10025, 120, 34},  {31, 10026, 120, 34}, {32, 10027, 120, 34},  {33, 10028, 120, 34},
    {34, 10029, 120, 34},  {35, 10030, 80, 34},  {36, 10031, 80, 34},   {37, 10032, 80, 34},
    {38, 10033, 80, 34},   {39, 10034, 156, 56}, {40, 10035, 84, 19},   {41, 10036, 84, 19},
    {42, 10037, 300, 13},  {43, 10038, 300, 13}, {51, 10043, 15, 12},   {52, 10044, 15, 12},
    {53, 10045, 80, 34},   {54, 10046, 80, 34},  {55, 10047, 80, 34},   {56, 10048, 80, 34},
    {57, 10049, 80, 34},   {58, 10050, 80, 34},  {59, 10051, 321, 420}, {60, 10052, 115, 14},
    {61, 10053, 115, 14},  {62, 10054, 115, 14}, {63, 10055, 25, 25},   {64, 10056, 25, 25},
    {65, 10057, 25, 25},
};

// Button sets: normal, pressed, hover; and the sets' own disabled pictures.
const int kButtonSets[][3] = {{7, 8, 9},    {10, 11, 12}, {13, 14, 15}, {16, 17, 18}, {19, 20, 21},
                              {22, 23, 24}, {25, 26, 27}, {29, 30, 31}, {32, 33, 34}, {35, 36, 37},
                              {53, 54, 55}, {56, 57, 58}, {60, 61, 62}, {63, 64, 65}};
// Every picture number of each button, as the launcher loads them together: when one file of a
// set is missing, the whole button comes from the built-in pictures.
const std::vector<std::vector<int>> kWholeSets = {{19, 20, 21, 39}, {7, 8, 9},    {10, 11, 12}, {13, 14, 15},
                                                  {35, 36, 37, 38}, {16, 17, 18}, {40, 41},     {22, 23, 24},
                                                  {25, 26, 27},     {29, 30, 31}, {32, 33, 34}, {53, 54, 55},
                                                  {56, 57, 58},     {63, 64, 65}, {51, 52},     {60, 61, 62}};
const int kDisabled[][2] = {{35, 38}, {19, 39}};  // normal, disabled
const int kChecks[][2] = {{40, 41}, {51, 52}};    // unticked, ticked

int g_failures = 0;

void Fail(const std::string& what) {
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  ++g_failures;
}

std::string Name(int number) { return "picture " + std::to_string(number); }

// Share of pixels that differ visibly (any channel by more than 24 of 255).
double Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 1;
  int differ = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      if (std::abs(qRed(p) - qRed(q)) > 24 || std::abs(qGreen(p) - qGreen(q)) > 24 ||
          std::abs(qBlue(p) - qBlue(q)) > 24 || std::abs(qAlpha(p) - qAlpha(q)) > 24)
        ++differ;
    }
  return double(differ) / (a.width() * a.height());
}

// Mean saturation (HSV, 0…255) of the visible pixels.
double Saturation(const QImage& image) {
  double sum = 0, weight = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = QColor::fromRgba(image.pixel(x, y));
      sum += c.hsvSaturation() * c.alphaF();
      weight += c.alphaF();
    }
  return weight > 0 ? sum / weight : 0;
}

int CountAlpha(const QImage& image, const QRect& area, int low, int high) {
  int count = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const int a = qAlpha(image.pixel(x, y));
      if (a >= low && a <= high) ++count;
    }
  return count;
}

// Pixels of the area, outside the excluded rectangle, whose brightness differs from the pixel to
// their right or below by more than 48 of 255: the drawn lines and letters of a picture, not its
// soft gradients. Stray sparks count a few each.
int SharpSteps(const QImage& image, const QRect& area, const QRect& excluded) {
  int count = 0;
  const QRect r = area.intersected(image.rect().adjusted(0, 0, -1, -1));
  for (int y = r.top(); y < r.bottom(); ++y)
    for (int x = r.left(); x < r.right(); ++x) {
      if (excluded.contains(x, y)) continue;
      const int here = qGray(image.pixel(x, y));
      if (std::abs(here - qGray(image.pixel(x + 1, y))) > 48 ||
          std::abs(here - qGray(image.pixel(x, y + 1))) > 48)
        ++count;
    }
  return count;
}
const int kMaxSharpStepsUnderPage = 400;

}  // namespace

int main(int argc, char** argv) {
  bool skinFiles = false;
  bool partial = false;
  const char* folder = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--skin-files") == 0) {
      skinFiles = true;
    } else if (std::strcmp(argv[i], "--partial") == 0) {
      skinFiles = partial = true;
    } else {
      folder = argv[i];
    }
  }
  if (!folder) {
    std::fprintf(stderr, "usage: zarn-skincheck [--skin-files | --partial] <folder>\n");
    return 2;
  }
  const QDir root(QString::fromLocal8Bit(folder));
  std::map<int, QImage> images;
  for (const Expected& e : kPictures) {
    const QString path = skinFiles ? root.filePath(QStringLiteral("ZOVIR-%1.png").arg(e.number))
                                   : root.filePath(QStringLiteral("png/%1.png").arg(e.resourceId));
    if (partial && !QFile::exists(path)) continue;  // the built-in picture stays
    QImage image(path);
    if (image.isNull() && partial) {
      Fail(Name(e.number) +
           ": not a readable PNG (the launcher shows it as an empty picture): " + path.toStdString());
      continue;
    }
    if (image.isNull()) {
      Fail(Name(e.number) + ": missing or not a PNG: " + path.toStdString());
      continue;
    }
    if (image.width() != e.width || image.height() != e.height)
      Fail(Name(e.number) + ": " + std::to_string(image.width()) + " x " + std::to_string(image.height()) +
           ", expected " + std::to_string(e.width) + " x " + std::to_string(e.height));
    if (!image.hasAlphaChannel()) Fail(Name(e.number) + ": no alpha channel");
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (CountAlpha(image, image.rect(), 1, 255) < image.width() * image.height() / 10)
      Fail(Name(e.number) + ": almost nothing visible");
    images[e.number] = image;
  }
  // Resource ids that belong to no picture stay unused.
  if (!skinFiles)
    for (int id = 10039; id <= 10042; ++id)
      if (QFile::exists(root.filePath(QStringLiteral("png/%1.png").arg(id))))
        Fail("resource " + std::to_string(id) + " belongs to no picture");
  auto have = [&images](std::initializer_list<int> numbers) {
    for (int n : numbers)
      if (!images.count(n)) return false;
    return true;
  };
  if (partial) {
    for (const auto& set : kWholeSets) {
      std::string present, missing;
      for (int n : set) {
        std::string& list =
            QFile::exists(root.filePath(QStringLiteral("ZOVIR-%1.png").arg(n))) ? present : missing;
        list += (list.empty() ? "" : ", ") + std::to_string(n);
      }
      if (!present.empty() && !missing.empty())
        Fail("button with pictures " + present + ": " + missing +
             " missing, so the launcher shows the built-in pictures for the whole button");
    }
  }
  for (const auto& set : kButtonSets) {
    if (!have({set[0], set[1], set[2]})) continue;
    if (Difference(images[set[0]], images[set[1]]) < 0.05) Fail(Name(set[1]) + ": pressed looks like normal");
    if (Difference(images[set[0]], images[set[2]]) < 0.05) Fail(Name(set[2]) + ": hover looks like normal");
  }
  for (const auto& pair : kDisabled) {
    if (!have({pair[0], pair[1]})) continue;
    if (Difference(images[pair[0]], images[pair[1]]) < 0.05)
      Fail(Name(pair[1]) + ": disabled looks like normal");
    if (Saturation(images[pair[1]]) > Saturation(images[pair[0]]) * 0.5)
      Fail(Name(pair[1]) + ": disabled is not greyed");
  }
  for (const auto& pair : kChecks)
    if (have({pair[0], pair[1]}) && Difference(images[pair[0]], images[pair[1]]) < 0.03)
      Fail(Name(pair[1]) + ": ticked looks like unticked");
  // The frame's shape: pages paint "WorkClient" {440,120,1248,755} themselves, so it is opaque;
  // the window's rim is translucent and its corners clear.
  if (have({1})) {
    const QImage& bg = images[1];
    const QRect page(440, 120, 808, 635);
    if (CountAlpha(bg, page, 0, 254) != 0) Fail("picture 1: not opaque under the page area");
    for (const QPoint corner : {QPoint(0, 0), QPoint(1371, 0), QPoint(0, 796), QPoint(1371, 796)})
      if (qAlpha(bg.pixel(corner)) != 0) Fail("picture 1: corner not transparent");
    if (CountAlpha(bg, bg.rect(), 1, 254) < 2000) Fail("picture 1: no soft translucent rim");
    // The install page shows the page area with only its illustration {520,320} (481 x 217) and
    // buttons in front: the rest must hold nothing drawn for the work page's controls (panels,
    // slots, grooves, captions), which reads as a broken page there. Lines and letters show as
    // sharp steps of brightness between neighbouring pixels.
    const QRect illustration(520, 320, 481, 217);
    const int edges = partial ? 0 : SharpSteps(bg, page.adjusted(8, 8, -8, -8), illustration);
    if (edges > kMaxSharpStepsUnderPage)
      Fail("picture 1: " + std::to_string(edges) +
           " sharp edges (lines, frames, text) around the install illustration, where the install page "
           "shows them with nothing in front");
  }
  // The registration form shows "RegisterClient" {15,10,305,420} of the panel without alpha.
  if (have({59})) {
    const QImage& panel = images[59];
    if (CountAlpha(panel, QRect(15, 10, 290, 410), 0, 254) != 0)
      Fail("picture 59: not opaque under the registration form");
  }
  if (!skinFiles) {
    QImage icon(root.filePath(QStringLiteral("icon/128.png")));
    if (icon.isNull())
      Fail("icon/128.png missing");
    else if (icon.width() != 64 || icon.height() != 64 || !icon.hasAlphaChannel())
      Fail("icon/128.png: not a 64 x 64 picture with alpha");
  }
  if (partial && images.empty()) Fail(std::string("no skin pictures in ") + folder);
  if (g_failures) {
    std::fprintf(stderr, "%d check(s) failed in %s\n", g_failures, folder);
    return 1;
  }
  std::printf("%zu pictures checked in %s: sizes, alpha, states and opaque areas as expected\n",
              images.size(), folder);
  return 0;
}
