#include "quiwidget.h"

#include "console/notation.h"

#include "platform/demorandom.h"

#include <QApplication>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegExp>
#include <QTextCodec>
#include <QTime>
#include <QTranslator>

void QUIHelper::setLocaleCodecUtf8()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));
}

void QUIHelper::installTranslationFile(const QString &qmFile)
{
    // Installed even when loading fails: an empty translator is harmless and
    // keeps the order of lookups the same on every host.
    auto *translator = new QTranslator(qApp);
    translator->load(qmFile);
    qApp->installTranslator(translator);
}

void QUIHelper::seedRandomFromClock()
{
    const QTime t = QTime::currentTime();
    const uint seed = uint(t.msec() + t.second() * 1000);
    // Qt's own generator too, for anything that still draws from qrand().
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qsrand(seed);
    QT_WARNING_POP
    DemoRandom::seed(seed);
}

bool QUIHelper::isIPv4Text(const QString &text)
{
    static const QRegExp pattern(
        "((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)");
    return pattern.exactMatch(text);
}

QString QUIHelper::chooseTitleAddress(const QStringList &addressTexts)
{
    for (const QString &text : addressTexts) {
        if (!isIPv4Text(text))
            continue;
        if (text.startsWith("192.168.1") || text.startsWith("192"))
            return text;
    }
    return QStringLiteral("127.0.0.1");
}

QString QUIHelper::hostIPv4Address()
{
    QStringList texts;
    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses)
        texts << address.toString();
    return chooseTitleAddress(texts);
}

// The console's notations live in console/; these names stay for callers
// that know them as QUIHelper's.
QString QUIHelper::bytesToHexText(const QByteArray &data) { return console::bytesToHexText(data); }
QByteArray QUIHelper::hexTextToBytes(const QString &text) { return console::hexTextToBytes(text); }
QString QUIHelper::bytesToEscapedText(const QByteArray &data) { return console::bytesToEscapedText(data); }
QByteArray QUIHelper::escapedTextToBytes(const QString &text) { return console::escapedTextToBytes(text); }
QString QUIHelper::twoDigitHex(const int &value) { return console::twoDigitHex(value); }
