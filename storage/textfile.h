#ifndef TEXTFILE_H
#define TEXTFILE_H

#include <QString>

// Writes text as UTF-8 without byte-order mark, in text mode, creating or
// truncating the file. Returns false with a reason when the file could not be
// opened or not written whole (a full disk, a vanished folder).
bool saveUtf8TextFile(const QString &path, const QString &text, QString *error = nullptr);

#endif // TEXTFILE_H
