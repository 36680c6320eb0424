// The undo journal of the installation phase.
#include "rollback.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "fileops/atomicreplace.h"
#include "fileops/renamenoreplace.h"

RollbackData::RollbackData(Operation operation, const QString& path)
    : path(path)
    , operation(operation)
{
}

RollbackData::RollbackData(Operation operation, const QString& from, const QString& to)
    : path(to)
    , previousPath(from)
    , operation(operation)
{
}

RollbackData RollbackData::placed(const QString& target, const QString& old)
{
    return old.isEmpty() ? RollbackData(CreateFile, target) : RollbackData(Replace, old, target);
}

bool RollbackData::rollback(const RollbackWarning& warn) const
{
    const auto report = [&warn](const QString& text) {
        if (warn)
            warn(text);
    };
    switch (operation) {
    case Rename:
        // Never overwrite: if something new took the old name meanwhile, it is
        // not ours to destroy.
        if (renameNoReplace(path, previousPath))
            return true;
        report(QStringLiteral("warning: rollback rename %1 to %2 failed").arg(previousPath, path));
        return false;
    case CreateFile:
        if (QFile::remove(path))
            return true;
        report(QStringLiteral("warning: rollback create file %1 failed").arg(path));
        return false;
    case Replace:
        // The previous content takes its name back in one step, as it left.
        if (AtomicReplace::restoreOld(previousPath, path))
            return true;
        report(QStringLiteral("warning: rollback rename %1 to %2 failed").arg(path, previousPath));
        return false;
    case CreateDir:
        // rmdir removes only an empty directory, so files we did not create survive.
        if (QFileInfo(path).dir().rmdir(QDir(path).dirName()))
            return true;
        report(QStringLiteral("warning: rollback create dir %1 failed").arg(path));
        return false;
    }
    qFatal("Should not reach here");
}

void RollbackDataList::setBaseDirectory(const QString& dir)
{
    base = dir.isEmpty() ? QString() : dir + QLatin1Char('/');
}

void RollbackDataList::appendPath(const QString& path, bool& belowBase)
{
    // File names are UTF-8 on this system, the bytes every call into it uses.
    belowBase = !base.isEmpty() && path.startsWith(base);
    text += (belowBase ? QStringView(path).mid(base.size()) : QStringView(path)).toUtf8();
}

QString RollbackDataList::pathAt(qsizetype begin, qsizetype end, bool belowBase) const
{
    const QString path = QString::fromUtf8(text.constData() + begin, end - begin);
    return belowBase ? base + path : path;
}

void RollbackDataList::add(const RollbackData& record)
{
    Record packed {0, record.operation, !record.previousPath.isEmpty(), false, false};
    if (packed.hasPrevious) {
        appendPath(record.previousPath, packed.previousBelowBase);
        text += '\0';
    }
    appendPath(record.path, packed.pathBelowBase);
    packed.end = text.size();
    records.push_back(packed);
}

void RollbackDataList::appendList(const RollbackDataList& other)
{
    const qsizetype count = other.size();
    for (qsizetype i = 0; i < count; ++i)
        add(other.at(i));
}

RollbackData RollbackDataList::at(qsizetype index) const
{
    const Record& record = records.at(size_t(index));
    const qsizetype begin = index == 0 ? 0 : records.at(size_t(index - 1)).end;
    if (!record.hasPrevious)
        return RollbackData(record.operation, pathAt(begin, record.end, record.pathBelowBase));
    const qsizetype separator = text.indexOf('\0', begin);
    return RollbackData(record.operation, pathAt(begin, separator, record.previousBelowBase),
        pathAt(separator + 1, record.end, record.pathBelowBase));
}

void RollbackDataList::clear()
{
    records = {};
    text = {};
}

bool RollbackDataList::rollback(const RollbackWarning& warn)
{
    bool result = true;
    while (!isEmpty()) {
        const RollbackData record = at(size() - 1);
        records.pop_back();
        text.truncate(isEmpty() ? 0 : records.back().end);
        if (!record.rollback(warn))
            result = false;
    }
    clear();
    return result;
}
