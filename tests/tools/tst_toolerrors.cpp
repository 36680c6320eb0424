// The three publisher-side programs report failures alike: one line
// "tool: message" on standard error, a pointer to --help after a usage error,
// and the documented exit status; --help anywhere prints the usage.
#include <QTemporaryDir>
#include <QTest>

#include "toolprocess.h"

class TestToolErrors : public QObject {
    Q_OBJECT

private slots:
    void failuresReadAlike_data();
    void failuresReadAlike();
    void helpWinsOverEverythingElse_data();
    void helpWinsOverEverythingElse();
};

namespace {

const QString keytool = QStringLiteral(CORVANE_KEYTOOL);
const QString publish = QStringLiteral(CORVANE_PUBLISH);
const QString updateserver = QStringLiteral(CORVANE_UPDATESERVER);

QStringList words(const char* line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

void TestToolErrors::failuresReadAlike_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");
    QTest::newRow("key tool, usage") << keytool << words("frobnicate") << 2
                                     << "corvane-keytool: Unknown command: frobnicate\n"
                                        "Try 'corvane-keytool --help'.\n";
    QTest::newRow("key tool, missing key") << keytool << words("verify data --key none.key") << 4
                                           << "corvane-keytool: Key file not found: none.key\n";
    QTest::newRow("publisher, usage") << publish << words("release") << 2
                                      << "corvane-publish: Expected RELEASE_DIR and OUT_DIR\n"
                                         "Try 'corvane-publish --help'.\n";
    QTest::newRow("publisher, missing key") << publish << words("release out --version 2 --key none.key") << 4
                                            << "corvane-publish: Private key file not found: none.key\n";
    QTest::newRow("update server, usage") << updateserver << words("--version-port 70000") << 2
                                          << "corvane-updateserver: A port is a number from 0 to 65535, "
                                             "not \"70000\"\nTry 'corvane-updateserver --help'.\n";
    QTest::newRow("update server, unreadable configuration")
        << updateserver << words("--news-file none.html") << 3
        << "corvane-updateserver: Cannot read the news file none.html: No such file or directory\n";
}

void TestToolErrors::failuresReadAlike()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    QTemporaryDir dir;
    const ToolProcess::Result result = ToolProcess::run(tool, args, dir.path());
    QCOMPARE(result.err, err);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, QString());
}

void TestToolErrors::helpWinsOverEverythingElse_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("usage");
    QTest::newRow("key tool") << keytool << words("sign --bogus --help") << "Usage: corvane-keytool";
    QTest::newRow("publisher") << publish << words("-h --version x") << "Usage: corvane-publish";
    QTest::newRow("update server") << updateserver << words("--bind nowhere --help")
                                   << "Usage: corvane-updateserver";
}

void TestToolErrors::helpWinsOverEverythingElse()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(QString, usage);
    const ToolProcess::Result result = ToolProcess::run(tool, args);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.startsWith(usage), qPrintable(result.out.left(80)));
    QVERIFY(result.out.contains(QStringLiteral("Exit status")));
    QCOMPARE(result.err, QString());
}

QTEST_GUILESS_MAIN(TestToolErrors)
#include "tst_toolerrors.moc"
