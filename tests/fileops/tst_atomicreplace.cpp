// The one step that puts a new file in place of an installed one, and its
// undo, on real files: what each name holds afterwards, for a plain file, a
// link, a directory in the way and another user's file (hard links refused).
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "fileops/atomicreplace.h"
#include "testfiles.h"

namespace {

// Runs step in a child process as user nobody; true if it returned true.
bool asNobody(const std::function<bool()>& step)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        return false;
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0 && step();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

// What a name holds: its content, "link to <target>", "<dir>" or "-".
QString holds(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("link to ") + QFileInfo(info.symLinkTarget()).fileName();
    if (info.isDir())
        return QStringLiteral("<dir>");
    if (!info.exists())
        return QStringLiteral("-");
    return QString::fromUtf8(TestFiles::read(path));
}

} // namespace

class TestAtomicReplace : public QObject {
    Q_OBJECT

private slots:
    void replacesKeepingOld_data()
    {
        QTest::addColumn<QString>("installed"); // "file", "link" or "dir"
        QTest::addColumn<bool>("othersFile"); // installed by root, replaced by nobody
        QTest::addColumn<QString>("before"); // what the target held

        QTest::newRow("a file") << "file" << false << "previous";
        QTest::newRow("a link is set aside as the link it is") << "link" << false << "link to elsewhere";
        QTest::newRow("a directory in the way is set aside") << "dir" << false << "<dir>";
        // A shared installation: a user may not hard-link a file of
        // another owner, but may still swap names in a directory it can write.
        QTest::newRow("another user's file in a shared directory") << "file" << true << "previous";
    }

    void replacesKeepingOld()
    {
        QFETCH(QString, installed);
        QFETCH(bool, othersFile);
        QFETCH(QString, before);
        if (othersFile && ::geteuid() != 0)
            QSKIP("needs root to play two users");

        QTemporaryDir dir;
        const QString shared = dir.filePath("client");
        QVERIFY(QDir().mkpath(shared));
        const QString target = shared + "/a";
        const QString fresh = AtomicReplace::stagingPath(target);
        const QString old = shared + "/_old_a";
        if (installed == QLatin1String("file"))
            QVERIFY(TestFiles::write(target, "previous"));
        else if (installed == QLatin1String("link"))
            QVERIFY(QFile::link(dir.filePath("elsewhere"), target));
        else
            QVERIFY(QDir().mkpath(target + "/inside"));
        QVERIFY(TestFiles::write(fresh, "new"));

        const auto replace = [&] { return AtomicReplace::replaceKeepingOld(fresh, target, old); };
        const auto restore = [&] { return AtomicReplace::restoreOld(old, target); };
        if (othersFile) {
            const passwd* nobody = ::getpwnam("nobody");
            QVERIFY(nobody);
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
            QVERIFY(::chown(QFile::encodeName(shared).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
            QVERIFY(::chown(QFile::encodeName(fresh).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
            QVERIFY(asNobody(replace));
        } else {
            QVERIFY(replace());
        }
        QCOMPARE(holds(target), QStringLiteral("new"));
        QCOMPARE(holds(old), before);
        QCOMPARE(holds(fresh), QStringLiteral("-"));

        QVERIFY(othersFile ? asNobody(restore) : restore());
        QCOMPARE(holds(target), before);
        QCOMPARE(holds(old), QStringLiteral("-"));
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
            QStringList {"a"});
    }

    void refusesATakenOldName_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("replace onto a taken _old_ name") << true;
        QTest::newRow("put in place where a file is") << false;
    }

    // Nothing of the three names changes when the step is refused.
    void refusesATakenOldName()
    {
        QFETCH(bool, installed);
        QTemporaryDir dir;
        const QString target = dir.filePath("a");
        const QString fresh = AtomicReplace::stagingPath(target);
        QVERIFY(TestFiles::write(target, "previous"));
        QVERIFY(TestFiles::write(fresh, "new"));
        if (installed)
            QVERIFY(TestFiles::write(dir.filePath("_old_a"), "someone else's"));
        const auto snapshot = TestFiles::snapshot(dir.path());

        QVERIFY(installed ? !AtomicReplace::replaceKeepingOld(fresh, target, dir.filePath("_old_a"))
                          : !AtomicReplace::putInPlace(fresh, target));
        QCOMPARE(TestFiles::snapshot(dir.path()), snapshot);
    }
};

QTEST_GUILESS_MAIN(TestAtomicReplace)
#include "tst_atomicreplace.moc"
