// The compiled-in resources: the German catalogue as the entry point loads it
// for the system locale, the application icon and the logo.
#include <algorithm>

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include "ui/translations.h"

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void catalogueForLocale_data();
    void catalogueForLocale();
    void germanTexts_data();
    void germanTexts();
    void everyTextHasItsGerman();
    void toolkitButtonsSpeakGerman();
    void applicationIcon();
    void logo();
};

void TestResources::catalogueForLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("loads");

    QTest::newRow("de_DE finds update_de") << "de_DE" << true;
    QTest::newRow("de_AT falls back to update_de") << "de_AT" << true;
    QTest::newRow("fr_FR has no catalogue") << "fr_FR" << false;
    QTest::newRow("en_US has no catalogue") << "en_US" << false;
}

void TestResources::catalogueForLocale()
{
    QFETCH(QString, locale);
    QTranslator translator;
    QTEST(translator.load(QStringLiteral(":/i18n/update_") + locale), "loads");

    // Installed whether or not it loaded, as at start-up: without a catalogue
    // the texts stay English.
    QCoreApplication::installTranslator(&translator);
    const QString error = QCoreApplication::translate("QObject", "Error");
    QCoreApplication::removeTranslator(&translator);
    QFETCH(bool, loads);
    QCOMPARE(error, loads ? QStringLiteral("Fehler") : QStringLiteral("Error"));
}

void TestResources::germanTexts_data()
{
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("german");

    const struct {
        const char* context;
        const char* source;
        const char* german;
    } rows[] = {
        {"ChangeLogViewer", "Failed to load changelog.", "Konnte Changelog nicht laden."},
        {"ChangeLogViewer", "Loading...", "Lade..."},
        {"MainWindow", "<p>Update in progress.</p><p>Are you sure you want to abort?</p>",
            "<p>Aktualisierung läuft momentan.</p><p>Wirklich abbrechen?</p>"},
        {"MainWindow", "Click to open \"%1://%2\"", "Klick zum Öffnen von \"%1://%2\""},
        {"MainWindow", "Question", "Frage"},
        {"MainWindow", "Restart", "Neu starten"},
        {"MainWindow", "Start Corvane", "Corvane starten"},
        {"MainWindow", "Start Update", "Update starten"},
        {"MainWindow", "Update", "Aktualisierung"},
        {"MainWindow", "Update cancelled", "Aktualisierung abgebrochen"},
        {"MainWindow", "Update cancelled. Push \"Details\" to check reasons.",
            "Aktualisierung abgebrochen. Drücken Sie \"Details\" für weitere Informationen."},
        {"MainWindow", "Update to Corvane %1.", "Update auf Corvane %1."},
        {"MainWindow", "View Changes", "Änderungen"},
        {"MainWindow", "You are currently on <strong>%1 channel</strong>.",
            "Sie benutzen den <strong>%1 Channel</strong>."},
        {"Mirrors", "Mirror %1 failed too many times, removing", "Mirror %1 zu oft fehlgeschlagen, entferne"},
        {"Mirrors", "There are no (more) known working mirrors available",
            "Es gibt keine weiteren bekannten Mirrors"},
        {"QObject", "Error", "Fehler"},
        {"QObject", "Failed to query latest client\nversion from update server\n%1, UDP port %2.",
            "Konnte aktuelle Client Version nicht\nvom Aktualisierungsserver abfragen\n%1, UDP-Port %2."},
        {"QObject", "Invalid version nr (%1)", "Ungültige Versionsnummer (%1)"},
        {"QObject", "Update server returned invalid version nr (%1)",
            "Update Server meldete ungültige Versionsnummer (%1)"},
        {"QObject",
            "The installation in %1 is being updated by another updater. Nothing was changed; try again when "
            "it has finished.",
            "Die Installation in %1 wird gerade von einem anderen Updater aktualisiert. Es wurde nichts "
            "geändert; versuchen Sie es erneut, wenn er fertig ist."},
        {"MainWindow", "Corvane Client Update", "Corvane Client Aktualisierung"},
        // Texts whose German is the same word.
        {"MainWindow", "Details", "Details"},
        {"MainWindow", "Stable", "Stable"},
        {"MainWindow", "%1 KB", "%1 KB"},
        // A text is translated in its own context only.
        {"MainWindow", "Error", "Error"},
    };
    for (const auto& row : rows)
        QTest::addRow("%s: %s", row.context, row.source)
            << QByteArray(row.context) << QByteArray(row.source) << QString::fromUtf8(row.german);
}

void TestResources::germanTexts()
{
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/i18n/update_de_DE")));
    QCoreApplication::installTranslator(&translator);
    const QString translated = QCoreApplication::translate(context.constData(), source.constData());
    QCoreApplication::removeTranslator(&translator);
    QTEST(translated, "german");
}

void TestResources::everyTextHasItsGerman()
{
    QFile catalogue(QStringLiteral(CORVANE_SOURCE_DIR "/resources/update_de.ts"));
    QVERIFY(catalogue.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&catalogue);
    int messages = 0;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            ++messages;
            QVERIFY2(!xml.attributes().hasAttribute(QStringLiteral("type")), qPrintable(source));
            QVERIFY2(!xml.readElementText().isEmpty(), qPrintable(source));
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(messages > 30);
}

void TestResources::toolkitButtonsSpeakGerman()
{
    // The toolkit's catalogue lies where the system installs it, wherever
    // the updater is started from.
    const Translations translations(QStringLiteral("de_DE"));
    QVERIFY2(translations.toolkitCatalogueLoaded(),
        "the toolkit's German catalogue is missing (scripts/setup.sh installs qt6-translations-l10n)");
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Ja"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&Nein"));
    QCOMPARE(QCoreApplication::translate("QObject", "Error"), QStringLiteral("Fehler"));
}

void TestResources::applicationIcon()
{
    // The icon directory names each image's size and colour depth.
    QFile file(QStringLiteral(":/images/application.ico"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QVERIFY(data.size() > 6);
    const auto byteAt = [&](qsizetype at) { return static_cast<quint8>(data.at(at)); };
    const int count = byteAt(4) | byteAt(5) << 8;
    QCOMPARE(count, 10);
    QVERIFY(data.size() >= 6 + 16 * count);
    QList<QPair<int, int>> entries;
    for (int i = 0; i < count; ++i) {
        const qsizetype at = 6 + 16 * i;
        const int size = byteAt(at) == 0 ? 256 : byteAt(at);
        QCOMPARE(byteAt(at + 1) == 0 ? 256 : byteAt(at + 1), size);
        entries.append({size, byteAt(at + 6) | byteAt(at + 7) << 8});
    }
    std::sort(entries.begin(), entries.end());
    const QList<QPair<int, int>> expected {
        {16, 4}, {16, 8}, {16, 32}, {24, 32}, {32, 4}, {32, 8}, {32, 32}, {48, 8}, {48, 32}, {256, 32}};
    QCOMPARE(entries, expected);

    QImageReader reader(QStringLiteral(":/images/application.ico"));
    QCOMPARE(reader.imageCount(), count);
    for (int i = 0; i < count; ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    }
}

void TestResources::logo()
{
    const QImage logo(QStringLiteral(":/images/corvane_logo.png"));
    QVERIFY(!logo.isNull());
    QCOMPARE(logo.size(), QSize(48, 48));
    QVERIFY(logo.hasAlphaChannel());
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
