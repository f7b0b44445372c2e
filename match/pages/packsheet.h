#ifndef PACKSHEET_H
#define PACKSHEET_H

#include "match/matcher.h"

class QImage;
class QPainter;

namespace match {

// The assembler's sheet: landscape A4 pages, on each a few series groups as
// blocks in series order (the first at the pack's − end, the last at +),
// every slot a box with a tick box, its number, the cell's ID, R, V (and
// K), the group's figures on a band coloured by its resistance (blue below
// the pack's mean, red above); the spares by ID after the last group, and
// on every page the fields for the assembler, the date and the signatures.
// Boxes grow to fill a page that a few groups would leave blank. Drawn in
// millimetres, so the same pages go to PDF, PNG or a screen.
class PackSheet
{
public:
    PackSheet(const QString &pack, const Rules &rules, const QVector<Cell> &cells, const Plan &plan,
              const QDateTime &made);

    static constexpr double kWidthMm = 297, kHeightMm = 210;
    int pages() const;
    // Paints a page on a painter scaled to millimetres (0..297 × 0..210).
    void paint(QPainter &painter, int page) const;
    bool writePdf(const QString &path, QString *error) const;
    // The first page at path, the next ones beside it as NAME-2.png, ...
    bool writePngs(const QString &path, QString *error) const;
    // A page as an image at the given dots per inch.
    QImage image(int page, int dpi) const;

private:
    int groupsPerPage() const;
    double boxHeight() const;
    void paintGroup(QPainter &painter, int g, double y, double meanRg, double span) const;
    void paintSpares(QPainter &painter, double y) const;
    void paintSignatures(QPainter &painter) const;

    QString m_pack;
    Rules m_rules;
    QVector<Cell> m_cells;
    Plan m_plan;
    QDateTime m_made;
};

} // namespace match

#endif // PACKSHEET_H
