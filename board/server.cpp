#include "board/server.h"

#include "board/stationpage.h"
#include "board/texts.h"
#include "plantdb/boarddb.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace board {

namespace {

constexpr int kKeepAliveMs = 15000;   // a comment this often: a page gone is noticed
constexpr int kPoolSize = 4;          // connections for the stations' pages
constexpr int kPoolWaitMs = 10000;    // a page waits this long for one
constexpr int kSliceMs = 500;         // an event stream looks this often whether its page is still there

const char *const kPolicy = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
                            "font-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
const char *const kCookie = "zentrel_board";

struct Asset
{
    const char *path, *resource, *type;
};

const Asset kAssets[] = {
    {"/board.js", ":/board/board.js", "text/javascript; charset=utf-8"},
    {"/board.css", ":/board/board.css", "text/css; charset=utf-8"},
    {"/uPlot.iife.min.js", ":/board/uPlot.iife.min.js", "text/javascript; charset=utf-8"},
    {"/uPlot.min.css", ":/board/uPlot.min.css", "text/css; charset=utf-8"},
};

QByteArray resource(const char *name)
{
    QFile f(QString::fromLatin1(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Compared in constant time: no answer tells how much of a guess was right.
bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    const QByteArray ha = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray hb = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    unsigned char diff = 0;
    for (int i = 0; i < ha.size(); ++i)
        diff |= static_cast<unsigned char>(ha[i] ^ hb[i]);
    return diff == 0;
}

QByteArray cookieValue(const httplib::Request &req)
{
    const QList<QByteArray> parts = QByteArray::fromStdString(req.get_header_value("Cookie")).split(';');
    for (const QByteArray &part : parts) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(QByteArray(kCookie) + '='))
            return p.mid(int(qstrlen(kCookie)) + 1);
    }
    return QByteArray();
}

void sendJson(httplib::Response &res, const QByteArray &json)
{
    res.set_header("Cache-Control", "no-store");
    res.set_content(json.constData(), std::size_t(json.size()), "application/json; charset=utf-8");
}

void sendText(httplib::Response &res, int status, const QString &text)
{
    res.status = status;
    res.set_content(text.toStdString() + "\n", "text/plain; charset=utf-8");
}

} // namespace

// The stations' pages' connections: a fixed few, waited on, so that busy
// boards never take the connections the ingest needs. A connection the
// server dropped (a restart) is found out at its first question and
// replaced once, before the page is told anything.
struct Server::Pool
{
    QString conninfo;
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<std::unique_ptr<plantdb::BoardDb>> idle;
    int lent = 0;

    // One within waitMs (made when none is idle and fewer than kPoolSize are
    // out); null when none came.
    std::unique_ptr<plantdb::BoardDb> take(int waitMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!freed.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !idle.empty() || lent < kPoolSize; }))
            return nullptr;
        ++lent;
        if (!idle.empty()) {
            std::unique_ptr<plantdb::BoardDb> db = std::move(idle.back());
            idle.pop_back();
            return db;
        }
        lock.unlock();
        return fresh();
    }
    std::unique_ptr<plantdb::BoardDb> fresh() { return std::make_unique<plantdb::BoardDb>(plantdb::connect(conninfo, "zentrel-board")); }
    void give(std::unique_ptr<plantdb::BoardDb> db)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            --lent;
            if (db && db->ok())
                idle.push_back(std::move(db));
        }
        freed.notify_one();
    }
    // A question on a connection of the pool, asked again once on a new
    // connection when the one it had was dead.
    template <typename Ask>
    bool ask(Ask question, int waitMs, QString *error)
    {
        std::unique_ptr<plantdb::BoardDb> db = take(waitMs);
        if (!db) {
            *error = QStringLiteral("the board's %1 database connections are all busy; try again").arg(kPoolSize);
            return false;
        }
        bool ok = db->ok() && question(*db, error);
        if (!ok && !db->ok()) {
            db = fresh();
            ok = db->ok() && question(*db, error);
        }
        if (!ok && !db->ok())
            *error = plantdb::failure(db->connection());
        give(std::move(db));
        return ok;
    }
};

bool isLoopback(const QString &host)
{
    if (host == QLatin1String("localhost"))
        return true;
    const QHostAddress a(host);
    return !a.isNull() && a.isLoopback();
}

Server::Server(Live &live, ServerSettings settings) : m_live(live), m_s(std::move(settings)), m_http(new Connections), m_pool(new Pool)
{
    m_pool->conninfo = m_s.conninfo;
    m_http->set_default_headers({{"Content-Security-Policy", kPolicy},
                                 {"X-Content-Type-Options", "nosniff"},
                                 {"Referrer-Policy", "no-referrer"},
                                 {"X-Frame-Options", "DENY"}});
    routes();
}

