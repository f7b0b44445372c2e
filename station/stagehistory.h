#ifndef STATION_STAGEHISTORY_H
#define STATION_STAGEHISTORY_H

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QVector>

#include <optional>

namespace station {

// A cell's earlier stages, from the cells files of a journal folder: the
// latest record, not voided, of a cell ID at a stage within so many days.
// Each file is read once and afterwards from where it ended (today's grows
// with every record), so a lookup at a busy station costs a directory
// listing and a hash lookup per file.
class StageHistory
{
public:
    explicit StageHistory(const QString &folder, int days = 60) : m_folder(folder), m_days(days) {}

    struct Earlier
    {
        QDateTime time;
        double v = 0;
        QString record;
    };
    // Before `at`, in files of the days from `days` before it on.
    std::optional<Earlier> latest(const QString &cellId, const QString &stage, const QDateTime &at);
    // Reads the files of the days up to `last` now (a set asking for K was
    // chosen), so that the first record does not wait for them.
    void prime(const QDate &last) { refresh(last); }

private:
    struct Entry
    {
        qint64 ms = 0;
        double v = 0;
        QString record;
    };
    struct File
    {
        qint64 offset = 0; // read up to here (just after a whole record)
        QList<QByteArray> header;
        QHash<QString, QVector<Entry>> byKey; // stage + '\x1f' + cell ID
        QSet<QString> voids;                  // the records its void lines name
    };
    void refresh(const QDate &last);
    void read(const QString &path, File &file);

    QString m_folder;
    int m_days;
    QMap<QString, File> m_files; // by name, so by day
};

} // namespace station

#endif
