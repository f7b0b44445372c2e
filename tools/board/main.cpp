// zentrel-board: every station of the plant live in a browser, from the
// plant database. Headless; serves one page and its changes. See --help and
// docs/board.md.
#include "board/live.h"
#include "board/server.h"
#include "platform/termination.h"
#include "plantdb/conninfo.h"
#include "board/connections.h"
#include "settings/language.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>
#include <thread>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "zentrel-board: %s\n", qPrintable(text));
    std::fflush(stderr);
}

qint64 localDayStart(qint64 ms)
{
    return QDateTime(QDateTime::fromMSecsSinceEpoch(ms).date(), QTime(0, 0)).toMSecsSinceEpoch();
}

bool seconds(const QCommandLineParser &parser, const QCommandLineOption &option, qint64 *ms)
{
    bool ok = false;
    const double s = parser.value(option).toDouble(&ok);
    if (!ok || !(s > 0))
        return false;
    *ms = qint64(s * 1000);
    return true;
}

// host:port, [v6]:port or a port alone (on 127.0.0.1).
bool parseListen(const QString &text, QString *host, int *port)
{
    const int colon = text.lastIndexOf(':');
    QString h = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
    if (h.startsWith('[') && h.endsWith(']'))
        h = h.mid(1, h.size() - 2);
    bool ok = false;
    const int p = text.mid(colon + 1).toInt(&ok);
    *host = h;
    *port = p;
    return ok && p >= 0 && p <= 65535 && !h.isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrel-board"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The line board: every station of the plant database live in a browser."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dbOpt("db", "The plant database, as libpq takes it (a read-only role is enough).", "conninfo");
    const QCommandLineOption listenOpt("listen", "Where to serve: host:port (default 127.0.0.1:8080; port 0: any free one).", "address",
                                       "127.0.0.1:8080");
    const QCommandLineOption langOpt("lang", "The page's language until its own switch is used: zh_CN (default) or en.", "language",
                                     "zh_CN");
    const QCommandLineOption certOpt("tls-cert", "Serve HTTPS with this certificate (PEM).", "file");
    const QCommandLineOption keyOpt("tls-key", "The certificate's key (PEM).", "file");
    const QCommandLineOption plainOpt("plain-http", "Serve plain HTTP on an address other machines reach (on a network you trust).");
    const QCommandLineOption tokenOpt("token-file", "Ask every browser for the token this file holds (its first line).", "file");
    const QCommandLineOption idleOpt("idle-after", "A station without a reading for this many seconds is idle (default 60).", "seconds",
                                     "60");
    const QCommandLineOption awayOpt("away-after", "... and away after this many (default 900).", "seconds", "900");
    parser.addOptions({dbOpt, listenOpt, langOpt, certOpt, keyOpt, plainOpt, tokenOpt, idleOpt, awayOpt});
    parser.process(app);

    if (!parser.isSet(dbOpt)) {
        say(QStringLiteral("give --db (--help)"));
        return 2;
    }
    if (plantdb::conninfoHasPassword(parser.value(dbOpt).toUtf8())) {
        say(QStringLiteral("--db holds a password, which every user can read (ps); put it in ~/.pgpass or the file PGPASSFILE names"));
        return 2;
    }
    language::Language lang;
    QString error;
    if (!language::parseOption(parser.value(langOpt), &lang, &error)) {
        say(error);
        return 2;
    }
    board::ServerSettings server;
    if (!parseListen(parser.value(listenOpt), &server.host, &server.port)) {
        say(QStringLiteral("--listen %1: give host:port (127.0.0.1:8080)").arg(parser.value(listenOpt)));
        return 2;
    }
    server.certFile = parser.value(certOpt);
    server.keyFile = parser.value(keyOpt);
    if (server.certFile.isEmpty() != server.keyFile.isEmpty()) {
        say(QStringLiteral("--tls-cert and --tls-key go together"));
        return 2;
    }
    if (!server.certFile.isEmpty()) {
        const QString fault = board::Connections::certificateFault(server.certFile);
        if (!fault.isEmpty()) {
            say(fault);
            return 2;
        }
    }
    if (!board::isLoopback(server.host) && server.certFile.isEmpty() && !parser.isSet(plainOpt)) {
        say(QStringLiteral("--listen %1 reaches other machines: give --tls-cert and --tls-key, or --plain-http on a network you trust")
                .arg(parser.value(listenOpt)));
        return 2;
    }
    if (parser.isSet(tokenOpt)) {
        QFile f(parser.value(tokenOpt));
        if (!f.open(QIODevice::ReadOnly)) {
            say(QStringLiteral("--token-file %1: %2").arg(f.fileName(), f.errorString()));
            return 2;
        }
        server.token = f.readLine().trimmed();
        // It travels in an address and a cookie: letters, digits and - . _ ~ only.
        static const QRegularExpression kTokenChars(QStringLiteral("^[A-Za-z0-9._~-]{16,}$"));
        if (!kTokenChars.match(QString::fromLatin1(server.token)).hasMatch()) {
            say(QStringLiteral("--token-file %1: its first line holds no token of 16 characters or more (letters, digits, - . _ ~)")
                    .arg(f.fileName()));
            return 2;
        }
    }
    board::LiveSettings live;
    live.conninfo = server.conninfo = parser.value(dbOpt);
    if (!seconds(parser, idleOpt, &live.timing.idleMs) || !seconds(parser, awayOpt, &live.timing.awayMs)) {
        say(QStringLiteral("--idle-after and --away-after take seconds above 0"));
        return 2;
    }
    live.nowMs = server.nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    live.dayStartMs = server.dayStartMs = localDayStart;
    server.language = language::code(lang);

    board::Live board(live);
    board::Server http(board, server);
    if (!http.bind(&error)) {
        say(error);
        return 1;
    }
    board.start();
    std::thread serving([&http] { http.serve(); });
    say(QStringLiteral("serving %1://%2:%3/ (the plant database: %4)")
            .arg(server.certFile.isEmpty() ? "http" : "https", server.host.contains(':') ? '[' + server.host + ']' : server.host)
            .arg(http.port())
            .arg(parser.value(dbOpt)));
    // The database's trouble said once when it starts and once when it ends.
    QTimer watch;
    QString said;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        const QString now = board.trouble();
        if (now != said)
            say(now.isEmpty() ? QStringLiteral("database reachable again") : now);
        said = now;
    });
    watch.start(1000);
    TerminationWatcher termination;
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &app, [&] { app.quit(); });
    const int rc = app.exec();
    // The pages' event streams wait on the board: stopped first, they end at once.
    http.stop();
    board.stop();
    serving.join();
    say(QStringLiteral("stopped"));
    return rc;
}
