#include "reportdata.h"

#include "platform/regularfile.h"

#include "journal/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace report {

namespace {

constexpr int kRunPoints = 20000;

QString numberText(double v, int decimals = 4)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—");
}

QJsonValue jsonNumber(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString LimitKey::text() const
{
    if (rLow.startsWith(QLatin1String("set:")))
        return QStringLiteral("限值组 %1").arg(rLow.mid(4));
    auto show = [](const QString &s) { return s.isEmpty() ? QStringLiteral("—") : s; };
    return QStringLiteral("R %1–%2 mΩ, V %3–%4 V").arg(show(rLow), show(rHigh), show(vLow), show(vHigh));
}

double LimitKey::value(const QString &s) const
{
    bool ok = false;
    const double v = s.toDouble(&ok);
    return ok ? v : NAN;
}

QStringList Collector::findFiles(const QStringList &paths, QStringList *problems) const
{
    QStringList files;
    auto wanted = [this](const QString &name) {
        const bool readings = name.startsWith(QLatin1String("readings-"));
        const bool cells = name.startsWith(QLatin1String("cells-"));
        if ((!readings && !cells) || !name.endsWith(QLatin1String(".csv")))
            return false;
        const QDate day = QDate::fromString(name.mid(readings ? 9 : 6, 10), QStringLiteral("yyyy-MM-dd"));
        if (!day.isValid())
            return false;
        return (!m_options.from.isValid() || day >= m_options.from) && (!m_options.to.isValid() || day <= m_options.to);
    };
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            QDir dir(path);
            const QStringList names = dir.entryList({QStringLiteral("*.csv")}, QDir::Files | QDir::System, QDir::Name);
            for (const QString &name : names)
                if (wanted(name))
                    files << dir.filePath(name);
            // One level of sub-folders: a folder of stations' journal folders.
            for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
                QDir inner(dir.filePath(sub));
                for (const QString &name : inner.entryList({QStringLiteral("*.csv")}, QDir::Files | QDir::System, QDir::Name))
                    if (wanted(name))
                        files << inner.filePath(name);
            }
        } else if (info.exists() || info.isSymLink()) {
            if (wanted(info.fileName()))
                files << path;
            else if (problems)
                *problems << QStringLiteral("%1：不是 readings-YYYY-MM-DD.csv 或 cells-YYYY-MM-DD.csv，未读").arg(path);
        } else if (problems) {
            *problems << QStringLiteral("%1：不存在").arg(path);
        }
    }
    // A folder reached twice (a link to it, or named twice) is read once.
    QSet<QString> seen;
    QStringList unique;
    for (const QString &f : qAsConst(files)) {
        const QString canonical = QFileInfo(f).canonicalFilePath();
        if (!seen.contains(canonical.isEmpty() ? f : canonical)) {
            seen.insert(canonical.isEmpty() ? f : canonical);
            unique << f;
        }
    }
    files = unique;
    // Day by day, readings and cells of a day together: time order across files.
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        const QString da = QFileInfo(a).fileName().section('-', 1), db = QFileInfo(b).fileName().section('-', 1);
        return da != db ? da < db : a < b;
    });
    return files;
}

void Collector::add(const QString &scope, const LimitKey &limits, const QDateTime &time, meter::Verdict verdict,
                    double r, double v, const QString &grade)
{
    Group &g = m_groups[{scope, limits}];
    if (g.scope.isEmpty()) {
        g.scope = scope;
        g.limits = limits;
    }
    switch (verdict) {
    case meter::Verdict::Pass: ++g.stats.pass; break;
    case meter::Verdict::Ng: ++g.stats.ng; break;
    case meter::Verdict::None: ++g.stats.none; break;
    }
    if (!grade.isEmpty())
        ++g.stats.grades[grade];
    g.stats.r.add(r);
    g.stats.v.add(v);
    if (time.isValid()) {
        if (!g.first.isValid() || time < g.first)
            g.first = time;
        if (!g.last.isValid() || time > g.last)
            g.last = time;
    }
}

