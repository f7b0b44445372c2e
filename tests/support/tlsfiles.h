#ifndef TESTSUPPORT_TLSFILES_H
#define TESTSUPPORT_TLSFILES_H

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace testsupport {

// In folder: ca.crt (a test CA), server.crt/server.key (signed by it, for
// 127.0.0.1 only) and other.crt (a CA that signed nothing). False when
// openssl is missing or fails.
inline bool makeTlsFiles(const QString &folder)
{
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty())
        return false;
    auto run = [&](const QStringList &args) {
        QProcess p;
        p.setWorkingDirectory(folder);
        p.start(openssl, args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    QFile ext(folder + "/ext.cnf");
    if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=IP:127.0.0.1\n") <= 0)
        return false;
    ext.close();
    return run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj", "/CN=Test CA"})
           && run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"})
           && run({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial", "-out", "server.crt",
                   "-days", "2", "-extfile", "ext.cnf"})
           && run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other.key", "-out", "other.crt", "-days", "2", "-subj",
                   "/CN=Other CA"});
}

// Beside makeTlsFiles' files, server certificates a plant meets on a bad
// day, all with server.key: expired.crt (the test CA's for 127.0.0.1, valid
// only on 2020-01-01; made under faketime), foreign.crt (for 127.0.0.1,
// signed by the other CA), elsewhere.crt (the test CA's, for another name),
// selfsigned.crt (for 127.0.0.1, signed by itself); and client certificates:
// client.crt/client.key (the test CA's), stranger.crt/stranger.key (the
// other CA's). False when openssl or faketime is missing or fails.
inline bool makeFaultyTlsFiles(const QString &folder)
{
    const QString openssl = QStandardPaths::findExecutable("openssl");
    const QString faketime = QStandardPaths::findExecutable("faketime");
    if (openssl.isEmpty() || faketime.isEmpty())
        return false;
    auto run = [&](const QStringList &args, const QString &at = QString()) {
        QProcess p;
        p.setWorkingDirectory(folder);
        if (at.isEmpty())
            p.start(openssl, args);
        else
            p.start(faketime, QStringList {at, openssl} + args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    QFile other(folder + "/elsewhere.cnf");
    if (!other.open(QIODevice::WriteOnly) || other.write("subjectAltName=DNS:elsewhere.example\n") <= 0)
        return false;
    other.close();
    auto sign = [&](const QString &out, const QString &ca, const QString &ext, const QString &at = QString()) {
        return run({"x509", "-req", "-in", "server.csr", "-CA", ca + ".crt", "-CAkey", ca + ".key", "-CAcreateserial", "-out", out,
                    "-days", "1", "-extfile", ext},
                   at);
    };
    auto client = [&](const QString &name, const QString &ca) {
        return run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name})
               && run({"x509", "-req", "-in", name + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key", "-CAcreateserial", "-out",
                       name + ".crt", "-days", "2"});
    };
    return sign("expired.crt", "ca", "ext.cnf", "2020-01-01 00:00:00") && sign("foreign.crt", "other", "ext.cnf")
           && sign("elsewhere.crt", "ca", "elsewhere.cnf")
           && run({"req", "-x509", "-key", "server.key", "-out", "selfsigned.crt", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1"})
           && client("client", "ca") && client("stranger", "other");
}

} // namespace testsupport

#endif // TESTSUPPORT_TLSFILES_H
