// Directories, update parameters and log for the stage tests.
#include "stagefixture.h"

#include <QDir>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTest>

#include "tasks/taskspecification.h"
#include "testfiles.h"

StageFixture::StageFixture()
{
    QDir(dir.path()).mkpath(QStringLiteral("client"));
    QDir(dir.path()).mkpath(QStringLiteral("temp"));
    QDir(dir.path()).mkpath(QStringLiteral("outside"));
    parameters.clientDir = clientPath();
    parameters.tempDir = tempPath();
    parameters.downloadConcurrency = 6;
}

StageFixture::~StageFixture()
{
    if (QTest::currentTestFailed())
        keepEvidenceOfFailure();
    // A read-only directory left by a test must not keep the cleanup out.
    QDirIterator it(dir.path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), QFileDevice::Permissions(0x7700));
}

QString StageFixture::clientPath(const QString& relative) const
{
    return dir.filePath(relative.isEmpty() ? QStringLiteral("client") : QStringLiteral("client/") + relative);
}

QString StageFixture::tempPath(const QString& relative) const
{
    return dir.filePath(relative.isEmpty() ? QStringLiteral("temp") : QStringLiteral("temp/") + relative);
}

QString StageFixture::outsidePath(const QString& relative) const
{
    return dir.filePath(
        relative.isEmpty() ? QStringLiteral("outside") : QStringLiteral("outside/") + relative);
}

void StageFixture::writeFiles(const QString& root, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const int eq = entry.indexOf(QLatin1Char('='));
        TestFiles::write(root + QLatin1Char('/') + entry.left(eq), entry.mid(eq + 1).toUtf8());
    }
}

QStringList StageFixture::files(const QString& root)
{
    QStringList result;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        result.append(
            base.relativeFilePath(path) + QLatin1Char('=') + QString::fromUtf8(TestFiles::read(path)));
    }
    result.sort();
    return result;
}

void StageFixture::watch(TaskSpecification* task)
{
    QObject::connect(
        task, &TaskSpecification::message, task, [this](const QString& line) { log.append(line); });
    QObject::connect(
        task, &TaskSpecification::error, task, [this](const QString& line) { log.append("error: " + line); });
}

int StageFixture::run(TaskSpecification* task, int timeoutMs)
{
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    task->execute();
    if (!QTest::qWaitFor([&] { return finished.count() + canceled.count() > 0; }, timeoutMs))
        return -1;
    // Anything still queued (a second end, a late result) would show up now.
    QTest::qWait(20);
    return finished.count() + canceled.count() == 1 ? task->state : -2;
}

bool StageFixture::logged(const QString& text) const
{
    for (const QString& line : log) {
        if (line.contains(text))
            return true;
    }
    return false;
}

void StageFixture::keepEvidenceOfFailure()
{
    dir.setAutoRemove(false);
    qWarning().noquote() << "kept" << dir.path() << "\n" << log.join(QLatin1Char('\n'));
}
