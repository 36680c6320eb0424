// The command line: which front-end runs, what the rest means, and what is
// refused as a usage error before anything runs.
#include <QTest>

#include "console/consoleoptions.h"

class TestConsoleOptions : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void allowDowngrade_data();
    void allowDowngrade();
};

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
    const int window = ConsoleOptions::Window;
    const int unattended = ConsoleOptions::Unattended;
    const int help = ConsoleOptions::Help;
    const QStringList nouser {QStringLiteral("--nouser")};
    QTest::newRow("--console alone asks the usual places for the version")
        << QStringList {"--console"} << update << false << false << nouser << QString();
    QTest::newRow("--console with type, version, display text and news")
        << QStringList {"--console", "t", "2", "2.0", "news"} << update << false << false
        << QStringList {"--nouser", "t", "2", "2.0", "news"} << QString();
    QTest::newRow("options anywhere, the command among them")
        << QStringList {"t", "--quiet", "2", "--start-client", "--console"} << update << true << true
        << QStringList {"--nouser", "t", "2"} << QString();
    QTest::newRow("-q is quiet, not a client type")
        << QStringList {"--console", "-q"} << update << true << false << nouser << QString();
    QTest::newRow("-- ends the options, for a news text with dashes")
        << QStringList {"--console", "t", "2", "#", "--", "--big news--"} << update << false << false
        << QStringList {"--nouser", "t", "2", "#", "--big news--"} << QString();
    QTest::newRow("--check with a type and a version")
        << QStringList {"--check", "t", "2", "-q"} << check << true << false
        << QStringList {"--nouser", "t", "2"} << QString();
    QTest::newRow("--check --console is a check")
        << QStringList {"--check", "--console"} << check << false << false << nouser << QString();
    QTest::newRow("--help anywhere asks for help")
        << QStringList {"--console", "t", "--help"} << help << false << false << QStringList {"--nouser", "t"}
        << QString();
    QTest::newRow("-h before a window form") << QStringList {"t", "2", "-h"} << help << false << false
                                             << QStringList {"--nouser", "t", "2"} << QString();
    QTest::newRow("-V") << QStringList {"-V"} << int(ConsoleOptions::Version) << false << false << nouser
                        << QString();
    QTest::newRow("no options: the window") << QStringList {"t", "2"} << window << false << false
                                            << QStringList {"--nouser", "t", "2"} << QString();
    QTest::newRow("--nouser after its arguments")
        << QStringList {"t", "2", "#", "--nouser"} << unattended << false << false
        << QStringList {"--nouser", "t", "2", "#"} << QString();
    QTest::newRow("the toolkit's options are the window's")
        << QStringList {"--nouser", "-platform", "offscreen", "t", "2"} << unattended << false << false
        << QStringList {"--nouser", "t", "2"} << QString();
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
                                              << false << nouser << "--start-client goes with --console only";
    QTest::newRow("--quiet needs a console run") << QStringList {"--quiet"} << window << false << false
                                                 << nouser << "--quiet goes with --console or --check only";
    QTest::newRow("--json needs a console run")
        << QStringList {"--nouser", "--json"} << unattended << false << false << nouser
        << "--json goes with --console or --check only";
    QTest::newRow("--nouser is no console run")
        << QStringList {"--console", "--nouser"} << unattended << false << false << nouser
        << "--nouser runs the window; --console and --check run without one";
    QTest::newRow("the console reads no toolkit options") << QStringList {"--console", "-style",
        "fusion"} << update << false << false << nouser << "unknown option -style";
    QTest::newRow("an unknown option") << QStringList {"--console", "--verbose"} << update << false << false
                                       << nouser << "unknown option --verbose";
    QTest::newRow("an unknown option wins over --help")
        << QStringList {"-x", "--help"} << help << false << false << nouser << "unknown option -x";
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
    if (options.command == ConsoleOptions::Window)
        QCOMPARE(options.windowArguments(QStringLiteral("update")),
            QStringList {QStringLiteral("update")} + unattended.mid(1));
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
    // The window installs a version of its command line as it always did.
    QTest::newRow("not for the window") << QStringList {"t", "1", "--allow-downgrade"} << false
                                        << "--allow-downgrade goes with --console or --check only";
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
