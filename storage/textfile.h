#ifndef TEXTFILE_H
#define TEXTFILE_H

#include <QString>

// Writes text as UTF-8 without byte-order mark, in text mode, creating or
// truncating the file. Returns false with a reason when the file could not be
// opened or not written whole (a full disk, a vanished folder).
bool saveUtf8TextFile(const QString &path, const QString &text, QString *error = nullptr);

// path itself when nothing is there yet, otherwise the first free name with
// "-1", "-2", ... before the suffix, so that a save never replaces a file.
// Null when even "-99" is taken.
extern const int kMaxNameSuffix;
QString freeFileName(const QString &path);

#endif // TEXTFILE_H
