// The catalogues of the user's language: ours and the toolkit's own.
#pragma once

#include <QString>
#include <QTranslator>

/// Loads and installs, while it lives, our catalogue (from the resources) and
/// the toolkit's (from where the system keeps it: Debian's
/// qt6-translations-l10n installs /usr/share/qt6/translations), so that the
/// standard buttons of a box speak the user's language too. A language
/// without a catalogue stays English, silently.
class Translations final {
public:
    /// locale is a name such as "de_DE"; by default the system's.
    explicit Translations(const QString& locale = defaultLocale());
    ~Translations();
    Q_DISABLE_COPY(Translations)

    /// Whether the toolkit's own catalogue for the locale was found.
    bool toolkitCatalogueLoaded() const { return toolkitLoaded; }

private:
    static QString defaultLocale();

    QTranslator own;
    QTranslator toolkit;
    bool toolkitLoaded = false;
};
