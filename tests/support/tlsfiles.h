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

} // namespace testsupport

#endif // TESTSUPPORT_TLSFILES_H
