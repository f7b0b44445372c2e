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

#include <mutex>
#include <vector>

namespace board {

namespace {

constexpr int kThreads = 64;          // an open page holds one for its events
constexpr int kKeepAliveMs = 15000;   // a comment this often: a page gone is noticed
constexpr int kPoolSize = 4;          // connections for the stations' pages

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

struct Server::Pool
{
    QString conninfo;
    std::mutex mutex;
    std::vector<std::unique_ptr<plantdb::BoardDb>> idle;

    std::unique_ptr<plantdb::BoardDb> take()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            while (!idle.empty()) {
                std::unique_ptr<plantdb::BoardDb> db = std::move(idle.back());
                idle.pop_back();
                if (db->ok())
                    return db;
            }
        }
        return std::make_unique<plantdb::BoardDb>(plantdb::connect(conninfo, "zentrel-board"));
    }
    void give(std::unique_ptr<plantdb::BoardDb> db)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (db->ok() && idle.size() < std::size_t(kPoolSize))
            idle.push_back(std::move(db));
    }
};

bool isLoopback(const QString &host)
{
    if (host == QLatin1String("localhost"))
        return true;
    const QHostAddress a(host);
    return !a.isNull() && a.isLoopback();
}

Server::Server(Live &live, ServerSettings settings) : m_live(live), m_s(std::move(settings)), m_pool(new Pool)
{
    m_pool->conninfo = m_s.conninfo;
    if (!m_s.certFile.isEmpty())
        m_http.reset(new httplib::SSLServer(m_s.certFile.toLocal8Bit().constData(), m_s.keyFile.toLocal8Bit().constData()));
    else
        m_http.reset(new httplib::Server);
    m_http->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
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
    if (!m_s.certFile.isEmpty() && !static_cast<httplib::SSLServer *>(m_http.get())->is_valid()) {
        *error = QStringLiteral("TLS: %1 and %2 do not make a certificate and its key (PEM)").arg(m_s.certFile, m_s.keyFile);
        return false;
    }
    const std::string host = m_s.host.toStdString();
    if (m_s.port == 0)
        m_port = m_http->bind_to_any_port(host);
    else
        m_port = m_http->bind_to_port(host, m_s.port) ? m_s.port : -1;
    if (m_port <= 0) {
        *error = QStringLiteral("%1:%2: cannot listen there (in use, or no such address here)").arg(m_s.host).arg(m_s.port);
        return false;
    }
    return true;
}

void Server::serve()
{
    m_http->listen_after_bind();
}

void Server::stop()
{
    if (m_http)
        m_http->stop();
}

void Server::routes()
{
    httplib::Server &http = *m_http;
    // Every request but the health check shows its token first.
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
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
    http.Get("/healthz", [](const httplib::Request &, httplib::Response &res) { sendText(res, 200, QStringLiteral("ok")); });
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
        std::unique_ptr<plantdb::BoardDb> db = m_pool->take();
        plantdb::StationDetail detail;
        QString error;
        const qint64 now = m_s.nowMs();
        if (!db->ok() || !db->detail(name, m_s.dayStartMs(now), now, &detail, &error)) {
            sendText(res, 503, error.isEmpty() ? plantdb::failure(db->connection())
                                               : error);
            return;
        }
        m_pool->give(std::move(db));
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
                } else if (!m_live.next(*seen, kKeepAliveMs, &number, &event)) {
                    return !m_live.stopping() && sink.write(": still here\n\n", 14);
                }
                *seen = number;
                const QByteArray text = "retry: 2000\nid: " + QByteArray::number(number) + "\ndata: " + event + "\n\n";
                return sink.write(text.constData(), std::size_t(text.size()));
            },
            [this](bool) { m_streams.fetch_sub(1); });
    });
}

} // namespace board
