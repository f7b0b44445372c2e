#ifndef BOARD_STATIONPAGE_H
#define BOARD_STATIONPAGE_H

#include "plantdb/boarddb.h"

#include <QByteArray>

// A station's page as the browser takes it: its last hour (times, R, V as
// columns for the charts), its lot's records (rows), and the lot's control
// limits worked out as the station works them (stats::LotControl: the first
// 25 PASS records, revised once). The signals are the station's own, as its
// records say (spc).
namespace board {

QByteArray stationJson(const plantdb::StationDetail &detail);

} // namespace board

#endif // BOARD_STATIONPAGE_H