bool Collector::read(const QString &path, QString *error, const std::function<void(qint64)> &progress)
{
    QFile file;
    if (!openRegularFile(file, path, QIODevice::ReadOnly, error))
        return false;
    const bool cells = QFileInfo(path).fileName().startsWith(QLatin1String("cells-"));
    QByteArray header = file.readLine();
    if (header.startsWith("\xEF\xBB\xBF"))
        header.remove(0, 3);
    const QList<QByteArray> names = journal::csvFields(header.trimmed());
    auto column = [&names](const char *name) { return int(names.indexOf(QByteArray(name))); };
    const int cTime = column("time"), cStation = column("station"), cVerdict = column("verdict"),
              cR = column("r_mohm"), cV = column("v"), cRLow = column("r_low"), cRHigh = column("r_high"),
              cVLow = column("v_low"), cVHigh = column("v_high"), cLot = column("lot"), cGrade = column("grade"),
              cSet = column("set"), cRecord = column("record"), cVoids = column("voids");
    if (cTime < 0 || cStation < 0 || cVerdict < 0 || cR < 0 || cV < 0) {
        if (error)
            *error = QStringLiteral("%1：第一行不是记录文件的列名").arg(path);
        return false;
    }
    const int fields = names.size();
    // Cell records: a void line names a record that does not count.
    QSet<QByteArray> voided;
    if (cells && cVoids >= 0) {
        const qint64 start = file.pos();
        while (!file.atEnd()) {
            const QList<QByteArray> f = journal::csvFields(file.readLine().trimmed());
            if (f.size() == fields && !f[cVoids].isEmpty())
                voided.insert(f[cStation] + ',' + f[cVoids]);
        }
        file.seek(start);
    }
    QByteArray line;
    qint64 count = 0;
    while (!file.atEnd()) {
        line = file.readLine();
        if (!line.endsWith('\n')) { // torn by a power cut
            ++m_skipped;
            break;
        }
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        ++m_lines;
        if (progress && ++count % 65536 == 0)
            progress(m_lines);
        const QList<QByteArray> f = journal::csvFields(line);
        if (f.size() != fields) {
            ++m_skipped;
            continue;
        }
        if (f == names) // a header written again inside the file is no record
            continue;
        // A void names a record of its own station.
        if (cells && ((cVoids >= 0 && !f[cVoids].isEmpty()) || (cRecord >= 0 && voided.contains(f[cStation] + ',' + f[cRecord]))))
            continue;
        const QByteArray &vt = f[cVerdict];
        const meter::Verdict verdict = vt == "PASS" ? meter::Verdict::Pass : vt == "NG" ? meter::Verdict::Ng : meter::Verdict::None;
        bool okR = false, okV = false;
        const double r = f[cR].toDouble(&okR);
        const double v = f[cV].toDouble(&okV);
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(f[cTime]), Qt::ISODateWithMs);
        const QString station = QString::fromUtf8(f[cStation]);
        LimitKey limits;
        if (cells) {
            limits.rLow = QStringLiteral("set:") + (cSet >= 0 ? QString::fromUtf8(f[cSet]) : QString());
        } else if (cRLow >= 0 && cRHigh >= 0 && cVLow >= 0 && cVHigh >= 0) {
            limits = {QString::fromLatin1(f[cRLow]), QString::fromLatin1(f[cRHigh]), QString::fromLatin1(f[cVLow]),
                      QString::fromLatin1(f[cVHigh])};
        }
        // The meter shows at most 1677.7215 of its unit (a Ω reading is kept
        // in mΩ): anything beyond, or not finite, is no reading.
        if ((okR && !(std::isfinite(r) && std::fabs(r) <= 1677721.5)) || (okV && !(std::isfinite(v) && std::fabs(v) <= 1677.7215))) {
            ++m_skipped;
            continue;
        }
        const double rv = okR ? r : NAN, vv = okV ? v : NAN;
        const QString grade = cGrade >= 0 ? QString::fromUtf8(f[cGrade]) : QString();
        if (cells) {
            add(QStringLiteral("单体 全部"), limits, time, verdict, rv, vv, grade);
            add(QStringLiteral("单体 批次 %1").arg(cLot >= 0 && !f[cLot].isEmpty() ? QString::fromUtf8(f[cLot]) : QStringLiteral("—")),
                limits, time, verdict, rv, vv, grade);
            continue;
        }
        add(QStringLiteral("全部"), limits, time, verdict, rv, vv, grade);
        add(QStringLiteral("工位 %1").arg(station), limits, time, verdict, rv, vv, grade);
        if (okR) {
            m_charts.r.append(r);
            m_charts.rByStation[station].append(r);
            // The run chart keeps a bounded, even thinning of the points.
            if (m_runSeen++ % m_runEvery == 0 && time.isValid()) {
                m_charts.run.append({time.toMSecsSinceEpoch(), r});
                if (m_charts.run.size() >= 2 * kRunPoints) {
                    QVector<QPair<qint64, double>> half;
                    half.reserve(kRunPoints);
                    for (int i = 0; i < m_charts.run.size(); i += 2)
                        half.append(m_charts.run[i]);
                    m_charts.run.swap(half);
                    m_runEvery *= 2;
                }
            }
        }
        if (okV)
            m_charts.v.append(v);
    }
    return true;
}

