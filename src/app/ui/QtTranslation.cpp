#include "app/ui/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator *installQtTranslation(QCoreApplication &app, const QLocale &locale)
{
    if (locale.language() == QLocale::C)
        return nullptr;
    auto *translator = new QTranslator(&app);
    // qtbase_ru.qm for ru_RU; the lookup walks the locale's UI languages.
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}
