// zarn-skingen: draws the launcher's built-in skin pictures.
#include <QCommandLineParser>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "Pictures.h"
#include "Preview.h"
#include "SkinStyle.h"
#include "StyleFile.h"

namespace {

using zarn::skingen::SkinStyle;

void Fail(const QString& message) { std::fprintf(stderr, "zarn-skingen: %s\n", qPrintable(message)); }

bool ReadColour(const QCommandLineParser& parser, const QCommandLineOption& option, QColor& colour) {
  if (!parser.isSet(option)) return true;
  const QColor value = QColor::fromString(parser.value(option));
  if (!value.isValid()) {
    Fail(QStringLiteral("not a colour for --%1: %2").arg(option.names().first(), parser.value(option)));
    return false;
  }
  colour = value;
  return true;
}

bool Save(const QImage& image, const QString& path) {
  if (image.save(path, "PNG")) return true;
  Fail(QStringLiteral("cannot write %1").arg(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Drawing text needs a platform; none is shown, so the offscreen one serves everywhere.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zarn-skingen"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Draws the Kelmar launcher's skin pictures."));
  parser.addHelpOption();
  const QCommandLineOption out(
      {QStringLiteral("o"), QStringLiteral("out")},
      QStringLiteral("Output folder (default: res). Resource names go to <out>/png/<id>.png "
                     "and <out>/icon/128.png; skin files go to <out>/ZOVIR-<n>.png."),
      QStringLiteral("folder"), QStringLiteral("res"));
  const QCommandLineOption skinFiles(
      QStringLiteral("skin-files"),
      QStringLiteral("Write skin files ZOVIR-<n>.png for a res_zn folder instead of "
                     "resource ids."));
  const QCommandLineOption background(QStringLiteral("background"), QStringLiteral("Ground colour."),
                                      QStringLiteral("colour"));
  const QCommandLineOption accent(QStringLiteral("accent"),
                                  QStringLiteral("Accent colour (borders, title, primary buttons)."),
                                  QStringLiteral("colour"));
  const QCommandLineOption text(QStringLiteral("text"), QStringLiteral("Text colour."),
                                QStringLiteral("colour"));
  const QCommandLineOption barTotal(QStringLiteral("bar-total"),
                                    QStringLiteral("Colour of the overall progress bar."),
                                    QStringLiteral("colour"));
  const QCommandLineOption barFile(QStringLiteral("bar-file"),
                                   QStringLiteral("Colour of the current file progress bar."),
                                   QStringLiteral("colour"));
  const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("Title text (default: Kelmar)."),
                                 QStringLiteral("text"));
  const QCommandLineOption subtitle(QStringLiteral("subtitle"),
                                    QStringLiteral("Line under the title; empty for none."),
                                    QStringLiteral("text"));
  const QCommandLineOption label(QStringLiteral("label"),
                                 QStringLiteral("A label, e.g. web=官方网站 (repeatable; "
                                                "--list-labels shows the keys)."),
                                 QStringLiteral("key=text"));
  const QCommandLineOption font(QStringLiteral("font"), QStringLiteral("Font family for Chinese text."),
                                QStringLiteral("family"));
  const QCommandLineOption titleFont(QStringLiteral("title-font"),
                                     QStringLiteral("Font family of the title."), QStringLiteral("family"));
  const QCommandLineOption layout(
      QStringLiteral("layout"),
      QStringLiteral("Layout file (set.json) whose positions the pictures are drawn for."),
      QStringLiteral("file"));
  const QCommandLineOption preview(QStringLiteral("preview"),
                                   QStringLiteral("Also write previews of the pages into this folder."),
                                   QStringLiteral("folder"));
  const QCommandLineOption styleFile(
      QStringLiteral("style"),
      QStringLiteral("Read options from a style file (lines of option = value); "
                     "the command line wins over it."),
      QStringLiteral("file"));
  const QCommandLineOption listLabels(QStringLiteral("list-labels"),
                                      QStringLiteral("Print the label keys and exit."));
  parser.addOptions({out, skinFiles, background, accent, text, barTotal, barFile, title, subtitle, label,
                     font, titleFont, layout, preview, styleFile, listLabels});
  QStringList arguments;
  QString styleError;
  if (!zarn::skingen::ExpandStyleFiles(app.arguments(), &arguments, &styleError)) {
    Fail(styleError);
    return 1;
  }
  parser.process(arguments);

  if (parser.isSet(listLabels)) {
    std::fputs(qPrintable(zarn::skingen::DescribeLabels()), stdout);
    return 0;
  }
  if (!parser.positionalArguments().isEmpty()) {
    Fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    return 1;
  }

  SkinStyle style;
  if (!ReadColour(parser, background, style.background) || !ReadColour(parser, accent, style.accent) ||
      !ReadColour(parser, text, style.text) || !ReadColour(parser, barTotal, style.barTotal) ||
      !ReadColour(parser, barFile, style.barFile))
    return 1;
  if (parser.isSet(title)) style.title = parser.value(title);
  if (parser.isSet(subtitle)) style.subtitle = parser.value(subtitle);
  for (const QString& entry : parser.values(label)) {
    const qsizetype eq = entry.indexOf(QLatin1Char('='));
    const QString key = eq < 0 ? entry : entry.left(eq);
    if (eq < 0 || !zarn::skingen::DefaultLabels().count(key)) {
      Fail(QStringLiteral("unknown label %1 (use key=text; --list-labels shows the keys)").arg(entry));
      return 1;
    }
    style.labels[key] = entry.mid(eq + 1);
  }
  if (parser.isSet(font)) style.cjkFamily = parser.value(font);
  if (parser.isSet(titleFont)) style.titleFamily = parser.value(titleFont);
  if (!QFontDatabase::families().contains(style.cjkFamily))
    Fail(QStringLiteral("warning: font family \"%1\" is not installed; another CJK font is used")
             .arg(style.cjkFamily));
  if (parser.isSet(layout)) {
    QString error;
    if (!zarn::skingen::ReadLayoutFile(parser.value(layout), style.layout, &error)) {
      Fail(QStringLiteral("cannot read %1: %2").arg(parser.value(layout), error));
      return 1;
    }
  }

  const std::vector<zarn::skingen::Picture> pictures = zarn::skingen::DrawSkin(style);
  const QDir root(parser.value(out));
  const bool asSkin = parser.isSet(skinFiles);
  const QString pictureFolder = asSkin ? root.path() : root.filePath(QStringLiteral("png"));
  if (!QDir().mkpath(pictureFolder) || (!asSkin && !QDir().mkpath(root.filePath(QStringLiteral("icon"))))) {
    Fail(QStringLiteral("cannot create the folders under %1").arg(root.path()));
    return 2;
  }
  for (const auto& picture : pictures) {
    const QString name = asSkin ? QStringLiteral("ZOVIR-%1.png").arg(picture.number)
                                : QStringLiteral("%1.png").arg(picture.resourceId);
    if (!Save(picture.image, QDir(pictureFolder).filePath(name))) return 2;
  }
  if (!asSkin && !Save(zarn::skingen::DrawIcon(style).convertToFormat(QImage::Format_ARGB32),
                       root.filePath(QStringLiteral("icon/128.png"))))
    return 2;
  if (parser.isSet(preview)) {
    QString error;
    if (!zarn::skingen::WritePreviews(style, pictures, parser.value(preview), &error)) {
      Fail(error);
      return 2;
    }
  }
  std::printf("%zu pictures written to %s\n", pictures.size() + (asSkin ? 0 : 1), qPrintable(pictureFolder));
  return 0;
}
