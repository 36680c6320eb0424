// The console forms of the command line: which first arguments select the
// console, what the rest means, and what is refused before anything runs.
#include <QTest>

#include "console/consoleoptions.h"

class TestConsoleOptions : public QObject {
    Q_OBJECT

private slots:
    void isConsoleCommand_data();
    void isConsoleCommand();
    void parse_data();
    void parse();
    void allowDowngrade_data();
    void allowDowngrade();
};

void TestConsoleOptions::isConsoleCommand_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<bool>("console");

    for (const char* option : {"--console", "--check", "--help", "--version"})
        QTest::newRow(option) << QString::fromLatin1(option) << true;
    QTest::newRow("--nouser stays with the window") << "--nouser" << false;
    QTest::newRow("a client type stays with the window") << "client_linux_amd64" << false;
    QTest::newRow("options are case-sensitive") << "--Console" << false;
    QTest::newRow("an empty argument") << "" << false;
}

void TestConsoleOptions::isConsoleCommand()
{
    QFETCH(QString, first);
    QTEST(ConsoleOptions::isConsoleCommand(first), "console");
}

void TestConsoleOptions::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<bool>("startClient");
    QTest::addColumn<QStringList>("unattended"); // after the program's name
    QTest::addColumn<QString>("error");

    const int update = ConsoleOptions::Update;
    const int check = ConsoleOptions::Check;
    const QStringList nouser {QStringLiteral("--nouser")};
    QTest::newRow("--console alone asks the usual places for the version")
        << QStringList {"--console"} << update << false << false << nouser << QString();
    QTest::newRow("--console with type, version, display text and news")
        << QStringList {"--console", "t", "2", "2.0", "news"} << update << false << false
        << QStringList {"--nouser", "t", "2", "2.0", "news"} << QString();
    QTest::newRow("options anywhere after the first argument")
        << QStringList {"--console", "t", "--quiet", "2", "--start-client"} << update << true << true
        << QStringList {"--nouser", "t", "2"} << QString();
    QTest::newRow("-- ends the options, for a news text with dashes")
        << QStringList {"--console", "t", "2", "#", "--", "--big news--"} << update << false << false
        << QStringList {"--nouser", "t", "2", "#", "--big news--"} << QString();
    QTest::newRow("--check with a type and a version")
        << QStringList {"--check", "t", "2", "--quiet"} << check << true << false
        << QStringList {"--nouser", "t", "2"} << QString();
    QTest::newRow("--help anywhere asks for help")
        << QStringList {"--console", "t", "--help"} << int(ConsoleOptions::Help) << false << false
        << QStringList {"--nouser", "t"} << QString();
    QTest::newRow("--version") << QStringList {"--version"} << int(ConsoleOptions::Version) << false << false
                               << nouser << QString();
    QTest::newRow("a type alone is refused, not dropped")
        << QStringList {"--console", "t"} << update << false << false << QStringList {"--nouser", "t"}
        << "a client type needs a version";
    QTest::newRow("more than news is refused")
        << QStringList {"--console", "t", "2", "#", "news", "more"} << update << false << false
        << QStringList {"--nouser", "t", "2", "#", "news", "more"} << "too many arguments";
    QTest::newRow("--check takes no display text")
        << QStringList {"--check", "t", "2", "2.0"} << check << false << false
        << QStringList {"--nouser", "t", "2", "2.0"}
        << "--check takes a client type and a version, nothing more";
    QTest::newRow("--check starts no client") << QStringList {"--check", "--start-client"} << check << false
                                              << false << nouser << "unknown option --start-client";
    QTest::newRow("an unknown option") << QStringList {"--console", "--verbose"} << update << false << false
                                       << nouser << "unknown option --verbose";
}

void TestConsoleOptions::parse()
{
    QFETCH(QStringList, arguments);
    const ConsoleOptions options = ConsoleOptions::parse(QStringList {QStringLiteral("update")} + arguments);
    QTEST(int(options.command), "command");
    QTEST(options.quiet, "quiet");
    QTEST(options.startClient, "startClient");
    QFETCH(QStringList, unattended);
    QCOMPARE(options.unattendedArguments(QStringLiteral("update")),
        QStringList {QStringLiteral("update")} + unattended);
    QTEST(options.error, "error");
}

void TestConsoleOptions::allowDowngrade_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("error");

    QTest::newRow("not given") << QStringList {"--console", "t", "1"} << false << QString();
    QTest::newRow("an update") << QStringList {"--console", "t", "1", "--allow-downgrade"} << true
                               << QString();
    QTest::newRow("a check") << QStringList {"--check", "--allow-downgrade", "t", "1"} << true << QString();
    QTest::newRow("not with --version")
        << QStringList {"--version", "--allow-downgrade"} << false << "unknown option --allow-downgrade";
}

void TestConsoleOptions::allowDowngrade()
{
    QFETCH(QStringList, arguments);
    const ConsoleOptions options = ConsoleOptions::parse(QStringList {QStringLiteral("update")} + arguments);
    QTEST(options.allowDowngrade, "allowed");
    QTEST(options.error, "error");
}

QTEST_GUILESS_MAIN(TestConsoleOptions)
#include "tst_consoleoptions.moc"
