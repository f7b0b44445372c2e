#ifndef TEXTFILE_H
#define TEXTFILE_H

#include <QByteArray>
#include <QString>

// What is at a path, as far as writing or reading a file there goes. Only a
// regular file (or nothing) is ever opened: opening a FIFO blocks forever,
// and writing over a device or socket is never what the operator meant.
enum class FileKind { Missing, Regular, Other };
FileKind fileKind(const QString &path);

// Writes bytes whole or not at all: into a temporary file beside path that
// replaces path only once it was written and flushed completely, so a full
// disk never destroys the old file. A path that exists and is not a regular
// file is refused. Returns false with the reason ("No space left on device").
bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// Writes text as UTF-8 without byte-order mark, in text mode (CR LF on
// Windows), the same way.
bool saveUtf8TextFile(const QString &path, const QString &text, QString *error = nullptr);
// The same, with the text file `leading` copied in first (it is read in
// text mode, so its line ends come out as the text's do).
bool saveUtf8TextFileAfter(const QString &path, const QString &leading, const QString &text, QString *error = nullptr);

// The reason given when a save target exists but is no regular file.
QString notRegularFileReason(const QString &path);

// path itself when nothing is there yet, otherwise the first free name with
// "-1", "-2", ... before the suffix, so that a save never replaces a file.
// Null when even "-99" is taken.
extern const int kMaxNameSuffix;
QString freeFileName(const QString &path);

#endif // TEXTFILE_H
