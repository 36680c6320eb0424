// The release statement: what a publisher writes reads back the same, what
// breaks a rule is refused whole, and when an entry cannot decide a client's
// version (another type, expired, older than one already followed).
#include "release/releasestatement.h"

#include <QTest>

namespace {

const QDateTime mayFirst(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

ReleaseStatement::Channel stableEntry()
{
    ReleaseStatement::Channel entry;
    entry.version = 2;
    entry.clientType = QStringLiteral("client_linux_amd64");
    entry.productIniSha256 = QByteArray(32, '\x5a');
    entry.issued = mayFirst;
    entry.expires = mayFirst.addDays(30);
    return entry;
}

// A valid statement with lines replaced: each "from" by "to".
QByteArray edited(const QList<QPair<QByteArray, QByteArray>>& edits)
{
    ReleaseStatement statement;
    statement.channels.insert(QStringLiteral("stable"), stableEntry());
    QByteArray text = statement.toText();
    for (const auto& [from, to] : edits)
        text.replace(from, to);
    return text;
}

} // namespace

class TestReleaseStatement : public QObject {
    Q_OBJECT

private slots:
    void writtenTextReadsBack()
    {
        ReleaseStatement statement;
        ReleaseStatement::Channel stable = stableEntry();
        stable.display = QStringLiteral("2.0 = Grüße, \\ und mehr");
        stable.news = QStringLiteral("<b>Neu</b>\nzweite Zeile \\n bleibt");
        statement.channels.insert(QStringLiteral("stable"), stable);
        ReleaseStatement::Channel beta = stableEntry();
        beta.version = 3;
        statement.channels.insert(QStringLiteral("beta"), beta);

        QString problem;
        const std::optional<ReleaseStatement> read = ReleaseStatement::parse(statement.toText(), &problem);
        QVERIFY2(read, qPrintable(problem));
        QCOMPARE(read->channels.keys(), (QStringList {"beta", "stable"}));
        const ReleaseStatement::Channel& back = read->channels.value(QStringLiteral("stable"));
        QCOMPARE(back.version, 2);
        QCOMPARE(back.display, stable.display);
        QCOMPARE(back.news, stable.news);
        QCOMPARE(back.clientType, stable.clientType);
        QCOMPARE(back.productIniSha256, stable.productIniSha256);
        QCOMPARE(back.issued, mayFirst);
        QCOMPARE(back.expires, mayFirst.addDays(30));
        QCOMPARE(read->channels.value(QStringLiteral("beta")).version, 3);
        QCOMPARE(read->toText(), statement.toText());
    }

    void brokenRulesRefuseTheWhole_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("problem");
        using Edit = QPair<QByteArray, QByteArray>;
        QTest::newRow("a carriage return")
            << edited({Edit {"version=2\n", "version=2\r\n"}}) << "line 4: holds a control character";
        QTest::newRow("not UTF-8") << edited({Edit {"[stable]", "[stable]\n; \xff"}}) << "not UTF-8 text";
        QTest::newRow("a field before any channel")
            << QByteArray("version=2\n") + edited({}) << "line 1: \"version=2\" is not a field of a channel";
        QTest::newRow("a channel given twice") << edited({}) + "\n[stable]\n"
                                               << "line 10: channel stable is given twice";
        QTest::newRow("a field given twice")
            << edited({Edit {"version=2\n", "version=2\nversion=1\n"}}) << "line 5: version is given twice";
        QTest::newRow("a version with a sign")
            << edited({Edit {"version=2", "version=+2"}})
            << "line 4: version \"+2\" is not a whole number from 1 to 2147483647";
        QTest::newRow("version 0") << edited({Edit {"version=2", "version=0"}})
                                   << "line 4: version \"0\" is not a whole number from 1 to 2147483647";
        QTest::newRow("a type with a slash") << edited({Edit {"type=client_linux_amd64", "type=../x"}})
                                             << "line 5: type \"../x\" is not a client type";
        QTest::newRow("a digest in upper case")
            << edited({Edit {QByteArray(32, '\x5a').toHex(), QByteArray(32, '\x5a').toHex().toUpper()}})
            << "line 6: productIniSha256 is not 64 lower-case hexadecimal digits";
        QTest::newRow("a time with an offset")
            << edited({Edit {"issued=2024-05-01T12:00:00Z", "issued=2024-05-01T12:00:00+02:00"}})
            << "line 7: issued \"2024-05-01T12:00:00+02:00\" is not a time such as 2024-05-01T12:00:00Z";
        QTest::newRow("a day that does not exist")
            << edited({Edit {"issued=2024-05-01", "issued=2024-02-30"}})
            << "line 7: issued \"2024-02-30T12:00:00Z\" is not a time such as 2024-05-01T12:00:00Z";
        QTest::newRow("an unknown escape in the news")
            << edited({Edit {"expires=", "news=a\\tb\nexpires="}})
            << "line 8: news holds a backslash that is neither \\\\ nor \\n";
        QTest::newRow("a required field missing")
            << edited({Edit {"productIniSha256=", "sha256="}}) << "channel stable has no productIniSha256";
        QTest::newRow("expiring when issued") << edited({Edit {"expires=2024-05-31", "expires=2024-05-01"}})
                                              << "channel stable expires before it was issued";
    }

