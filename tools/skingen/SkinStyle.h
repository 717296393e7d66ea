// What an operator can restyle: colours, texts and fonts of the generated skin.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <map>

#include "SkinLayout.h"

namespace zarn::skingen {

struct SkinStyle {
  QColor background{0x1b, 0x12, 0x0d};  // the dark ground of the frame and the panels
  QColor accent{0xc8, 0x96, 0x3e};      // gold of borders, the title and the primary buttons
  QColor text{0xf3, 0xe6, 0xc8};        // labels on buttons and panels
  QColor barTotal{0x2f, 0x8c, 0xff};    // overall progress
  QColor barFile{0x3c, 0xd0, 0x5a};     // current file progress
  QString title = QStringLiteral("Kelmar");
  QString subtitle = QString::fromUtf8("踏上征程 · 书写传奇");
  QString cjkFamily = QStringLiteral("WenQuanYi Zen Hei");
  QString titleFamily = QStringLiteral("DejaVu Serif");
  std::map<QString, QString> labels;  // see DefaultLabels()
  SkinLayout layout;

  // The label for a key; every key has a built-in text.
  QString Label(const QString& key) const;
  // A font for Chinese text of that pixel size, falling back to other CJK families.
  QFont CjkFont(double pixelSize, int weight = QFont::Normal) const;
  QFont TitleFont(double pixelSize) const;
};

// The label keys with their built-in texts, in the order the README lists them.
const std::map<QString, QString>& DefaultLabels();
// One line per key: "key  text  (what it labels)".
QString DescribeLabels();

}  // namespace zarn::skingen
