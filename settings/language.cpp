#include "language.h"

#include "inifile.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace language {

namespace {

Language g_current = Language::Chinese;
std::unique_ptr<QTranslator> g_own, g_qt;

} // namespace

bool parse(const QString &text, Language *out, QString *error)
{
    if (text == QLatin1String("zh_CN"))
        *out = Language::Chinese;
    else if (text == QLatin1String("en"))
        *out = Language::English;
    else {
        if (error)
            *error = QStringLiteral("unknown language \"%1\": choose en or zh_CN").arg(text);
        return false;
    }
    return true;
}

QString code(Language language)
{
    return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh_CN");
}

bool fromConfig(const QString &iniPath, Language *out, QString *error)
{
    *out = Language::Chinese;
    const ini::Document document = ini::read(iniPath);
    const QVariant value = document.values.value(QStringLiteral("UI/Language"));
    if (!value.isValid() || value.toString().isEmpty())
        return true;
    QString why;
    if (parse(value.toString(), out, &why))
        return true;
    *out = Language::Chinese;
    if (error)
        *error = QStringLiteral("%1: [UI] Language: %2").arg(iniPath, why);
    return false;
}

void install(Language language)
{
    for (auto *t : {&g_own, &g_qt})
        if (*t) {
            QCoreApplication::removeTranslator(t->get());
            t->reset();
        }
    g_current = language;
    if (language == Language::Chinese)
        return;
    // Catalogues installed as the application's children (the window's
    // Chinese ones) go too: in English nothing is translated to Chinese.
    if (QCoreApplication::instance())
        for (QTranslator *t : QCoreApplication::instance()->findChildren<QTranslator *>(QString(), Qt::FindDirectChildrenOnly)) {
            QCoreApplication::removeTranslator(t);
            t->deleteLater();
        }
    g_own.reset(new QTranslator);
    g_own->load(QStringLiteral(":/i18n/zentrel_en.qm"));
    QCoreApplication::installTranslator(g_own.get());
    g_qt.reset(new QTranslator);
    g_qt->load(QStringLiteral("qtbase_en"), QLibraryInfo::location(QLibraryInfo::TranslationsPath));
    QCoreApplication::installTranslator(g_qt.get());
}

Language current()
{
    return g_current;
}

bool parseOption(const QString &value, Language *out, QString *error)
{
    QString why;
    if (parse(value, out, &why))
        return true;
    if (error)
        *error = QStringLiteral("--lang: %1").arg(why);
    return false;
}

bool installFromOption(const QString &program, const QString &value)
{
    Language language = Language::Chinese;
    QString error;
    if (!parseOption(value, &language, &error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(error));
        return false;
    }
    install(language);
    return true;
}

} // namespace language
