// The session record in update.ini: validity rules, round trip, and that the
// other groups of the file survive every operation; the record of what was
// installed.
#include "update/updateinidata.h"

#include "base/approotpath.h"
#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestUpdateIniData : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        clientDir = std::make_unique<QTemporaryDir>();
        QVERIFY(clientDir->isValid());
        AppRootPath::setOverride(clientDir->path());
        existingDir = clientDir->filePath(QStringLiteral("corvane_temp_1"));
        QVERIFY(QDir().mkpath(existingDir));
    }

    void cleanup() { AppRootPath::setOverride(QString()); }

    void filenameIsInTheClientDirectory()
    {
        QCOMPARE(UpdateIniData::filename(), clientDir->filePath(QStringLiteral("update.ini")));
    }

    void invalidRecordsAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("record");
        // %DIR% stands for a directory that exists.
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("no current group") << QByteArray("[update]\nstreams=3\n");
        QTest::newRow("version not a number") << QByteArray("[current]\nversion=abc\ndir=%DIR%\ntype=t\n");
        QTest::newRow("version missing") << QByteArray("[current]\ndir=%DIR%\ntype=t\n");
        QTest::newRow("type empty") << QByteArray("[current]\nversion=7\ndir=%DIR%\ntype=\n");
        QTest::newRow("dir empty") << QByteArray("[current]\nversion=7\ndir=\ntype=t\n");
        QTest::newRow("dir deleted meanwhile")
            << QByteArray("[current]\nversion=7\ndir=%DIR%/gone\ntype=t\n");
    }

    void invalidRecordsAreIgnored()
    {
        QFETCH(QByteArray, record);
        if (!record.isEmpty()) {
            record.replace("%DIR%", existingDir.toUtf8());
            QVERIFY(TestFiles::write(UpdateIniData::filename(), record));
        }
        int version = -1;
        QString type = QStringLiteral("untouched");
        QString dir = QStringLiteral("untouched");
        QVERIFY(!UpdateIniData::get(&version, &type, &dir));
        QCOMPARE(version, -1);
        QCOMPARE(type, QStringLiteral("untouched"));
        QCOMPARE(dir, QStringLiteral("untouched"));

        // The next write replaces the broken record with a valid one.
        UpdateIniData::modify(8, existingDir, QStringLiteral("client_linux_amd64"));
        QVERIFY(UpdateIniData::get(&version, &type, &dir));
        QCOMPARE(version, 8);
        QCOMPARE(dir, existingDir);
    }

    void modifyThenGetRoundTrips()
    {
        // A comma in the directory must not split the value into a list.
        const QString dir = clientDir->filePath(QStringLiteral("tmp,with comma"));
        QVERIFY(QDir().mkpath(dir));
        UpdateIniData::modify(1234, dir, QStringLiteral("client_linux_amd64"));

        int version = 0;
        QString type;
        QString readDir;
        QVERIFY(UpdateIniData::get(&version, &type, &readDir));
        QCOMPARE(version, 1234);
        QCOMPARE(type, QStringLiteral("client_linux_amd64"));
        QCOMPARE(readDir, dir);
        // Null out-parameters are allowed, as the engine asks for parts only.
        QVERIFY(UpdateIniData::get(nullptr, nullptr, &readDir));
    }

    void otherGroupsSurvive()
    {
        QVERIFY(TestFiles::write(UpdateIniData::filename(),
            "[Channel]\nbeta=1\nalpha=http://alpha.example/"
            "a\n\n[update]\nproxy=proxy.example:3128\nstreams=4\n"));
        UpdateIniData::modify(5, existingDir, QStringLiteral("t"));
        UpdateIniData::cleanup();
        QVERIFY(!UpdateIniData::get(nullptr, nullptr, nullptr));

        QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
        QCOMPARE(settings.childGroups(), QStringList({QStringLiteral("Channel"), QStringLiteral("update")}));
        QCOMPARE(settings.value(QStringLiteral("Channel/beta")).toInt(), 1);
        QCOMPARE(settings.value(QStringLiteral("Channel/alpha")).toString(),
            QStringLiteral("http://alpha.example/a"));
        QCOMPARE(
            settings.value(QStringLiteral("update/proxy")).toString(), QStringLiteral("proxy.example:3128"));
        QCOMPARE(settings.value(QStringLiteral("update/streams")).toInt(), 4);
    }

    void installedVersionAsRecorded_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("version");
        QTest::newRow("no record, as before it existed") << QByteArray("[update]\nstreams=4\n") << 0;
        QTest::newRow("a recorded version") << QByteArray("[installed]\nversion=7\n") << 7;
        QTest::newRow("not a number counts as none") << QByteArray("[installed]\nversion=7a\n") << 0;
        QTest::newRow("a negative number counts as none") << QByteArray("[installed]\nversion=-3\n") << 0;
        QTest::newRow("the session's version is not the installed one")
            << QByteArray("[current]\nversion=9\n") << 0;
    }

    void installedVersionAsRecorded()
    {
        QFETCH(QByteArray, content);
        QVERIFY(TestFiles::write(UpdateIniData::filename(), content));
        QTEST(UpdateIniData::installedVersion(), "version");
    }

    void installedRecordOutlivesTheSessionRecord()
    {
        const QDateTime issued(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
        QVERIFY(UpdateIniData::recordInstalled(9, QStringLiteral("beta"), issued));
        UpdateIniData::modify(10, existingDir, QStringLiteral("t"));
        UpdateIniData::cleanup();
        // A later update without a statement keeps the time of the last one.
        QVERIFY(UpdateIniData::recordInstalled(10, QStringLiteral("beta"), QDateTime()));

        QCOMPARE(UpdateIniData::installedVersion(), 10);
        QCOMPARE(UpdateIniData::statementIssued(QStringLiteral("beta")), issued);
        QVERIFY(!UpdateIniData::statementIssued(QStringLiteral("stable")).isValid());
    }

private:
    std::unique_ptr<QTemporaryDir> clientDir;
    QString existingDir;
};

QTEST_GUILESS_MAIN(TestUpdateIniData)
#include "tst_updateinidata.moc"
