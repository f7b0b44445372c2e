#include "board/stationpage.h"

#include "stats/controlchart.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace board {

namespace {

QJsonValue number(double x)
{
    return std::isfinite(x) ? QJsonValue(x) : QJsonValue();
}

QJsonObject limits(const stats::ControlLimits &l)
{
    if (!l.valid)
        return QJsonObject();
    return QJsonObject {{"centre", l.centre}, {"ucl", l.ucl()}, {"lcl", l.lcl()}, {"sigma", l.sigma}};
}

} // namespace

QByteArray stationJson(const plantdb::StationDetail &d)
{
    QJsonArray t, r, v;
    for (const plantdb::BoardReading &x : d.lastHour) {
        t.append(double(x.ms) / 1000.0);
        r.append(number(x.r));
        v.append(number(x.v));
    }
    stats::LotControl control;
    QJsonArray records;
    bool anyK = false;
    for (const plantdb::StationRecord &c : d.records) {
        control.add(c.r, c.v, c.verdict == QLatin1String("PASS"), c.record);
        anyK = anyK || std::isfinite(c.k) || !c.stage.isEmpty();
        records.append(QJsonArray {double(c.ms), c.record, c.cellId, c.verdict, c.grade, c.spc, c.stage, c.reason, number(c.r),
                                   number(c.v), number(c.k)});
    }
    const QJsonObject o {
        {"station", d.station},
        {"lot", d.lot},
        {"set", d.set},
        {"hour", QJsonObject {{"t", t}, {"r", r}, {"v", v}}},
        {"columns", QJsonArray {"t", "record", "cell", "verdict", "grade", "rules", "stage", "reason", "r", "v", "k"}},
        {"records", records},
        {"control", QJsonObject {{"r", limits(control.rLimits())}, {"v", limits(control.vLimits())}, {"needed", control.stillNeeded()}}},
        {"stages", anyK},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace board
