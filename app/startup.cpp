#include "startup.h"

#include "mainwindow.h"
#include "quiwidget.h"

#include "platform/ui/desktop.h"
#include "settings/configfile.h"
#include "settings/language.h"

#include <QApplication>
#include <QFont>

void applyStartupSettings(MainWindow &window)
{
    Desktop::installFontFallbacks();
    QFont font;
    font.setFamily(QStringLiteral("Microsoft Yahei"));
    font.setPixelSize(12);
    QApplication::setFont(font);

    QUIHelper::setLocaleCodecUtf8();
    // The Chinese catalogues in Chinese; in English the language's own (installed first).
    if (language::current() == language::Language::Chinese) {
        QUIHelper::installTranslationFile(QStringLiteral(":/qt_zh_CN.qm"));
        QUIHelper::installTranslationFile(QStringLiteral(":/widgets.qm"));
    }
    QUIHelper::seedRandomFromClock();

    window.setWindowTitle(QCoreApplication::translate("Startup", "Zentrel  本机IP: %1").arg(QUIHelper::hostIPv4Address()));
}

bool switchLanguage(MainWindow &window, language::Language chosen, QString *error)
{
    language::install(chosen);
    if (chosen == language::Language::Chinese) {
        QUIHelper::installTranslationFile(QStringLiteral(":/qt_zh_CN.qm"));
        QUIHelper::installTranslationFile(QStringLiteral(":/widgets.qm"));
    }
    window.setWindowTitle(QCoreApplication::translate("Startup", "Zentrel  本机IP: %1").arg(QUIHelper::hostIPv4Address()));
    return writeExtraSetting(QStringLiteral("config.ini"), QStringLiteral("UI/Language"), language::code(chosen), error);
}
