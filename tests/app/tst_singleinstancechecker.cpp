// The single-instance guard inside one process: the socket name, the message
// hand-over, and the take-over of a socket file a crashed updater left behind.
#include "app/singleinstancechecker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestSingleInstanceChecker : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void serverName_data();
    void serverName();
    void namesDifferPerUserAndInstallation_data();
    void namesDifferPerUserAndInstallation();
    void handOver_data();
    void handOver();
    void emptyMessageIsNotSent();
    void onlyTheFirstReadCounts();
    void noInstanceAnswers();
    void socketIsPrivateToTheUser();
    void staleSocketIsTakenOver();
    void liveInstanceKeepsItsName();

private:
    QString socketPath() const;

    QTemporaryDir m_tmp;
};

void TestSingleInstanceChecker::initTestCase()
{
    // The local socket files live in the temporary folder; keep ours apart.
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    QCOMPARE(QDir::tempPath(), m_tmp.path());
}

QString TestSingleInstanceChecker::socketPath() const
{
    return m_tmp.filePath(SingleInstanceChecker::getLocalServerName());
}

void TestSingleInstanceChecker::serverName_data()
{
    QTest::addColumn<QString>("applicationFilePath");
    QTest::addColumn<QString>("homePath");
    QTest::addColumn<QString>("name");

    // Checksums computed independently (CRC-16/X.25 of the UTF-8 key).
    QTest::newRow("blank in the path, three hex digits") << "/opt/Corvane Client/update"
                                                         << "/home/ann"
                                                         << "DAVUzodurUpdatebe4";
    QTest::newRow("the program path is folded to lower case") << "/OPT/Corvane CLIENT/Update"
                                                              << "/home/ann"
                                                              << "DAVUzodurUpdatebe4";
    QTest::newRow("installation in the home directory") << "/home/ann/corvane/update"
                                                        << "/home/ann"
                                                        << "DAVUzodurUpdatefd42";
    QTest::newRow("colons are dropped like slashes") << "/home/ann/cor:vane/update"
                                                     << "/home/ann:"
                                                     << "DAVUzodurUpdatefd42";
    QTest::newRow("non-ASCII path hashed as UTF-8") << QString::fromUtf8("/srv/\u00fc/update") << "/root"
                                                    << "DAVUzodurUpdate5fae";
}

void TestSingleInstanceChecker::serverName()
{
    QFETCH(QString, applicationFilePath);
    QFETCH(QString, homePath);
    QTEST(SingleInstanceChecker::localServerNameFor(applicationFilePath, homePath), "name");
}

void TestSingleInstanceChecker::namesDifferPerUserAndInstallation_data()
{
    QTest::addColumn<QString>("otherPath");
    QTest::addColumn<QString>("otherHome");

    QTest::newRow("another user") << "/opt/corvane/update"
                                  << "/home/bob";
    QTest::newRow("home directory case is kept") << "/opt/corvane/update"
                                                 << "/home/Ann";
    QTest::newRow("another installation") << "/opt/corvane2/update"
                                          << "/home/ann";
}

void TestSingleInstanceChecker::namesDifferPerUserAndInstallation()
{
    QFETCH(QString, otherPath);
    QFETCH(QString, otherHome);
    QVERIFY(SingleInstanceChecker::localServerNameFor(
                QStringLiteral("/opt/corvane/update"), QStringLiteral("/home/ann"))
        != SingleInstanceChecker::localServerNameFor(otherPath, otherHome));
}

void TestSingleInstanceChecker::handOver_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("received");

    QTest::newRow("the start-up message") << "#"
                                          << "#";
    QTest::newRow("a zero byte ends the message") << QString::fromLatin1("#\0x", 3) << "#";
    QTest::newRow("other texts are passed on as they are") << "hello"
                                                           << "hello";
}

void TestSingleInstanceChecker::handOver()
{
    QFETCH(QString, message);
    SingleInstanceChecker checker;
    QSignalSpy activated(&checker, &SingleInstanceChecker::otherInstanceActivate);

    QVERIFY(SingleInstanceChecker::checkExistingInstance(message));
    QVERIFY(activated.wait(2000));
    QCOMPARE(activated.size(), 1);
    QTEST(activated.at(0).at(0).toString(), "received");
}

void TestSingleInstanceChecker::emptyMessageIsNotSent()
{
    SingleInstanceChecker checker;
    QSignalSpy activated(&checker, &SingleInstanceChecker::otherInstanceActivate);

    QVERIFY(!SingleInstanceChecker::checkExistingInstance(QString()));
    // The next message is the first the running instance sees.
    QVERIFY(SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    QVERIFY(activated.wait(2000));
    QCOMPARE(activated.size(), 1);
    QCOMPARE(activated.at(0).at(0).toString(), QStringLiteral("#"));
}

void TestSingleInstanceChecker::onlyTheFirstReadCounts()
{
    SingleInstanceChecker checker;
    QSignalSpy activated(&checker, &SingleInstanceChecker::otherInstanceActivate);

    QLocalSocket client;
    client.connectToServer(SingleInstanceChecker::getLocalServerName());
    QVERIFY(client.waitForConnected(1000));
    client.write("#");
    QVERIFY(client.waitForBytesWritten(1000));
    QVERIFY(activated.wait(2000));

    // A second write on the same connection is not read; the next message
    // that counts comes from a new start.
    client.write("again");
    client.flush();
    QVERIFY(SingleInstanceChecker::checkExistingInstance(QStringLiteral("next")));
    QTRY_COMPARE_WITH_TIMEOUT(activated.size(), 2, 2000);
    QCOMPARE(activated.at(1).at(0).toString(), QStringLiteral("next"));
}

void TestSingleInstanceChecker::noInstanceAnswers()
{
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    QVERIFY2(timer.elapsed() < 1500, "no socket means no wait beyond the connection time-out");
}

void TestSingleInstanceChecker::socketIsPrivateToTheUser()
{
    SingleInstanceChecker checker;
    const QFileInfo socket(socketPath());
    QVERIFY(socket.exists());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(socket.permissions() & others, QFile::Permissions());
}

void TestSingleInstanceChecker::staleSocketIsTakenOver()
{
    // What a killed updater leaves: a socket file nobody listens on.
    const QByteArray path = QFile::encodeName(socketPath());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(path.size()) < sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(socketPath()));
    QVERIFY(!SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));

    SingleInstanceChecker checker;
    QSignalSpy activated(&checker, &SingleInstanceChecker::otherInstanceActivate);
    QVERIFY(SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    QVERIFY(activated.wait(2000));
}

void TestSingleInstanceChecker::liveInstanceKeepsItsName()
{
    SingleInstanceChecker first;
    QSignalSpy firstActivated(&first, &SingleInstanceChecker::otherInstanceActivate);
    // A second guard that comes up while the first one runs must not take the
    // name away from it.
    SingleInstanceChecker second;
    QSignalSpy secondActivated(&second, &SingleInstanceChecker::otherInstanceActivate);

    QVERIFY(SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")));
    QTRY_COMPARE_WITH_TIMEOUT(firstActivated.size(), 1, 2000);
    QCOMPARE(secondActivated.size(), 0);
}

QTEST_MAIN(TestSingleInstanceChecker)
#include "tst_singleinstancechecker.moc"
