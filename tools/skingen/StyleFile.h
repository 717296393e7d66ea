// Style files: the generator's options kept in a file, one "option = value" per line.
#pragma once

#include <QString>
#include <QStringList>

namespace zarn::skingen {

// Reads a style file into command-line arguments ("--accent", "#5fa8e8", …). Blank lines and
// lines starting with "#" are skipped; a value may be put in double quotes to keep blanks at
// its ends; "skin-files" takes no value. False, with "file:line: why" in error, for an
// unreadable file, a line without "=", an unknown option or one that cannot come from a file.
bool ReadStyleFile(const QString& path, QStringList* arguments, QString* error);

// The arguments with every "--style-file FILE" / "--style-file=FILE" replaced by the file's options,
// which are put before all other arguments so that the command line wins over the file.
// (Not "--style": the toolkit takes that option for itself before the program sees it.)
bool ExpandStyleFiles(const QStringList& arguments, QStringList* expanded, QString* error);

}  // namespace zarn::skingen
