#ifndef PACKLEDGER_H
#define PACKLEDGER_H

#include "matcher.h"

#include <QHash>
#include <QSet>

#include <functional>

// The pack ledger: packs-YYYY-MM-DD.csv in the journal folder, a line per
// cell placed in a pack and a line per cancelled pack; nothing is deleted.
// Written with the journal's rules (appended, synced); a cell in a pack that
// is not cancelled is never placed again.
namespace match {

extern const char *const kPacksHeader;

class PackLedger
{
public:
    explicit PackLedger(const QString &folder);

    QString folder() const { return m_folder; }

    // Reads every day's ledger in the folder; false with the reason.
    bool load(QString *error);
    // Cell ID → the pack it is in (cancelled packs free their cells).
    const QHash<QString, QString> &placed() const { return m_placed; }
    // PACK-YYYYMMDD-N, the first N not yet in the ledger.
    QString nextPackId(const QDate &day) const;

    // Under the ledger's lock: reads it again, checks that the pack ID is new
    // and no cell is placed already, appends the plan and syncs it. False
    // with the reason, and nothing written.
    bool addPlan(const QString &pack, const QVector<Cell> &cells, const Plan &plan, const QDateTime &now, QString *error);
    // Adds a cancel line for a pack that is in the ledger and not cancelled.
    bool cancel(const QString &pack, const QDateTime &now, QString *error);

private:
    bool locked(const std::function<bool(QString *)> &work, QString *error);
    bool write(const QDate &day, const QByteArray &lines, QString *error);

    QString m_folder;
    QHash<QString, QString> m_placed;
    QSet<QString> m_packs, m_cancelled;
};

} // namespace match

#endif // PACKLEDGER_H
