#include "limitset.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include "platform/regularfile.h"
#include "storage/textfile.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace station {

namespace {

QString sha256(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

constexpr int kIterations = 200000;

QString pbkdf2(const QString &password, const QByteArray &salt, int iterations)
{
    return QString::fromLatin1(
        QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt, iterations, 32).toHex());
}

// A field that must be a finite JSON number: a string such as "11.5" would
// otherwise read as 0 and make every cell NG.
bool numberOf(const QJsonObject &o, const char *key, const QString &where, double *out, QString *problem)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) {
        *problem = QCoreApplication::translate("Station", "%1.%2 缺少").arg(where, QLatin1String(key));
        return false;
    }
    if (!v.isDouble() || !std::isfinite(v.toDouble())) {
        *problem = QCoreApplication::translate("Station", "%1.%2 不是数字").arg(where, QLatin1String(key));
        return false;
    }
    *out = v.toDouble();
    return true;
}

// A set's bound for one quantity, read strictly; absent means the set does
// not bound that quantity. False with the field and the reason.
bool boundOf(const QJsonValue &value, const QString &where, Bound *b, QString *problem)
{
    *b = Bound();
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isObject()) {
        *problem = QCoreApplication::translate("Station", "%1 不是对象").arg(where);
        return false;
    }
    const QJsonObject o = value.toObject();
    if (o.isEmpty())
        return true; // how a set without this bound is saved
    if (o.contains(QLatin1String("reference")) || o.contains(QLatin1String("percent"))) {
        b->set = b->relative = true;
        if (!numberOf(o, "reference", where, &b->reference, problem) || !numberOf(o, "percent", where, &b->percent, problem))
            return false;
        if (b->percent < 0 || b->percent > 100) {
            *problem = QCoreApplication::translate("Station", "%1.percent 须在 0–100 之间（是 %2）").arg(where).arg(b->percent);
            return false;
        }
        return true;
    }
    b->set = true;
    if (!numberOf(o, "low", where, &b->low, problem) || !numberOf(o, "high", where, &b->high, problem))
        return false;
    if (b->low > b->high) {
        *problem = QCoreApplication::translate("Station", "%1.low（%2）高于 high（%3）").arg(where).arg(b->low).arg(b->high);
        return false;
    }
    return true;
}

// An optional number: absent leaves *out as it is.
bool optionalNumber(const QJsonObject &o, const char *key, const QString &where, double *out, QString *problem)
{
    return !o.contains(QLatin1String(key)) || numberOf(o, key, where, out, problem);
}

// The set's stages, K bounds and bin for NG cells, all optional.
bool selfDischargeOf(const QJsonObject &o, LimitSet *set, QString *problem)
{
    for (const auto &[key, into] : {std::pair<const char *, QString *>("stage", &set->stage), {"kFrom", &set->kFrom}, {"ngBin", &set->ngBin}}) {
        const QJsonValue value = o.value(QLatin1String(key));
        if (!value.isUndefined() && !value.isString()) {
            *problem = QCoreApplication::translate("Station", "%1 不是文字").arg(QLatin1String(key));
            return false;
        }
        *into = value.toString().trimmed();
    }
    if (!optionalNumber(o, "minRestDays", QStringLiteral("set"), &set->minRestDays, problem))
        return false;
    if (set->minRestDays < 0) {
        *problem = QCoreApplication::translate("Station", "minRestDays 不能为负（是 %1）").arg(set->minRestDays);
        return false;
    }
    const QJsonValue missing = o.value(QLatin1String("kMissing"));
    if (!missing.isUndefined() && missing != QJsonValue(QStringLiteral("pass")) && missing != QJsonValue(QStringLiteral("ng"))) {
        *problem = QCoreApplication::translate("Station", "kMissing 只能是 \"pass\" 或 \"ng\"");
        return false;
    }
    set->kMissingPasses = missing == QJsonValue(QStringLiteral("pass"));
    const QJsonValue retest = o.value(QLatin1String("retestNg"));
    if (!retest.isUndefined() && !retest.isBool()) {
        *problem = QCoreApplication::translate("Station", "retestNg 只能是 true 或 false");
        return false;
    }
    set->retestNg = retest.toBool(false);
    const QJsonValue k = o.value(QLatin1String("k"));
    if (k.isUndefined() || k.isNull())
        return true;
    if (!k.isObject()) {
        *problem = QCoreApplication::translate("Station", "%1 不是对象").arg(QStringLiteral("k"));
        return false;
    }
    const QJsonObject ko = k.toObject();
    if (!optionalNumber(ko, "low", QStringLiteral("k"), &set->kLow, problem) || !optionalNumber(ko, "high", QStringLiteral("k"), &set->kHigh, problem))
        return false;
    if (set->kLow > set->kHigh) {
        *problem = QCoreApplication::translate("Station", "%1.low（%2）高于 high（%3）").arg(QStringLiteral("k")).arg(set->kLow).arg(set->kHigh);
        return false;
    }
    return true;
}

