#ifndef OVERFLOWLOG_H
#define OVERFLOWLOG_H

#include <QDateTime>
#include <QString>

// Where a text window's lines go when the window lets its oldest lines go:
// one text file per run in the journal folder, appended to and synced before
// the window drops anything, so no reading leaves the screen without being
// on disk.
class OverflowLog
{
public:
    // The file's name is the start's time in namePattern (QDateTime's format).
    OverflowLog(const QString &folder, const QDateTime &started,
                const QString &namePattern = QStringLiteral("'receive-window-'yyyy-MM-dd-HHmmss'.txt'"));

    // Appends the lines (joined by '\n'), a line end after the last. Returns
    // false with the reason, naming the file, when they are not all on disk.
    bool append(const QString &lines, QString *error);

    QString path() const { return m_path; }
    quint64 linesWritten() const { return m_lines; }

private:
    QString m_folder;
    QString m_path;
    quint64 m_lines = 0;
};

#endif // OVERFLOWLOG_H
