// Which names the product ini may hold, by the updater's rules and by the
// stricter ones of the publisher.
#include "release/releasenames.h"

#include <QTest>

using ReleaseNames::Rules;

class TestReleaseNames : public QObject {
    Q_OBJECT

private slots:
    void judgesPaths_data();
    void judgesPaths();
    void judgesDeletions_data();
    void judgesDeletions();
    void judgesSections_data();
    void judgesSections();
};

namespace {

const QString control = QStringLiteral("a control character in the name");

} // namespace

void TestReleaseNames::judgesPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("updater"); // the problem by the updater's rules
    QTest::addColumn<QString>("publisher"); // and by the publisher's

    const QString component = QStringLiteral("an empty, \".\" or \"..\" path component");
    const QString reserved = QStringLiteral("a name starting with \"%1\", which the updater reserves");

    QTest::newRow("plain path") << "lib/x.so" << QString() << QString();
    QTest::newRow("line break") << "a\nforged line.txt" << control << control;
    QTest::newRow("Unicode line separator") << QStringLiteral("a\u2028b") << control << control;
    QTest::newRow("Unicode paragraph separator") << QStringLiteral("a\u2029b") << control << control;
    QTest::newRow("zero character") << QStringLiteral("a") + QChar(0) + QStringLiteral("b") << control
                                    << control;
    QTest::newRow("control character named before the path's other faults") << "/a\tb" << control << control;
    const QString empty = QStringLiteral("an empty path");
    QTest::newRow("empty") << QString() << empty << empty;
    const QString absolute = QStringLiteral("an absolute path");
    QTest::newRow("absolute") << "/etc/passwd" << absolute << absolute;
    QTest::newRow("parent component") << "lib/../../x" << component << component;
    QTest::newRow("current directory component") << "./x" << component << component;
    QTest::newRow("empty component") << "a//b" << component << component;
    QTest::newRow("backslash, which the settings writer turns into a separator")
        << "a\\b" << QString() << "a backslash in the name";
    // The updater would take such files for its own leftovers and delete them.
    QTest::newRow("replaced file's name")
        << "lib/_old_x.so" << reserved.arg("_old_") << reserved.arg("_old_");
    QTest::newRow("new content's name") << "_new_x" << reserved.arg("_new_") << reserved.arg("_new_");
    QTest::newRow("prefix inside a name") << "lib/x_old_.so" << QString() << QString();
    // "_new_" before the name must still fit the file system's 255 bytes.
    const QString tooLong = QStringLiteral("a name longer than 250 bytes");
    QTest::newRow("name of 250 bytes") << "lib/" + QString(250, QLatin1Char('n')) << QString() << QString();
    QTest::newRow("name of 251 bytes") << "lib/" + QString(251, QLatin1Char('n')) << tooLong << tooLong;
    QTest::newRow("126 letters of two bytes each") << QString(126, QChar(0xFC)) << tooLong << tooLong;
    QTest::newRow("folder name of 251 bytes") << QString(251, QLatin1Char('d')) + "/x" << tooLong << tooLong;
}

void TestReleaseNames::judgesPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, updater);
    QFETCH(QString, publisher);
    QCOMPARE(ReleaseNames::fileNameProblem(path, Rules::Updater), updater);
    QCOMPARE(ReleaseNames::fileNameProblem(path, Rules::Publisher), publisher);
}

void TestReleaseNames::judgesDeletions_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("updater");
    QTest::addColumn<QString>("publisher");

    const QString own = QStringLiteral("one of the updater's own files");
    QTest::newRow("obsolete file") << "lib/old.so" << QString() << QString();
    // The updater passes over its own files with a log line of its own.
    QTest::newRow("the updater's program") << "update" << QString() << own;
    QTest::newRow("the mirror list") << "mirrors.ini" << QString() << own;
    QTest::newRow("the settings and session record") << "update.ini" << QString() << own;
    QTest::newRow("the lock") << "update.lock" << QString() << own;
    QTest::newRow("a file of that name in a folder") << "docs/update" << QString() << QString();
    QTest::newRow("working prefix") << "_old_a"
                                    << "a name starting with \"_old_\", which the updater reserves"
                                    << "a name starting with \"_old_\", which the updater reserves";
}

void TestReleaseNames::judgesDeletions()
{
    QFETCH(QString, path);
    QFETCH(QString, updater);
    QFETCH(QString, publisher);
    QCOMPARE(ReleaseNames::deletionProblem(path, Rules::Updater), updater);
    QCOMPARE(ReleaseNames::deletionProblem(path, Rules::Publisher), publisher);
}

void TestReleaseNames::judgesSections_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("updater");
    QTest::addColumn<QString>("publisher");

    QTest::newRow("plain") << "client" << QString() << QString();
    QTest::newRow("control character") << "fi\vles" << control << control;
    // The updater only puts the name into a mirror's URL.
    QTest::newRow("empty") << "" << QString() << "an empty name";
    QTest::newRow("the delete section") << "delete" << QString() << "the name of the deletion list";
    QTest::newRow("slash") << "a/b" << QString() << "a folder separator in the name";
    QTest::newRow("backslash") << "a\\b" << QString() << "a folder separator in the name";
    QTest::newRow("parent") << ".." << QString() << "not a folder name";
}

void TestReleaseNames::judgesSections()
{
    QFETCH(QString, name);
    QFETCH(QString, updater);
    QFETCH(QString, publisher);
    QCOMPARE(ReleaseNames::sectionProblem(name, Rules::Updater), updater);
    QCOMPARE(ReleaseNames::sectionProblem(name, Rules::Publisher), publisher);
}

QTEST_GUILESS_MAIN(TestReleaseNames)
#include "tst_releasenames.moc"