QJsonObject jsonOf(const Bound &b)
{
    QJsonObject o;
    if (!b.set)
        return o;
    if (b.relative) {
        o.insert(QStringLiteral("reference"), b.reference);
        o.insert(QStringLiteral("percent"), b.percent);
    } else {
        o.insert(QStringLiteral("low"), b.low);
        o.insert(QStringLiteral("high"), b.high);
    }
    return o;
}

} // namespace

meter::Limits limitsOf(const LimitSet &set)
{
    meter::Limits limits;
    limits.byWhatIsSet = true;
    auto number = [](double value) { return meter::Limit {meter::Limit::Number, value}; };
    if (set.r.set)
        limits.rLow = number(set.r.lowValue()), limits.rHigh = number(set.r.highValue());
    if (set.v.set)
        limits.vLow = number(set.v.lowValue()), limits.vHigh = number(set.v.highValue());
    return limits;
}

meter::Verdict LimitSet::judge(double rMilliOhm, double volts, double k, QStringList *failed) const
{
    failed->clear();
    const bool kJudged = boundsK() && std::isfinite(k);
    if (!r.set && !v.set && !kJudged)
        return meter::Verdict::None;
    const double magnitude = std::fabs(volts);
    if (r.set && !(rMilliOhm >= r.lowValue() && rMilliOhm <= r.highValue()))
        *failed << QStringLiteral("R");
    if (v.set && !(magnitude >= v.lowValue() && magnitude <= v.highValue()))
        *failed << QStringLiteral("V");
    if (kJudged && ((std::isfinite(kLow) && k < kLow) || (std::isfinite(kHigh) && k > kHigh)))
        *failed << QStringLiteral("K");
    return failed->isEmpty() ? meter::Verdict::Pass : meter::Verdict::Ng;
}

meter::Verdict LimitSet::judge(double rMilliOhm, double volts) const
{
    if (!r.set && !v.set)
        return meter::Verdict::None;
    const double magnitude = std::fabs(volts);
    const bool rOut = r.set && !(rMilliOhm >= r.lowValue() && rMilliOhm <= r.highValue());
    const bool vOut = v.set && !(magnitude >= v.lowValue() && magnitude <= v.highValue());
    return rOut || vOut ? meter::Verdict::Ng : meter::Verdict::Pass;
}

const Grade *LimitSet::grade(const QString &name) const
{
    for (const Grade &g : grades)
        if (g.name == name)
            return &g;
    return nullptr;
}

QString LimitSet::gradeFor(double rMilliOhm, meter::Verdict verdict, double k) const
{
    if (verdict == meter::Verdict::None)
        return QString();
    if (verdict == meter::Verdict::Ng)
        return QStringLiteral("NG");
    auto inK = [k](const Grade &g) {
        return !g.bandsK() || (std::isfinite(k) && !(std::isfinite(g.kLow) && k < g.kLow) && !(std::isfinite(g.kHigh) && k > g.kHigh));
    };
    for (const Grade &g : grades)
        if (rMilliOhm >= g.rLow && rMilliOhm <= g.rHigh && inK(g))
            return g.name;
    return QString();
}

