// Directories and update parameters for the stage tests.
#include "stagefixture.h"

#include <QDir>
#include <QDirIterator>

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
