#include "commandline.h"

#include <cerrno>
#include <cstdio>

#include <QHostAddress>

QString commandLineHelp(const QString &program, const QString &description, const QList<QCommandLineOption> &options)
{
    QString text = QStringLiteral("Usage: %1 [options]\n%2\n\nOptions:\n").arg(program, description);
    for (const QCommandLineOption &o : options) {
        QStringList names;
        for (const QString &name : o.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = names.join(QStringLiteral(", "));
        if (!o.valueName().isEmpty())
            left += QStringLiteral(" <%1>").arg(o.valueName());
        text += QStringLiteral("  %1  %2\n").arg(left, -26).arg(o.description());
    }
    return text;
}


QString portNameProblem(const QString &port)
{
    // A line break in a port name would break every journal line that names it.
    for (const QChar c : port)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return QStringLiteral("the name holds a line break or control character (U+%1)")
                .arg(int(c.unicode()), 4, 16, QLatin1Char('0'));
    return QString();
}

bool parseHostPort(const QString &text, QString *host, int *port, QString *reason)
{
    const QString value = text.trimmed();
    QString h = value, p;
    if (value.startsWith(QLatin1Char('['))) {
        const int close = value.indexOf(QLatin1Char(']'));
        if (close < 0) {
            *reason = QStringLiteral("%1: the IPv6 address lacks its closing ]").arg(value);
            return false;
        }
        h = value.mid(1, close - 1);
        const QString rest = value.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) {
                *reason = QStringLiteral("%1: expected :PORT after ]").arg(value);
                return false;
            }
            p = rest.mid(1);
        }
    } else if (value.count(QLatin1Char(':')) == 1) {
        const int colon = value.indexOf(QLatin1Char(':'));
        h = value.left(colon);
        p = value.mid(colon + 1);
    } else if (value.count(QLatin1Char(':')) > 1 && QHostAddress(value).protocol() != QAbstractSocket::IPv6Protocol) {
        *reason = QStringLiteral("%1: not an IPv6 address (write [ADDRESS]:PORT)").arg(value);
        return false;
    }
    if (h.trimmed().isEmpty()) {
        *reason = QStringLiteral("%1: the host is empty").arg(value);
        return false;
    }
    *host = h.trimmed();
    *port = 0;
    if (!p.isNull()) {
        bool ok = false;
        *port = p.toInt(&ok);
        if (!ok || *port < 1 || *port > 65535) {
            *reason = QStringLiteral("%1: the port is not a number from 1 to 65535").arg(value);
            return false;
        }
    }
    return true;
}


namespace {
int g_stdoutError = 0; // the reason of the first write to standard output that failed
} // namespace

void print(FILE *stream, const QByteArray &bytes)
{
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size()) && stream == stdout && g_stdoutError == 0)
        g_stdoutError = errno;
}

bool standardOutputWritten(QString *reason)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout))
        return true;
    const int code = errno != 0 ? errno : g_stdoutError;
    *reason = QStringLiteral("standard output: %1").arg(code != 0 ? qt_error_string(code) : QStringLiteral("write error"));
    return false;
}