bool LimitSetStore::load(const QString &path, QString *error)
{
    m_sets.clear();
    m_passwordHash.clear();
    if (fileKind(path) == FileKind::Missing)
        return true;
    QFile file;
    if (!openRegularFile(file, path, QIODevice::ReadOnly, error))
        return false;
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(16 << 20), &parse);
    if (!doc.isObject()) {
        if (error)
            *error = QCoreApplication::translate("Station", "%1：%2（第 %3 字节）").arg(path, parse.errorString()).arg(parse.offset);
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonObject lock = root.value(QLatin1String("editLock")).toObject();
    if (!lock.isEmpty()) {
        m_passwordHash = lock.value(QLatin1String("pbkdf2Sha256")).toString();
        m_salt = QByteArray::fromHex(lock.value(QLatin1String("salt")).toString().toLatin1());
        m_iterations = lock.value(QLatin1String("iterations")).toInt();
        if (m_passwordHash.isEmpty() || m_salt.isEmpty() || m_iterations <= 0)
            m_passwordHash = QStringLiteral("!"); // a lock that is broken stays locked
    } else {
        m_passwordHash = root.value(QLatin1String("editPasswordSha256")).toString();
        m_salt.clear();
        m_iterations = 0;
    }
    // Each set is taken whole or refused with the field that is wrong; the
    // good sets still load.
    QStringList problems;
    int index = 0;
    for (const QJsonValue &v : root.value(QLatin1String("sets")).toArray()) {
        ++index;
        const QJsonObject o = v.toObject();
        LimitSet set;
        set.name = o.value(QLatin1String("name")).toString().trimmed();
        const QString who = set.name.isEmpty() ? QCoreApplication::translate("Station", "第 %1 组").arg(index) : QStringLiteral("“%1”").arg(set.name);
        QString problem;
        if (set.name.isEmpty())
            problem = QCoreApplication::translate("Station", "name 缺少或不是文字");
        else if (find(set.name))
            problem = QCoreApplication::translate("Station", "与前面的组同名");
        else if (boundOf(o.value(QLatin1String("r")), QStringLiteral("r"), &set.r, &problem)
                 && boundOf(o.value(QLatin1String("v")), QStringLiteral("v"), &set.v, &problem)
                 && selfDischargeOf(o, &set, &problem)) {
            const QJsonValue grades = o.value(QLatin1String("grades"));
            if (!grades.isUndefined() && !grades.isArray())
                problem = QCoreApplication::translate("Station", "grades 不是数组");
            int g = 0;
            for (const QJsonValue &gv : grades.toArray()) {
                const QJsonObject go = gv.toObject();
                const QString where = QStringLiteral("grades[%1]").arg(g++);
                Grade grade;
                grade.name = go.value(QLatin1String("name")).toString();
                if (!go.value(QLatin1String("name")).isString() || grade.name.isEmpty()) {
                    problem = QCoreApplication::translate("Station", "%1.name 缺少或不是文字").arg(where);
                    break;
                }
                if (!numberOf(go, "rLow", where, &grade.rLow, &problem) || !numberOf(go, "rHigh", where, &grade.rHigh, &problem))
                    break;
                if (grade.rLow > grade.rHigh) {
                    problem = QCoreApplication::translate("Station", "%1.rLow 高于 rHigh").arg(where);
                    break;
                }
                if (!optionalNumber(go, "kLow", where, &grade.kLow, &problem) || !optionalNumber(go, "kHigh", where, &grade.kHigh, &problem))
                    break;
                if (grade.kLow > grade.kHigh) {
                    problem = QCoreApplication::translate("Station", "%1.kLow 高于 kHigh").arg(where);
                    break;
                }
                for (const auto &[key, into] : {std::pair<const char *, QString *>("bin", &grade.bin), {"colour", &grade.colour}}) {
                    const QJsonValue value = go.value(QLatin1String(key));
                    if (!value.isUndefined() && !value.isString())
                        problem = QCoreApplication::translate("Station", "%1.%2 不是文字").arg(where, QLatin1String(key));
                    *into = value.toString().trimmed();
                }
                if (!problem.isEmpty())
                    break;
                set.grades.append(grade);
            }
        }
        if (problem.isEmpty())
            put(set);
        else
            problems << QCoreApplication::translate("Station", "限值组%1未载入：%2").arg(who, problem);
    }
    if (problems.isEmpty())
        return true;
    if (error)
        *error = punctuation::reason(path, punctuation::clauses(problems));
    return false;
}

