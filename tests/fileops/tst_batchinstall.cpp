// Putting a batch of staged files in place on real files: what each name
// holds afterwards, what is journaled, where a batch stops when a step fails,
// and that undoing the journal gives back the directory as it was.
#include "fileops/batchinstalltaskspecification.h"

#include <QTest>

#include "fileops/atomicreplace.h"
#include "fileops/rollback.h"
#include "taskharness.h"
#include "testfiles.h"

class TestBatchInstall final : public QObject {
    Q_OBJECT

private slots:
    void placesInOrderAndStopsAtAFailure_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("placed");

        // A step "name" stages "new:name" for a new file, "name*" replaces
        // the installed file, "name?" was never staged. after lists every
        // file of the directory once the batch has ended.
        QTest::newRow("new and replaced files in two directories")
            << QStringList {"a.txt=old a", "lib/b.so=old b"}
            << QStringList {"a.txt*", "lib/b.so*", "c.txt", "lib/d.txt"}
            << QStringList {"_old_a.txt=old a", "a.txt=new:a.txt", "c.txt=new:c.txt", "lib/_old_b.so=old b",
                   "lib/b.so=new:lib/b.so", "lib/d.txt=new:lib/d.txt"}
            << 4;
        QTest::newRow("a new file's name taken since it was staged stops the batch there")
            << QStringList {"a.txt=old a", "c.txt=someone's"} << QStringList {"a.txt*", "c.txt", "d.txt"}
            << QStringList {"_old_a.txt=old a", "a.txt=new:a.txt", "c.txt=someone's"} << 1;
        QTest::newRow("a staged file gone stops the batch there")
            << QStringList {"b.txt=old b"} << QStringList {"a.txt", "b.txt?*", "c.txt"}
            << QStringList {"a.txt=new:a.txt", "b.txt=old b"} << 1;
        QTest::newRow("a failing first step places nothing")
            << QStringList {"a.txt=taken"} << QStringList {"a.txt", "b.txt"} << QStringList {"a.txt=taken"}
            << 0;
    }

    void placesInOrderAndStopsAtAFailure()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, after);
        QFETCH(int, placed);

        TaskHarness harness;
        const QString root = harness.dir.filePath(QStringLiteral("client"));
        for (const QString& entry : std::as_const(before)) {
            const int eq = entry.indexOf(QLatin1Char('='));
            QVERIFY(TestFiles::write(root + QLatin1Char('/') + entry.left(eq), entry.mid(eq + 1).toUtf8()));
        }
        const auto snapshot = TestFiles::snapshot(root);
        QList<InstallStep> batch;
        for (QString step : std::as_const(steps)) {
            const bool replaces = step.endsWith(QLatin1Char('*'));
            if (replaces)
                step.chop(1);
            const bool staged = !step.endsWith(QLatin1Char('?'));
            if (!staged)
                step.chop(1);
            const QString target = root + QLatin1Char('/') + step;
            if (staged)
                QVERIFY(TestFiles::write(AtomicReplace::stagingPath(target), "new:" + step.toUtf8()));
            const int slash = step.lastIndexOf(QLatin1Char('/'));
            const QString old = root + QLatin1Char('/') + step.left(slash + 1) + QStringLiteral("_old_")
                + step.mid(slash + 1);
            batch.append({target, replaces ? old : QString()});
        }

        RollbackDataList journal;
        BatchInstallTaskSpecification task(batch, journal, nullptr, 1.0);
        const bool complete = placed == steps.size();
        QCOMPARE(harness.run(&task),
            int(complete ? TaskSpecification::Finished : TaskSpecification::ErrorCanceled));
        QCOMPARE(task.placedCount(), placed);
        QCOMPARE(journal.size(), placed);
        QCOMPARE(harness.logged(QStringLiteral("Could not move '")), !complete);

        QStringList found;
        const auto files = TestFiles::snapshot(root);
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            if (it.value() != QLatin1String("<dir>"))
                found.append(it.key() + QLatin1Char('=')
                    + QString::fromUtf8(TestFiles::read(root + QLatin1Char('/') + it.key())));
        }
        QCOMPARE(found, after);

        // The journal takes back exactly what was done.
        QVERIFY(journal.rollback({}));
        QCOMPARE(TestFiles::snapshot(root), snapshot);
    }
};

QTEST_GUILESS_MAIN(TestBatchInstall)
#include "tst_batchinstall.moc"
