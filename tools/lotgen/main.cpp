// zentrel-lotgen FOLDER [CELLS] [SEED]: a generated lot as the station's
// cells-*.csv, for trying zentrel-match and making docs/matching.md's sheet.
#include "lotgenerator.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: zentrel-lotgen FOLDER [CELLS] [SEED]\n");
        return 2;
    }
    LotShape shape;
    shape.cells = args.value(1, QStringLiteral("400")).toInt();
    shape.seed = args.value(2, QStringLiteral("1")).toUInt();
    shape.lot = QStringLiteral("L20261201-A");
    return writeLot(args.first(), generateLot(shape), shape.day) ? 0 : 1;
}
