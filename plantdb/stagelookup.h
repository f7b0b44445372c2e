#ifndef PLANTDB_STAGELOOKUP_H
#define PLANTDB_STAGELOOKUP_H

#include "station/stagehistory.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// A station's look into the plant database for a cell's earlier stage, when
// the cell was measured at another station: read-only, one query a record.
namespace plantdb {

class StageLookup
{
public:
    // say: a failure in words (the host and the reason), once until it works
    // again; a connection that failed is tried again a minute later, so a
    // database away costs the station's records only their K.
    StageLookup(const QString &conninfo, std::function<void(const QString &)> say = {});
    ~StageLookup();
    // The cell's latest counted record at the stage before `at`, within days.
    std::optional<station::StageHistory::Earlier> latest(const QString &cellId, const QString &stage, const QDateTime &at, int days = 60);

private:
    bool connected();
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace plantdb

#endif
