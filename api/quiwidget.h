#ifndef QUIWIDGET_H
#define QUIWIDGET_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Stateless helpers shared by start-up and the network console.
class QUIHelper
{
public:
    // Start-up
    static void setLocaleCodecUtf8();
    static void installTranslationFile(const QString &qmFile);
    static void seedRandomFromClock();
    static bool isIPv4Text(const QString &text);
    static QString hostIPv4Address();
    // The title address rule on a given list, so it can be checked without
    // depending on this host's interfaces.
    static QString chooseTitleAddress(const QStringList &addressTexts);

    // Byte and text notations of the network console
    static QString bytesToHexText(const QByteArray &data);
    static QByteArray hexTextToBytes(const QString &text);
    static QString bytesToEscapedText(const QByteArray &data);
    static QByteArray escapedTextToBytes(const QString &text);
    static QString twoDigitHex(const int &value);
};

#endif // QUIWIDGET_H
