#include "options.h"

#include "platform/serialdevice.h"

#include <QCommandLineParser>
#include <QHostAddress>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void refuse(const QString &text)
{
    std::fprintf(stderr, "zentrel: %s\n", qPrintable(text));
    std::exit(2);
}

// QCommandLineParser::helpText() needs an application object.
QString helpText(const QString &description, const QList<QCommandLineOption> &options)
{
    QString text = QStringLiteral("Usage: zentrel [options]\n%1\n\nOptions:\n").arg(description);
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

} // namespace

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

StartOptions parseStartOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Zentrel: client of a battery internal-resistance meter."));
    const QCommandLineOption helpOpt({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays help on commandline options."));
    const QCommandLineOption versionOpt({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Displays version information."));
    const QCommandLineOption portOpt(QStringLiteral("port"),
                                     QStringLiteral("Open this serial port at start, as if 打开串口 were pressed."),
                                     QStringLiteral("name"));
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
                                     QStringLiteral("Baud rate for --port (default: the restored or initial rate)."),
                                     QStringLiteral("rate"));
    const QCommandLineOption dirOpt(QStringLiteral("journal-dir"),
                                    QStringLiteral("Folder of the journal of readings."), QStringLiteral("dir"));
    const QCommandLineOption noJournalOpt(QStringLiteral("no-journal"), QStringLiteral("Keep no journal."));
    const QCommandLineOption stationOpt(QStringLiteral("station"),
                                        QStringLiteral("Station mode: one record per cell, with its ID, grade and the lot's statistics."));
    const QCommandLineOption mqttOpt(QStringLiteral("mqtt"),
                                     QStringLiteral("Publish every reading and record to this MQTT broker."),
                                     QStringLiteral("host[:port]"));
    const QList<QCommandLineOption> all = {helpOpt, versionOpt, portOpt, baudOpt, dirOpt, noJournalOpt, stationOpt, mqttOpt};
    parser.addOptions(all);
    // Qt's own --help and --version need an application object, and a
    // QApplication needs a display: these are answered here instead.
    if (!parser.parse(arguments))
        refuse(parser.errorText());
    if (parser.isSet(helpOpt)) {
        std::fputs(qPrintable(helpText(parser.applicationDescription(), all)), stdout);
        std::exit(0);
    }
    if (parser.isSet(versionOpt)) {
        std::printf("zentrel %s\n", ZENTREL_VERSION);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        refuse(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    StartOptions options;
    options.port = parser.value(portOpt);
    for (const QChar c : qAsConst(options.port))
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            refuse(QStringLiteral("--port: the name holds a line break or control character (U+%1)")
                       .arg(int(c.unicode()), 4, 16, QLatin1Char('0')));
    if (!options.port.isEmpty()) {
        // Something there that is no serial line never becomes one: refused
        // now rather than waited for.
        const QString problem = notASerialDevice(options.port);
        if (!problem.isEmpty())
            refuse(QStringLiteral("--port %1: %2").arg(options.port, problem));
    }
    options.journalDir = parser.value(dirOpt);
    options.noJournal = parser.isSet(noJournalOpt);
    options.station = parser.isSet(stationOpt);
    if (parser.isSet(mqttOpt)) {
        QString reason;
        if (!parseHostPort(parser.value(mqttOpt), &options.mqttHost, &options.mqttPort, &reason))
            refuse(QStringLiteral("--mqtt %1").arg(reason));
    }
    if (parser.isSet(baudOpt)) {
        bool ok = false;
        options.baud = parser.value(baudOpt).toInt(&ok);
        if (!ok || options.baud <= 0)
            refuse(QStringLiteral("--baud %1 is not a baud rate").arg(parser.value(baudOpt)));
    }
    return options;
}
