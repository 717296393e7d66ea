#include "Preview.h"

#include <QDir>
#include <map>

#include "Paint.h"

namespace zarn::skingen {
namespace {

class Sheet {
 public:
  explicit Sheet(const std::vector<Picture>& pictures) {
    for (const Picture& p : pictures) m_byNumber[p.number] = p.image;
  }
  const QImage& operator[](int number) const { return m_byNumber.at(number); }

 private:
  std::map<int, QImage> m_byNumber;
};

// The desktop the translucent window floats over: a neutral checker shows its alpha.
QImage Desktop(QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  for (int y = 0; y < size.height(); y += 16)
    for (int x = 0; x < size.width(); x += 16)
      p.fillRect(x, y, 16, 16, ((x + y) / 16) % 2 ? QColor(86, 96, 110) : QColor(70, 80, 94));
  return image;
}

// A stand-in for a toolkit drop-down list.
void Combo(QPainter& p, const QRect& r, const QString& text, const SkinStyle& s) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(120, 120, 120));
  p.setBrush(QColor(236, 236, 236));
  p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  DrawLabel(p, QRectF(r).adjusted(6, 0, -18, 0), Qt::AlignLeft | Qt::AlignVCenter, text, s.CjkFont(12),
            QColor(20, 20, 20), Qt::transparent);
  p.setPen(QPen(QColor(60, 60, 60), 1.5));
  const QPointF c(r.right() - 9, r.center().y() + 1);
  p.drawPolyline(QPolygonF({c + QPointF(-3.5, -2), c + QPointF(0, 1.5), c + QPointF(3.5, -2)}));
  p.restore();
}

void Edit(QPainter& p, const QRect& r, const QString& text, const SkinStyle& s) {
  p.save();
  p.setPen(QColor(122, 122, 122));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
  DrawLabel(p, QRectF(r).adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, text, s.CjkFont(12),
            QColor(20, 20, 20), Qt::transparent);
  p.restore();
}

QImage WorkPage(const SkinStyle& s, const Sheet& pic) {
  const SkinLayout& l = s.layout;
  QImage frame = Desktop(pic[1].size());
  QPainter fp(&frame);
  fp.drawImage(0, 0, pic[1]);
  // The page is a child of the frame: everything on it is clipped to "WorkClient".
  QImage page = pic[1].copy(l.workClient);
  {
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-l.workClient.topLeft());
    // Server tree: black, zone names in their colours, servers beneath.
    p.fillRect(l.listServer, Qt::black);
    const QFont treeFont = s.CjkFont(12);
    const struct {
      int indent;
      const char* text;
      QColor color;
    } rows[] = {{0, "⊟ 电信一区", QColor(255, 210, 90)},       {1, "龙城战歌 [火爆]", QColor(255, 90, 70)},
                {1, "烈焰王座 [新服]", QColor(110, 230, 110)}, {1, "暗夜之门", QColor(220, 220, 220)},
                {0, "⊞ 网通二区", QColor(255, 210, 90)},       {0, "⊞ 双线专区", QColor(255, 210, 90)}};
    int y = l.listServer.top() + 6;
    for (const auto& row : rows) {
      DrawLabel(p, QRectF(l.listServer.left() + 8 + row.indent * 18, y, 220, 16),
                Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(row.text), treeFont, row.color,
                Qt::transparent);
      y += 20;
    }
    // Browser: a stand-in news page.
    const QRect b = l.url;
    QLinearGradient news(b.topLeft(), b.bottomLeft());
    news.setColorAt(0, QColor(44, 30, 22));
    news.setColorAt(1, QColor(22, 15, 11));
    p.fillRect(b, news);
    DrawLabel(p, QRectF(b.left() + 14, b.top() + 10, 300, 22), Qt::AlignLeft | Qt::AlignVCenter,
              QString::fromUtf8("最新公告"), s.CjkFont(16, QFont::Bold), s.accent);
    const char* items[] = {"[公告] 新服「烈焰王座」今日开启", "[活动] 周末双倍经验限时开放",
                           "[更新] 客户端版本 1.0.0.1 维护说明", "[新闻] 跨服争霸赛报名开始",
                           "[攻略] 新手职业选择指南"};
    int iy = b.top() + 44;
    for (const char* item : items) {
      DrawLabel(p, QRectF(b.left() + 14, iy, b.width() - 28, 18), Qt::AlignLeft | Qt::AlignVCenter,
                QString::fromUtf8(item), s.CjkFont(13), QColor(225, 212, 190), Qt::transparent);
      iy += 30;
    }
    const struct {
      QPoint at;
      int picture;
    } buttons[] = {{l.btnMin, 22},      {l.btnClose, 25},    {l.btnGame, 19},
                   {l.btnWeb, 7},       {l.btnRecharge, 12}, {l.btnRegister, 13},
                   {l.btnPassword, 35}, {l.btnUpdate, 16},   {l.btnWindows, 41}};
    for (const auto& button : buttons) p.drawImage(button.at, pic[button.picture]);
    Combo(p, QRect(l.comboServer, QSize(114, 24)), QStringLiteral("1024×768"), s);
    Combo(p, QRect(l.comboQuality, QSize(72, 24)), QString::fromUtf8("高画质"), s);
    // Bars part-way, labelled to their right as the page labels them.
    const struct {
      QPoint at;
      int picture;
      int percent;
    } bars[] = {{l.progressGreen, 43, 37}, {l.progressBlue, 42, 64}};
    QFont labelFont = s.CjkFont(13);
    for (const auto& bar : bars) {
      const QImage& image = pic[bar.picture];
      const int w = image.width() * bar.percent / 100;
      p.drawImage(QRect(bar.at, QSize(w, image.height())), image, QRect(0, 0, w, image.height()));
      p.setFont(labelFont);
      p.setPen(Qt::white);
      p.drawText(QPointF(bar.at.x() + image.width(), bar.at.y() + QFontMetricsF(labelFont).ascent()),
                 QStringLiteral("%1%").arg(bar.percent));
    }
  }
  fp.drawImage(l.workClient.topLeft(), page);
  return frame;
}

