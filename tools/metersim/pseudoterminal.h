#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include <QByteArray>
#include <QString>

// The meter's side of a virtual serial line: the master of a pseudo-terminal
// in raw mode. The program opens the slave side (or a symbolic link to it)
// as if it were a serial port.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open(QString *error = nullptr);
    bool isOpen() const { return m_fd >= 0; }
    QString slavePath() const { return m_slavePath; }
    // Makes linkPath a symbolic link to the slave; a stale link there is replaced.
    bool createLink(const QString &linkPath, QString *error = nullptr);
    QString linkPath() const { return m_linkPath; }
    int fd() const { return m_fd; }
    // Whether a program has the other side open.
    bool readerAttached() const;

    // Writes all bytes, waiting while the line is full (up to timeoutMs).
    bool writeAll(const QByteArray &bytes, int timeoutMs = 5000);
    // Bytes the program sent, waiting up to timeoutMs for the first of them.
    QByteArray read(int timeoutMs);
    // Hangs the line up, as an unplugged meter would.
    void close();

private:
    int m_fd = -1;
    QString m_slavePath;
    QString m_linkPath;
};

#endif // PSEUDOTERMINAL_H
