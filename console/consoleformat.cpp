#include "consoleformat.h"

#include <QCoreApplication>

#include "notation.h"

#include <QDateTime>

#include <cstdio>

namespace console {

QString lineLabel(int type)
{
    switch (type) {
    case Sent: return QCoreApplication::translate("Console", "发送");
    case SendFailed: return QCoreApplication::translate("Console", "发送失败");
    case ListenFailed: return QCoreApplication::translate("Console", "监听失败");
    case Notice: return QCoreApplication::translate("Console", "提示");
    default: return QCoreApplication::translate("Console", "接收");
    }
}

QString lineColour(int type)
{
    if (type == Notice)
        return QStringLiteral("blue");
    return type == Sent ? QStringLiteral("darkgreen") : QStringLiteral("red");
}

bool alwaysShown(int type)
{
    return type == SendFailed || type == ListenFailed || type == Notice;
}

QString formatLine(const QTime &time, int type, const QString &data)
{
    QString clean = data;
    clean.remove(QLatin1Char('\r'));
    clean.remove(QLatin1Char('\n'));
    // One multi-argument arg(): placeholders inside the data stay as they are.
    // The time as "HH:mm:ss zzz", by hand: QTime::toString goes through the
    // calendar and the locale for every line of a flood.
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d %03d", time.hour(), time.minute(), time.second(), time.msec());
    return QCoreApplication::translate("Console", "时间[%1] %2: %3").arg(QLatin1String(stamp), lineLabel(type), clean);
}

QString payloadText(const QByteArray &payload, bool hex, bool escaped)
{
    if (hex)
        return bytesToHexText(payload);
    if (escaped)
        return bytesToEscapedText(payload);
    const int zero = payload.indexOf('\0');
    return QString::fromUtf8(payload.constData(), zero < 0 ? payload.size() : zero);
}

QString datagramLine(const QString &peer, int port, const QString &payloadText)
{
    return QStringLiteral("[%1:%2] %3").arg(peer, QString::number(port), payloadText);
}

namespace {

QString hexRefusal(const QString &text)
{
    const QStringList groups = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &group : groups) {
        for (const QChar c : group) {
            const bool digit = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                               || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
                               || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
            if (!digit)
                return QCoreApplication::translate("Console", "十六进制数据含非法字符“%1”，未发送").arg(c);
        }
        if (group.size() % 2 != 0)
            return QCoreApplication::translate("Console", "十六进制数据“%1”的位数为奇数，未发送").arg(group);
    }
    return QString();
}

} // namespace

Outgoing encodeOutgoing(const QString &text, bool hex, bool escaped)
{
    Outgoing out;
    if (hex) {
        out.refusal = hexRefusal(text);
        if (out.refusal.isEmpty())
            out.bytes = hexTextToBytes(text);
    } else if (escaped) {
        // Escaped text stands for bytes: a character beyond Latin-1 has no
        // byte of its own and would go out as "?" while shown as typed.
        for (const QChar c : text) {
            if (c.unicode() > 0xFF) {
                out.refusal = QCoreApplication::translate("Console", "字符“%1”不是单字节字符，ASCII 模式下无法发送；未发送").arg(c);
                return out;
            }
        }
        out.bytes = escapedTextToBytes(text);
    } else {
        out.bytes = text.toUtf8();
    }
    return out;
}

TypedPort parsePort(const QString &text)
{
    // Only a plain whole number of ASCII digits is a port: "abc", "0x50",
    // full-width digits or twenty digits would otherwise bind a random port.
    TypedPort port;
    const QString trimmed = text.trimmed();
    bool digits = !trimmed.isEmpty() && trimmed.size() <= 9;
    for (const QChar c : trimmed)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (!digits) {
        port.valid = false;
        return port;
    }
    port.value = trimmed.toInt();
    port.valid = port.value <= 65535;
    return port;
}

QString saveFileName(const QString &folder, const QDateTime &when)
{
    return QStringLiteral("%1/%2.txt").arg(folder, when.toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss")));
}

QTime LineClock::now()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms / 1000;
    if (second != m_second) {
        m_second = second;
        m_start = QDateTime::fromMSecsSinceEpoch(second * 1000).time();
    }
    return m_start.addMSecs(int(ms - second * 1000));
}

} // namespace console