bool LimitSetStore::save(const QString &path, QString *error) const
{
    QJsonArray sets;
    for (const LimitSet &set : m_sets) {
        QJsonObject o;
        o.insert(QStringLiteral("name"), set.name);
        o.insert(QStringLiteral("r"), jsonOf(set.r));
        o.insert(QStringLiteral("v"), jsonOf(set.v));
        QJsonArray grades;
        for (const Grade &g : set.grades) {
            QJsonObject grade{{QStringLiteral("name"), g.name}, {QStringLiteral("rLow"), g.rLow}, {QStringLiteral("rHigh"), g.rHigh}};
            if (!g.bin.isEmpty())
                grade.insert(QStringLiteral("bin"), g.bin);
            if (!g.colour.isEmpty())
                grade.insert(QStringLiteral("colour"), g.colour);
            for (const auto &[key, value] : {std::pair<const char *, double>("kLow", g.kLow), {"kHigh", g.kHigh}})
                if (std::isfinite(value))
                    grade.insert(QLatin1String(key), value);
            grades.append(grade);
        }
        o.insert(QStringLiteral("grades"), grades);
        // Written only when set: a file without K reads as it did.
        for (const auto &[key, text] : {std::pair<const char *, QString>("stage", set.stage), {"kFrom", set.kFrom}, {"ngBin", set.ngBin}})
            if (!text.isEmpty())
                o.insert(QLatin1String(key), text);
        if (set.minRestDays > 0)
            o.insert(QStringLiteral("minRestDays"), set.minRestDays);
        if (set.kMissingPasses)
            o.insert(QStringLiteral("kMissing"), QStringLiteral("pass"));
        if (set.retestNg)
            o.insert(QStringLiteral("retestNg"), true);
        if (set.boundsK()) {
            QJsonObject k;
            for (const auto &[key, value] : {std::pair<const char *, double>("low", set.kLow), {"high", set.kHigh}})
                if (std::isfinite(value))
                    k.insert(QLatin1String(key), value);
            o.insert(QStringLiteral("k"), k);
        }
        sets.append(o);
    }
    QJsonObject root;
    if (!m_passwordHash.isEmpty() && m_iterations > 0)
        root.insert(QStringLiteral("editLock"), QJsonObject{{QStringLiteral("pbkdf2Sha256"), m_passwordHash},
                                                           {QStringLiteral("salt"), QString::fromLatin1(m_salt.toHex())},
                                                           {QStringLiteral("iterations"), m_iterations}});
    else if (!m_passwordHash.isEmpty())
        root.insert(QStringLiteral("editPasswordSha256"), m_passwordHash);
    root.insert(QStringLiteral("sets"), sets);
    return saveFileAtomically(path, QJsonDocument(root).toJson(QJsonDocument::Indented), error);
}

const LimitSet *LimitSetStore::find(const QString &name) const
{
    for (const LimitSet &set : m_sets)
        if (set.name == name.trimmed())
            return &set;
    return nullptr;
}

void LimitSetStore::put(const LimitSet &set)
{
    for (LimitSet &old : m_sets) {
        if (old.name == set.name) {
            old = set;
            return;
        }
    }
    m_sets.append(set);
}

bool LimitSetStore::unlocks(const QString &password) const
{
    if (!locked())
        return true;
    return m_iterations > 0 ? pbkdf2(password, m_salt, m_iterations) == m_passwordHash
                            : sha256(password) == m_passwordHash;
}

void LimitSetStore::setPassword(const QString &password)
{
    if (password.isEmpty()) {
        m_passwordHash.clear();
        m_salt.clear();
        m_iterations = 0;
        return;
    }
    m_salt.resize(16);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(m_salt.data()), 4);
    m_iterations = kIterations;
    m_passwordHash = pbkdf2(password, m_salt, m_iterations);
}

} // namespace station
