#ifndef STATIONVERDICT_H
#define STATIONVERDICT_H

#include <QLabel>

namespace station {

class CellRecorder;
struct CellRecord;
struct LimitSet;

// The large verdict over the plot at a station: the last record's, never
// a live reading's (the window's own PASS/NG judges each reading by the
// four classic limits and would contradict the record). PASS with its
// grade and bin; NG with what failed (R, V, K) and the set's bin for NG
// cells. Cleared by a new lot and when its record is voided.
class StationVerdict : public QLabel
{
    Q_OBJECT

public:
    // Sits where `classic` sat (hidden from now on), on its parent.
    StationVerdict(CellRecorder *station, QLabel *classic);

    void show(const CellRecord &record);
    void clear();
    QString shownRecord() const { return m_record; }
    // "B · 2号料框", or the grade alone where its bin is not named.
    static QString gradeAndBin(const CellRecord &record, const LimitSet *set);

protected:
    void changeEvent(QEvent *event) override;

private:
    void place();
    QString detail(const CellRecord &record) const;
    static QString kFailure(const CellRecord &record, const LimitSet *set);

    CellRecorder *m_station;
    QString m_record;
};

} // namespace station

#endif
