#ifndef CONSOLEFORMAT_H
#define CONSOLEFORMAT_H

#include <QByteArray>
#include <QString>
#include <QTime>

// What the UDP console shows and sends, without widgets or sockets.
namespace console {

enum LineType {
    Sent = 0,          // "发送", also the listen confirmation
    Received = 1,      // "接收"
    SendFailed = 2,    // "发送失败": nothing, or not all of it, went out
    ListenFailed = 3,  // "监听失败"
    Notice = 4,        // "提示": the program telling the operator something
};

// The program's own lines (failures, notices) are shown even while the
// console is paused; only traffic is held back.
bool alwaysShown(int type);

QString lineLabel(int type);
QString lineColour(int type);
// "时间[HH:mm:ss zzz] label: data", with every CR and LF removed from data.
QString formatLine(const QTime &time, int type, const QString &data);

// The local time of day, for stamping lines: the system's local-time
// conversion (which checks the zone file on every call on some systems) runs
// once a second rather than once a line.
class LineClock
{
public:
    QTime now();

private:
    qint64 m_second = -1;
    QTime m_start; // of m_second, local
};

// The payload of a datagram as shown: hex text, escaped text, or the bytes up
// to the first zero byte as UTF-8.
QString payloadText(const QByteArray &payload, bool hex, bool escaped);
QString datagramLine(const QString &peer, int port, const QString &payloadText);

struct Outgoing
{
    QByteArray bytes;
    QString refusal; // why nothing is sent; empty when the text is fine
};
// The bytes typed text stands for: hex text (refused unless every
// blank-separated group is an even number of hex digits), escaped text
// (refused when a character has no single byte), or plain text as UTF-8.
Outgoing encodeOutgoing(const QString &text, bool hex, bool escaped);

// A typed listen port: valid only when the trimmed text is a whole number of
// ASCII digits from 0 to 65535.
struct TypedPort
{
    int value = 0;
    bool valid = true;
};
TypedPort parsePort(const QString &text);

// The console file name for a moment: yyyy-MM-dd-HH-mm-ss.txt in folder.
QString saveFileName(const QString &folder, const QDateTime &when);

} // namespace console

#endif // CONSOLEFORMAT_H