    void brokenRulesRefuseTheWhole()
    {
        QFETCH(QByteArray, text);
        QString problem;
        QVERIFY(!ReleaseStatement::parse(text, &problem));
        QTEST(problem, "problem");
    }

    // A later publisher may add channels and fields; this updater skips them.
    void unknownChannelsAndFieldsAreSkipped()
    {
        const QByteArray text = edited({{"version=2\n", "version=2\nsignedBy=release team\n"}})
            + "\n[nightly]\nversion=9\nwhatever=1\n";
        QString problem;
        const std::optional<ReleaseStatement> read = ReleaseStatement::parse(text, &problem);
        QVERIFY2(read, qPrintable(problem));
        QCOMPARE(read->channels.keys(), QStringList {QStringLiteral("stable")});
    }

    void whenAnEntryCanDecide_data()
    {
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QString>("clientType");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("lastIssued");
        QTest::addColumn<QString>("problem");

        const QString type = QStringLiteral("client_linux_amd64");
        const QString which = QStringLiteral("client_linux_amd64 (stable channel)");
        const QDateTime day2 = mayFirst.addDays(1);
        QTest::newRow("within its time") << "stable" << type << day2 << QDateTime() << QString();
        QTest::newRow("a channel it does not name is no problem")
            << "beta" << type << mayFirst.addYears(5) << QDateTime() << QString();
        QTest::newRow("the last second before it expires")
            << "stable" << type << mayFirst.addDays(30).addSecs(-1) << QDateTime() << QString();
        QTest::newRow("expired") << "stable" << type << mayFirst.addDays(30) << QDateTime()
                                 << "The release statement of " + which + " expired on 2024-05-31T12:00:00Z";
        QTest::newRow("for another client type")
            << "stable"
            << "client_win32" << day2 << QDateTime()
            << "The release statement of client_win32 (stable channel) names the client type " + type;
        QTest::newRow("the one already followed again") << "stable" << type << day2 << mayFirst << QString();
        QTest::newRow("older than one already followed") << "stable" << type << day2 << mayFirst.addSecs(1)
                                                         << "The release statement of " + which
                + " was issued on 2024-05-01T12:00:00Z, before the one of 2024-05-01T12:00:01Z already "
                  "followed";
    }

    void whenAnEntryCanDecide()
    {
        QFETCH(QString, channel);
        QFETCH(QString, clientType);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, lastIssued);
        ReleaseStatement statement;
        statement.channels.insert(QStringLiteral("stable"), stableEntry());
        QTEST(statement.problemFor(channel, clientType, now, lastIssued), "problem");
    }
};

QTEST_GUILESS_MAIN(TestReleaseStatement)
#include "tst_releasestatement.moc"
