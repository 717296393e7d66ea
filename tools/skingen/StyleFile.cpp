#include "StyleFile.h"

#include <QFile>
#include <QSet>
#include <QTextStream>

namespace zarn::skingen {
namespace {

const QSet<QString>& ValuedOptions() {
  static const QSet<QString> names = {
      QStringLiteral("out"),    QStringLiteral("background"), QStringLiteral("accent"),
      QStringLiteral("text"),   QStringLiteral("bar-total"),  QStringLiteral("bar-file"),
      QStringLiteral("title"),  QStringLiteral("subtitle"),   QStringLiteral("label"),
      QStringLiteral("font"),   QStringLiteral("title-font"), QStringLiteral("layout"),
      QStringLiteral("preview")};
  return names;
}

}  // namespace

bool ReadStyleFile(const QString& path, QStringList* arguments, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    *error = QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
    return false;
  }
  QTextStream in(&file);
  in.setEncoding(QStringConverter::Utf8);
  int lineNumber = 0;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    ++lineNumber;
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const auto where = [&] { return QStringLiteral("%1:%2: ").arg(path).arg(lineNumber); };
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    const QString name = (eq < 0 ? line : line.left(eq)).trimmed();
    if (name == QLatin1String("skin-files")) {
      arguments->append(QStringLiteral("--skin-files"));
      continue;
    }
    if (!ValuedOptions().contains(name)) {
      *error = where() + (eq < 0 && !name.isEmpty() ? QStringLiteral("expected option = value: %1").arg(line)
                                                    : QStringLiteral("unknown option %1").arg(name));
      return false;
    }
    if (eq < 0) {
      *error = where() + QStringLiteral("expected option = value: %1").arg(line);
      return false;
    }
    QString value = line.mid(eq + 1).trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
      value = value.mid(1, value.size() - 2);
    arguments->append(QStringLiteral("--") + name);
    arguments->append(value);
  }
  return true;
}

bool ExpandStyleFiles(const QStringList& arguments, QStringList* expanded, QString* error) {
  QStringList fromFiles, rest;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    QString path;
    if (i > 0 && a == QLatin1String("--style-file")) {
      if (i + 1 >= arguments.size()) {
        *error = QStringLiteral("--style-file needs a file");
        return false;
      }
      path = arguments[++i];
    } else if (i > 0 && a.startsWith(QLatin1String("--style-file="))) {
      path = a.mid(13);
    } else {
      rest.append(a);
      continue;
    }
    if (!ReadStyleFile(path, &fromFiles, error)) return false;
  }
  // Program name first, then the files' options, then the command line's own.
  *expanded = rest.mid(0, 1) + fromFiles + rest.mid(1);
  return true;
}

}  // namespace zarn::skingen
