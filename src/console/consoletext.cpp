// The texts of the console front-end.
#include "consoletext.h"

#include <cmath>
#include <iterator>

#include <QStringList>

#include "update/filespecifications.h"

namespace {

constexpr quint64 unitStep = 1000;
const char* const units[] = {"kB", "MB", "GB", "TB", "PB"};

QString count(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

QString ConsoleText::bytes(quint64 count)
{
    if (count < unitStep)
        return QStringLiteral("%1 B").arg(count);
    long double step = unitStep;
    int unit = 0;
    // Rounded to tenths before the unit is chosen, so 999.96 kB reads
    // "1.0 MB" rather than "1000.0 kB".
    while (std::llround(count * 10.0L / step) >= 10 * qint64(unitStep) && unit + 1 < int(std::size(units))) {
        step *= unitStep;
        ++unit;
    }
    const long long tenths = std::llround(count * 10.0L / step);
    return QStringLiteral("%1.%2 %3").arg(tenths / 10).arg(tenths % 10).arg(QLatin1String(units[unit]));
}

QString ConsoleText::duration(quint64 seconds)
{
    const quint64 hours = seconds / 3600;
    const quint64 minutes = seconds / 60 % 60;
    const QString secs = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours == 0)
        return QStringLiteral("%1:%2").arg(minutes).arg(secs);
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(secs);
}

QString ConsoleText::progressLine(const Progress& progress, int width)
{
    const int percent = int(qBound(0.0, progress.fraction, 1.0) * 100.0);
    QStringList parts {QStringLiteral("%1 %2%").arg(progress.stage).arg(percent, 3)};
    if (progress.transfer) {
        parts << bytes(progress.done) + QStringLiteral(" / ") + bytes(progress.total);
        if (progress.speed > 0) {
            parts << bytes(progress.speed) + QStringLiteral("/s");
            if (progress.total >= progress.done) {
                const quint64 left = (progress.total - progress.done + progress.speed - 1) / progress.speed;
                parts << duration(left) + QStringLiteral(" left");
            }
        }
    }
    // The last column stays free: a terminal that wraps on it would push
    // the cursor to the next line.
    const int room = qMax(1, width - 1);
    QString line = parts.takeFirst();
    for (const QString& part : std::as_const(parts)) {
        if (line.size() + 2 + part.size() > room)
            break;
        line += QStringLiteral("  ") + part;
    }
    return line.left(room);
}

QString ConsoleText::plain(const QString& line)
{
    QString text = line;
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            c = QLatin1Char(' ');
    }
    return text;
}

QString ConsoleText::updateSummary(const QString& version, const WorkListSummary& work, double seconds)
{
    if (work.nothingToDo())
        return QStringLiteral("Already up to date: %1").arg(version);
    return QStringLiteral("Updated to %1: %2 installed, %3 deleted, %4 downloaded in %5 s")
        .arg(version, count(work.installs, "file", "files"), QString::number(work.deletions),
            bytes(work.downloadBytes), QString::number(seconds, 'f', 1));
}

QString ConsoleText::plannedWork(const WorkListSummary& work)
{
    return QStringLiteral("%1 to download (%2, %3 bytes), %4 to install, %5 to delete")
        .arg(count(work.downloads, "file", "files"), bytes(work.downloadBytes),
            QString::number(work.downloadBytes), QString::number(work.installs),
            QString::number(work.deletions));
}

QString ConsoleText::checkSummary(const QString& version, const WorkListSummary& work)
{
    if (work.nothingToDo())
        return QStringLiteral("Up to date: %1 is installed").arg(version);
    return QStringLiteral("Update to %1 available: %2").arg(version, ConsoleText::plannedWork(work));
}
