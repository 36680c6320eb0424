// The lock that keeps two updaters from changing one installation at once:
// refused while held, free again once its holder is gone (even when that
// holder started a program that still runs), open to every user, and a lock
// file that cannot be opened named with the reason.
#include "app/installationlock.h"

#include <sys/stat.h>

#include <memory>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestInstallationLock : public QObject {
    Q_OBJECT

private slots:
    void heldUntilItsHolderIsGone();
    void notInheritedByStartedPrograms();
    void lockFileOpenToEveryoneWhateverTheUmask();
    void lookingChangesNothing();
    void lockThatCannotBeTaken_data();
    void lockThatCannotBeTaken();
};

void TestInstallationLock::heldUntilItsHolderIsGone()
{
    QTemporaryDir client;
    auto first = std::make_unique<InstallationLock>();
    QCOMPARE(first->acquire(client.path()), InstallationLock::Acquired);
    // A second open of the file is a second holder, as another process is.
    InstallationLock second;
    QCOMPARE(second.acquire(client.path()), InstallationLock::HeldElsewhere);
    first.reset();
    QCOMPARE(second.acquire(client.path()), InstallationLock::Acquired);
}

void TestInstallationLock::notInheritedByStartedPrograms()
{
    // The client the updater starts at the end outlives it; were the lock
    // handed down, no update could run while the client does.
    QTemporaryDir client;
    QProcess child;
    {
        InstallationLock lock;
        QCOMPARE(lock.acquire(client.path()), InstallationLock::Acquired);
        child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(child.waitForStarted(5000));
    }
    QCOMPARE(InstallationLock().acquire(client.path()), InstallationLock::Acquired);
    child.kill();
    child.waitForFinished(5000);
}

void TestInstallationLock::lockFileOpenToEveryoneWhateverTheUmask()
{
    QTemporaryDir client;
    const mode_t saved = ::umask(077);
    InstallationLock lock;
    const InstallationLock::Outcome outcome = lock.acquire(client.path());
    ::umask(saved);
    QCOMPARE(outcome, InstallationLock::Acquired);
    struct stat info;
    QVERIFY(::stat(QFile::encodeName(client.filePath(InstallationLock::fileName())).constData(), &info) == 0);
    QCOMPARE(int(info.st_mode & 0777), 0644);
}

void TestInstallationLock::lookingChangesNothing()
{
    // A check only looks: it makes no lock file and keeps no lock that
    // would turn an update away.
    QTemporaryDir client;
    QVERIFY(!InstallationLock::heldElsewhere(client.path()));
    QVERIFY(!QFile::exists(client.filePath(InstallationLock::fileName())));
    {
        InstallationLock holder;
        QCOMPARE(holder.acquire(client.path()), InstallationLock::Acquired);
        QVERIFY(InstallationLock::heldElsewhere(client.path()));
    }
    QVERIFY(!InstallationLock::heldElsewhere(client.path()));
    InstallationLock update;
    QCOMPARE(update.acquire(client.path()), InstallationLock::Acquired);
}

void TestInstallationLock::lockThatCannotBeTaken_data()
{
    QTest::addColumn<QString>(
        "lockFile"); // what update.lock is: "dangling link", "link to a file", "no directory"
    QTest::addColumn<QString>("reason");

    // A link is never followed: two updaters could lock two different files.
    QTest::newRow("a dangling symbolic link") << "dangling link"
                                              << "Too many levels of symbolic links";
    QTest::newRow("a link to a file elsewhere") << "link to a file"
                                                << "Too many levels of symbolic links";
    QTest::newRow("no client directory") << "no directory"
                                         << "No such file or directory";
}

void TestInstallationLock::lockThatCannotBeTaken()
{
    QFETCH(QString, lockFile);
    QFETCH(QString, reason);
    QTemporaryDir client;
    const QString dir = lockFile == QLatin1String("no directory") ? client.filePath("gone") : client.path();
    const QString lockPath = dir + QLatin1Char('/') + InstallationLock::fileName();
    if (lockFile == QLatin1String("dangling link"))
        QVERIFY(QFile::link(client.filePath("nowhere"), lockPath));
    if (lockFile == QLatin1String("link to a file")) {
        QVERIFY(QFile(client.filePath("elsewhere")).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(client.filePath("elsewhere"), lockPath));
    }

    InstallationLock lock;
    QCOMPARE(lock.acquire(dir), InstallationLock::Unavailable);
    QCOMPARE(lock.unavailableMessage(),
        QStringLiteral("Cannot lock the installation: %1: %2").arg(lockPath, reason));
    QVERIFY(!QFile::exists(client.filePath("nowhere")));
}

QTEST_GUILESS_MAIN(TestInstallationLock)
#include "tst_installationlock.moc"