QImage InstallPage(const SkinStyle& s, const Sheet& pic) {
  const SkinLayout& l = s.layout;
  QImage frame = Desktop(pic[1].size());
  QPainter fp(&frame);
  fp.drawImage(0, 0, pic[1]);
  QImage page = pic[1].copy(l.workClient);
  {
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(l.imageSetup - l.workClient.topLeft(), pic[28]);
    QFont font = s.CjkFont(20);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QPointF(l.textPath) + QPointF(0, QFontMetricsF(font).ascent()),
               QStringLiteral("/home/player/Kelmar/"));
    p.translate(-l.workClient.topLeft());
    p.drawImage(l.btnMin, pic[22]);
    p.drawImage(l.btnClose, pic[27]);  // as if the pointer rests on it
    p.drawImage(l.btnSetup, pic[32]);
    p.drawImage(l.btnSetupAuto, pic[31]);
  }
  fp.drawImage(l.workClient.topLeft(), page);
  return frame;
}

QImage RegisterPanel(const SkinStyle& s, const Sheet& pic, const QImage& behind) {
  const SkinLayout& l = s.layout;
  QImage out = behind;
  QPainter op(&out);
  op.fillRect(out.rect(), QColor(0, 0, 0, 90));
  const QImage& panel = pic[59];
  const QPoint at((out.width() - panel.width()) / 2 + 120, (out.height() - panel.height()) / 2 + 30);
  op.drawImage(at, panel);
  QPainter& p = op;
  p.translate(at);
  const char* texts[9] = {"player01",           "••••••",     "••••••", "张三", "110101199001011234", "", "",
                          "player@example.com", "12345678910"};
  for (int i = 0; i < 9; ++i) {
    if (i == 5)
      Combo(p, l.edits[i], QString::fromUtf8("--请选择密保问题--"), s);
    else
      Edit(p, l.edits[i], QString::fromUtf8(texts[i]), s);
  }
  p.drawImage(l.btnRegAgreement, pic[52]);
  p.drawImage(l.btnRegAgreementText, pic[60]);
  p.drawImage(l.btnRegOk, pic[55]);  // hover
  p.drawImage(l.btnRegCancel, pic[56]);
  p.drawImage(l.btnRegClose, pic[63]);
  return out;
}

// Every button set in its states, twice the size, on the panel colour.
QImage States(const SkinStyle& s, const Sheet& pic) {
  const std::vector<std::vector<int>> rows = {
      {7, 8, 9},    {10, 11, 12}, {13, 14, 15},     {16, 17, 18}, {35, 36, 37, 38}, {19, 20, 21, 39},
      {22, 23, 24}, {25, 26, 27}, {29, 30, 31},     {32, 33, 34}, {53, 54, 55},     {56, 57, 58},
      {60, 61, 62}, {63, 64, 65}, {40, 41, 51, 52}, {42, 43}};
  const int scale = 2;
  int height = 10, width = 0;
  for (const auto& row : rows) {
    int rowWidth = 10, rowHeight = 20;
    for (int number : row) {
      rowWidth += pic[number].width() * scale + 16;
      rowHeight = std::max(rowHeight, pic[number].height() * scale);
    }
    width = std::max(width, rowWidth);
    height += rowHeight + 10;
  }
  QImage sheet(width, height, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(Mix(s.background, Qt::black, 0.3));
  QPainter p(&sheet);
  int y = 10;
  for (const auto& row : rows) {
    int x = 10, rowHeight = 20;
    for (int number : row) {
      const QImage& image = pic[number];
      p.drawImage(QRect(x, y, image.width() * scale, image.height() * scale), image);
      rowHeight = std::max(rowHeight, image.height() * scale);
      x += image.width() * scale + 16;
    }
    y += rowHeight + 10;
  }
  p.end();
  return sheet;
}

bool Save(const QImage& image, const QString& path, QString* error) {
  if (image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) return true;
  if (error) *error = QStringLiteral("cannot write %1").arg(path);
  return false;
}

}  // namespace

bool WritePreviews(const SkinStyle& style, const std::vector<Picture>& pictures, const QString& folder,
                   QString* error) {
  if (!QDir().mkpath(folder)) {
    if (error) *error = QStringLiteral("cannot create %1").arg(folder);
    return false;
  }
  const Sheet sheet(pictures);
  const QImage work = WorkPage(style, sheet);
  const QDir dir(folder);
  return Save(work, dir.filePath(QStringLiteral("preview-work.png")), error) &&
         Save(InstallPage(style, sheet), dir.filePath(QStringLiteral("preview-install.png")), error) &&
         Save(RegisterPanel(style, sheet, work), dir.filePath(QStringLiteral("preview-register.png")),
              error) &&
         Save(States(style, sheet), dir.filePath(QStringLiteral("preview-states.png")), error);
}

}  // namespace zarn::skingen
