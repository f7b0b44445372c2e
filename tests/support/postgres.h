#ifndef POSTGRES_H
#define POSTGRES_H

// A PostgreSQL server of the test's own: a cluster made by initdb in a
// scratch folder, a free port on 127.0.0.1, stopped afterwards. PostgreSQL
// refuses to run as root; then the server runs as Debian's postgres user.
#include "broker.h" // freePort

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

class Postgres
{
public:
    Postgres() : m_port(freePort()) { m_dir.setAutoRemove(true); }
    ~Postgres() { stop(); }

    // initdb and pg_ctl from Debian's packages (the newest version there).
    static QString binDir()
    {
        const QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (int i = versions.size() - 1; i >= 0; --i) {
            const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(versions[i]);
            if (QFile::exists(bin + "/initdb") && QFile::exists(bin + "/pg_ctl"))
                return bin;
        }
        return QString();
    }

    bool start(QString *error)
    {
        const QString data = m_dir.filePath("data");
        if (!QFile::exists(data)) {
            if (::geteuid() == 0 && !run("chown", {"postgres:postgres", m_dir.path()}, error))
                return false;
            if (!run(binDir() + "/initdb", {"-D", data, "-U", "postgres", "--auth=trust", "-E", "UTF8", "--no-locale", "-N"}, error, true))
                return false;
        }
        if (!ctl({"start", "-w", "-t", "60", "-l", m_dir.filePath("log"),
                  "-o", QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1").arg(m_port).arg(m_dir.path())},
                 error))
            return false;
        if (!m_created) {
            m_created = psql("postgres", "CREATE DATABASE plant", error) != QStringLiteral("\x01");
            if (!m_created)
                return false;
        }
        return true;
    }
    // A streaming hot standby of a running primary (pg_basebackup -R over
    // loopback), read-only, started on this one's port.
    bool startAsStandbyOf(const Postgres &primary, QString *error)
    {
        const QString data = m_dir.filePath("data");
        if (::geteuid() == 0 && !run("chown", {"postgres:postgres", m_dir.path()}, error))
            return false;
        if (!run(binDir() + "/pg_basebackup", {"-h", "127.0.0.1", "-p", QString::number(primary.port()), "-U", "postgres", "-D", data,
                                               "-R", "-X", "stream", "-c", "fast"},
                 error, true))
            return false;
        m_created = true; // the primary's databases came with it
        return start(error);
    }
    bool stop(QString *error = nullptr)
    {
        return !QFile::exists(m_dir.filePath("data/postmaster.pid")) || ctl({"stop", "-w", "-m", "fast"}, error);
    }
    QString conninfo() const { return QStringLiteral("postgresql://postgres@127.0.0.1:%1/plant").arg(m_port); }
    quint16 port() const { return m_port; }

    // A query's output as psql -At prints it; "\x01" when it failed.
    QString psql(const QString &db, const QString &sql, QString *error = nullptr) const
    {
        QProcess p;
        p.start("psql", {"-X", "-At", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p", QString::number(m_port), "-U", "postgres",
                         "-d", db, "-c", sql});
        if (!p.waitForFinished(120000) || p.exitCode() != 0) {
            if (error)
                *error = QString::fromUtf8(p.readAllStandardError());
            return QStringLiteral("\x01");
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString query(const QString &sql, QString *error = nullptr) const { return psql("plant", sql, error); }

private:
    bool ctl(const QStringList &args, QString *error)
    {
        return run(binDir() + "/pg_ctl", QStringList {"-D", m_dir.filePath("data")} + args, error, true);
    }
    // As the postgres user when root.
    static bool run(const QString &program, const QStringList &args, QString *error, bool asServer = false)
    {
        QProcess p;
        if (asServer && ::geteuid() == 0)
            p.start("runuser", QStringList {"-u", "postgres", "--", program} + args);
        else
            p.start(program, args);
        if (!p.waitForFinished(120000) || p.exitCode() != 0) {
            if (error)
                *error = program + ": " + QString::fromUtf8(p.readAllStandardError() + p.readAllStandardOutput());
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir {QDir::temp().filePath("zentrel-pg-XXXXXX")};
    quint16 m_port;
    bool m_created = false;
};

#endif // POSTGRES_H
