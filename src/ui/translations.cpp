// The catalogues of the user's language.
#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

Translations::Translations(const QString& locale)
{
    (void)own.load(QStringLiteral(":/i18n/update_") + locale);
    QCoreApplication::installTranslator(&own);
    toolkitLoaded =
        toolkit.load(QStringLiteral("qt_") + locale, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    QCoreApplication::installTranslator(&toolkit);
}

Translations::~Translations()
{
    QCoreApplication::removeTranslator(&toolkit);
    QCoreApplication::removeTranslator(&own);
}

QString Translations::defaultLocale()
{
    return QLocale::system().name();
}