Server::~Server()
{
    stop();
}

bool Server::bind(QString *error)
{
    if (!m_s.certFile.isEmpty() && !m_http->useTls(m_s.certFile, m_s.keyFile, error))
        return false;
    m_port = m_http->bindTo(m_s.host, m_s.port);
    if (m_port <= 0) {
        *error = QStringLiteral("%1:%2: cannot listen there (in use, or no such address here)").arg(m_s.host).arg(m_s.port);
        return false;
    }
    return true;
}

void Server::serve()
{
    m_http->serve();
}

void Server::stop()
{
    if (m_http)
        m_http->halt();
}

void Server::routes()
{
    httplib::Server &http = *m_http;
    // Every request but the health check shows its token first.
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        Connections::headIn(); // what follows has no head's time limit
        if (m_s.token.isEmpty() || req.path == "/healthz")
            return httplib::Server::HandlerResponse::Unhandled;
        if (req.path == "/" && req.has_param("token")) {
            if (sameSecret(QByteArray::fromStdString(req.get_param_value("token")), m_s.token)) {
                res.set_header("Set-Cookie", std::string(kCookie) + "=" + m_s.token.toStdString()
                                                 + "; Path=/; HttpOnly; SameSite=Strict" + (m_s.certFile.isEmpty() ? "" : "; Secure"));
                res.set_redirect("/", 303);
                return httplib::Server::HandlerResponse::Handled;
            }
        } else if (sameSecret(cookieValue(req), m_s.token)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        sendText(res, 401, QStringLiteral("This board asks for its token: open its address once with ?token=… (the text of the board's --token-file)."));
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/healthz", [this](const httplib::Request &, httplib::Response &res) {
        sendText(res, 200, QStringLiteral("ok\npages %1 of %2, connections %3").arg(int(m_streams)).arg(m_s.maxStreams).arg(m_http->open()));
    });
    const QByteArray page = resource(":/board/index.html").replace("__LANG__", m_s.language.toUtf8());
    http.Get("/", [page](const httplib::Request &, httplib::Response &res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(page.constData(), std::size_t(page.size()), "text/html; charset=utf-8");
    });
    for (const Asset &a : kAssets) {
        const QByteArray body = resource(a.resource);
        const std::string type = a.type;
        http.Get(a.path, [body, type](const httplib::Request &, httplib::Response &res) {
            res.set_content(body.constData(), std::size_t(body.size()), type.c_str());
        });
    }
    const QByteArray texts = textsJson();
    http.Get("/api/texts", [texts](const httplib::Request &, httplib::Response &res) { sendJson(res, texts); });
    http.Get("/api/board", [this](const httplib::Request &, httplib::Response &res) { sendJson(res, m_live.snapshot()); });
    http.Get("/api/station", [this](const httplib::Request &req, httplib::Response &res) {
        const QString name = QString::fromStdString(req.get_param_value("name"));
        plantdb::StationDetail detail;
        QString error;
        const qint64 now = m_s.nowMs();
        const bool ok = m_pool->ask([&](plantdb::BoardDb &db, QString *why) { return db.detail(name, m_s.dayStartMs(now), now, &detail, why); },
                                    kPoolWaitMs, &error);
        if (!ok) {
            sendText(res, 503, error);
            return;
        }
        sendJson(res, stationJson(detail));
    });
    http.Get("/api/events", [this](const httplib::Request &, httplib::Response &res) {
        if (m_streams.fetch_add(1) >= m_s.maxStreams) {
            m_streams.fetch_sub(1);
            sendText(res, 503, QStringLiteral("too many open pages (%1)").arg(m_s.maxStreams));
            return;
        }
        res.set_header("Cache-Control", "no-store");
        auto seen = std::make_shared<quint64>(0);
        auto started = std::make_shared<bool>(false);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, seen, started](std::size_t, httplib::DataSink &sink) {
                QByteArray event;
                quint64 number = 0;
                if (!*started) {
                    *started = true;
                    event = m_live.snapshot(&number);
                } else {
                    // In slices: a page that has gone frees its slot at once.
                    bool came = false;
                    for (int waited = 0; !came && waited < kKeepAliveMs; waited += kSliceMs) {
                        if (m_live.stopping() || Connections::peerGone())
                            return false;
                        came = m_live.next(*seen, kSliceMs, &number, &event);
                    }
                    if (!came)
                        return sink.write(": still here\n\n", 14);
                }
                *seen = number;
                const QByteArray text = "retry: 2000\nid: " + QByteArray::number(number) + "\ndata: " + event + "\n\n";
                return sink.write(text.constData(), std::size_t(text.size()));
            },
            [this](bool) { m_streams.fetch_sub(1); });
    });
}

} // namespace board
