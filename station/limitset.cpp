#include "limitset.h"

#include "platform/regularfile.h"
#include "storage/textfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace station {

namespace {

QString sha256(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

Bound boundOf(const QJsonValue &value)
{
    Bound b;
    const QJsonObject o = value.toObject();
    if (o.contains(QLatin1String("reference")) && o.contains(QLatin1String("percent"))) {
        b.set = true;
        b.relative = true;
        b.reference = o.value(QLatin1String("reference")).toDouble();
        b.percent = o.value(QLatin1String("percent")).toDouble();
    } else if (o.contains(QLatin1String("low")) && o.contains(QLatin1String("high"))) {
        b.set = true;
        b.low = o.value(QLatin1String("low")).toDouble();
        b.high = o.value(QLatin1String("high")).toDouble();
    }
    return b;
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

QString LimitSet::gradeFor(double rMilliOhm, bool pass) const
{
    if (!pass)
        return QStringLiteral("NG");
    for (const Grade &g : grades)
        if (rMilliOhm >= g.rLow && rMilliOhm <= g.rHigh)
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
            *error = QStringLiteral("%1：%2（第 %3 字节）").arg(path, parse.errorString()).arg(parse.offset);
        return false;
    }
    const QJsonObject root = doc.object();
    m_passwordHash = root.value(QLatin1String("editPasswordSha256")).toString();
    for (const QJsonValue &v : root.value(QLatin1String("sets")).toArray()) {
        const QJsonObject o = v.toObject();
        LimitSet set;
        set.name = o.value(QLatin1String("name")).toString().trimmed();
        if (set.name.isEmpty())
            continue;
        set.r = boundOf(o.value(QLatin1String("r")));
        set.v = boundOf(o.value(QLatin1String("v")));
        for (const QJsonValue &g : o.value(QLatin1String("grades")).toArray()) {
            const QJsonObject go = g.toObject();
            set.grades.append({go.value(QLatin1String("name")).toString(), go.value(QLatin1String("rLow")).toDouble(),
                               go.value(QLatin1String("rHigh")).toDouble()});
        }
        put(set);
    }
    return true;
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
        for (const Grade &g : set.grades)
            grades.append(QJsonObject{{QStringLiteral("name"), g.name}, {QStringLiteral("rLow"), g.rLow},
                                      {QStringLiteral("rHigh"), g.rHigh}});
        o.insert(QStringLiteral("grades"), grades);
        sets.append(o);
    }
    QJsonObject root;
    if (!m_passwordHash.isEmpty())
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
    return !locked() || sha256(password) == m_passwordHash;
}

void LimitSetStore::setPassword(const QString &password)
{
    m_passwordHash = password.isEmpty() ? QString() : sha256(password);
}

} // namespace station