void Collector::finish()
{
    std::sort(m_charts.run.begin(), m_charts.run.end());
}

QVector<Group> Collector::groups() const
{
    QVector<Group> out;
    for (const Group &g : m_groups)
        out.append(g);
    auto rank = [](const QString &scope) {
        return scope == QStringLiteral("全部") ? 0 : scope.startsWith(QStringLiteral("工位")) ? 1
               : scope == QStringLiteral("单体 全部") ? 2 : 3;
    };
    std::stable_sort(out.begin(), out.end(), [&](const Group &a, const Group &b) {
        if (rank(a.scope) != rank(b.scope))
            return rank(a.scope) < rank(b.scope);
        if (a.scope != b.scope)
            return a.scope < b.scope;
        return a.first < b.first; // limit periods in time order
    });
    return out;
}

bool Collector::limitsChanged() const
{
    int overall = 0;
    for (auto it = m_groups.cbegin(); it != m_groups.cend(); ++it)
        overall += it.key().first == QStringLiteral("全部");
    return overall > 1;
}

namespace {

// Limits whose low bound is above the high one give no Cp/Cpk; said once.
QString limitsNote(double rl, double rh, double vl, double vh)
{
    QStringList sides;
    if (rl > rh)
        sides << QStringLiteral("R");
    if (vl > vh)
        sides << QStringLiteral("V");
    return sides.isEmpty() ? QString()
                           : QStringLiteral("%1 的下限高于上限：不计算 Cp/Cpk").arg(sides.join(QStringLiteral("、")));
}

QVector<QStringList> rows(const QVector<Group> &groups)
{
    QVector<QStringList> out;
    for (const Group &g : groups) {
        const station::LotStats &s = g.stats;
        const double rl = g.limits.value(g.limits.rLow), rh = g.limits.value(g.limits.rHigh);
        const double vl = g.limits.value(g.limits.vLow), vh = g.limits.value(g.limits.vHigh);
        QStringList grades;
        for (auto it = s.grades.cbegin(); it != s.grades.cend(); ++it)
            grades << QStringLiteral("%1:%2").arg(it.key()).arg(it.value());
        out.append({g.scope, g.limits.text(), QString::number(s.total()), QString::number(s.pass), QString::number(s.ng),
                    QString::number(s.none), std::isfinite(s.yield()) ? numberText(s.yield() * 100, 2) : QStringLiteral("—"),
                    numberText(s.r.mean()), numberText(s.r.stddev()), numberText(s.r.min()), numberText(s.r.max()),
                    numberText(station::cp(s.r, rl, rh), 3), numberText(station::cpk(s.r, rl, rh), 3),
                    numberText(s.v.mean()), numberText(s.v.stddev()), numberText(s.v.min()), numberText(s.v.max()),
                    numberText(station::cp(s.v, vl, vh), 3), numberText(station::cpk(s.v, vl, vh), 3),
                    grades.join(QLatin1Char(' ')), limitsNote(rl, rh, vl, vh)});
    }
    return out;
}

const QStringList kColumns = {"scope", "limits", "n", "pass", "ng", "no_verdict", "yield_percent", "r_mean", "r_sd",
                              "r_min", "r_max", "r_cp", "r_cpk", "v_mean", "v_sd", "v_min", "v_max", "v_cp", "v_cpk", "grades"};

} // namespace

