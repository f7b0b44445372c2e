#include "stationverdict.h"

#include "station/cellrecorder.h"
#include "station/limitset.h"

#include <QColor>
#include <QEvent>

namespace station {

StationVerdict::StationVerdict(CellRecorder *station, QLabel *classic)
    : QLabel(classic->parentWidget()), m_station(station)
{
    setObjectName(QStringLiteral("stationVerdict"));
    setTextFormat(Qt::RichText);
    setAttribute(Qt::WA_TransparentForMouseEvents); // the plot under it keeps its clicks
    move(classic->pos());
    classic->hide();
    connect(station, &CellRecorder::recorded, this, [this](const CellRecord &r) { show(r); });
    connect(station, &CellRecorder::voidedRecord, this, [this](const QString &id) {
        if (id == m_record)
            clear();
    });
    connect(station, &CellRecorder::lotStarted, this, [this] { clear(); });
    clear();
    QLabel::show();
}

void StationVerdict::show(const CellRecord &r)
{
    m_record = r.id;
    if (r.verdict == meter::Verdict::None) {
        clear();
        m_record = r.id;
        return;
    }
    const bool ng = r.verdict == meter::Verdict::Ng;
    const LimitSet *set = m_station->activeSet();
    const Grade *grade = set && !ng ? set->grade(r.grade) : nullptr;
    QColor colour = ng ? QColor(Qt::red) : QColor(0, 160, 0);
    if (grade && QColor(grade->colour).isValid())
        colour = QColor(grade->colour);
    const QString head = QStringLiteral("<div style='font-size:40pt; font-weight:bold; color:%1'>%2</div>")
                             .arg(ng ? QStringLiteral("red") : QStringLiteral("#00a000"), ng ? QStringLiteral("NG") : QStringLiteral("PASS"));
    const QString more = detail(r);
    setText(head + (more.isEmpty() ? QString()
                                   : QStringLiteral("<div style='font-size:18pt; font-weight:bold; color:%1'>%2</div>")
                                         .arg(colour.name(), more.toHtmlEscaped())));
    place();
}

QString StationVerdict::detail(const CellRecord &r) const
{
    const LimitSet *set = m_station->activeSet();
    if (r.verdict == meter::Verdict::Ng) {
        QStringList failed;
        for (const QString &what : r.reason.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (what == QLatin1String("R"))
                failed << tr("内阻超限");
            else if (what == QLatin1String("V"))
                failed << tr("电压超限");
            else if (what == QLatin1String("K"))
                failed << kFailure(r, set);
        }
        QString text = failed.join(QStringLiteral(" · "));
        if (set && !set->ngBin.isEmpty())
            text += (text.isEmpty() ? QString() : QStringLiteral(" → ")) + set->ngBin;
        return text;
    }
    return gradeAndBin(r, set);
}

QString StationVerdict::gradeAndBin(const CellRecord &r, const LimitSet *set)
{
    const Grade *grade = set ? set->grade(r.grade) : nullptr;
    return grade && !grade->bin.isEmpty() ? r.grade + QStringLiteral(" · ") + grade->bin : r.grade;
}

QString StationVerdict::kFailure(const CellRecord &r, const LimitSet *set)
{
    // Without a K the cell failed for want of it: say which.
    const QString earlier = set && !set->kFrom.isEmpty() ? set->kFrom : QStringLiteral("OCV1");
    if (r.kNote == QLatin1String(kNoEarlier))
        return tr("无 %1 记录").arg(earlier);
    if (r.kNote == QLatin1String(kShortRest))
        return tr("静置不足 %1 天").arg(set ? set->minRestDays : 0);
    return tr("K 值超限");
}

void StationVerdict::clear()
{
    m_record.clear();
    setText(QString());
    place();
}

void StationVerdict::place()
{
    // As wide as the text needs, never past the plot's right edge.
    if (QWidget *plot = parentWidget())
        setMaximumWidth(qMax(100, plot->width() - x() - 10));
    adjustSize();
    raise();
}

void StationVerdict::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        clear(); // a verdict in the other language would stay so until the next record
}

} // namespace station