QString tableText(const QVector<Group> &groups)
{
    QString out;
    for (const QStringList &r : rows(groups)) {
        out += QStringLiteral("%1  [%2]\n").arg(r[0], r[1]);
        out += QStringLiteral("  n %1   PASS %2   NG %3   无判定 %4   良率 %5%\n").arg(r[2], r[3], r[4], r[5], r[6]);
        out += QStringLiteral("  R (mΩ)  均值 %1  σ %2  最小 %3  最大 %4  Cp %5  Cpk %6\n").arg(r[7], r[8], r[9], r[10], r[11], r[12]);
        out += QStringLiteral("  V (V)   均值 %1  σ %2  最小 %3  最大 %4  Cp %5  Cpk %6\n").arg(r[13], r[14], r[15], r[16], r[17], r[18]);
        if (!r[19].isEmpty())
            out += QStringLiteral("  等级 %1\n").arg(r[19]);
        if (!r[20].isEmpty())
            out += QStringLiteral("  %1\n").arg(r[20]);
    }
    return out;
}

QString tableCsv(const QVector<Group> &groups)
{
    auto field = [](QString s) {
        if (s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('"')) || s.contains(QLatin1Char('\n'))
            || s.contains(QLatin1Char('\r')))
            s = QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        return s;
    };
    QString out = kColumns.join(QLatin1Char(',')) + QLatin1Char('\n');
    for (QStringList r : rows(groups)) {
        r.removeLast(); // the note is the text table's
        for (QString &c : r) {
            if (c == QStringLiteral("—"))
                c.clear();
            c = field(c);
        }
        out += r.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out;
}

QByteArray tableJson(const QVector<Group> &groups, qint64 lines, qint64 skipped)
{
    QJsonArray array;
    for (const Group &g : groups) {
        const station::LotStats &s = g.stats;
        const double rl = g.limits.value(g.limits.rLow), rh = g.limits.value(g.limits.rHigh);
        const double vl = g.limits.value(g.limits.vLow), vh = g.limits.value(g.limits.vHigh);
        QJsonObject grades;
        for (auto it = s.grades.cbegin(); it != s.grades.cend(); ++it)
            grades.insert(it.key(), double(it.value()));
        auto side = [](const station::RunningStats &x, double lo, double hi) {
            return QJsonObject{{"mean", jsonNumber(x.mean())}, {"sd", jsonNumber(x.stddev())},
                               {"min", jsonNumber(x.min())},   {"max", jsonNumber(x.max())},
                               {"cp", jsonNumber(station::cp(x, lo, hi))}, {"cpk", jsonNumber(station::cpk(x, lo, hi))}};
        };
        array.append(QJsonObject{{"scope", g.scope}, {"limits", g.limits.text()}, {"n", double(s.total())},
                                 {"pass", double(s.pass)}, {"ng", double(s.ng)}, {"no_verdict", double(s.none)},
                                 {"yield", jsonNumber(s.yield())}, {"r", side(s.r, rl, rh)}, {"v", side(s.v, vl, vh)},
                                 {"grades", grades}});
    }
    return QJsonDocument(QJsonObject{{"lines", double(lines)}, {"skipped", double(skipped)}, {"groups", array}})
        .toJson(QJsonDocument::Indented);
}

} // namespace report
