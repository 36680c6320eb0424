// The download mirrors of one update session.
#include "mirrors.h"

#include <limits>

#include <QSettings>
#include <QStringList>

#include "base/inivalue.h"
#include "base/randomsource.h"

namespace {

constexpr int defaultRetries = 2;
constexpr int httpSlots = 3;
constexpr int alphaSlots = 4;

QString withVersion(QString url, int version)
{
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + QString::number(version);
}

bool isHttpUrl(const QString& url)
{
    return url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

} // namespace

Mirrors::Mirrors(QObject* parent)
    : QObject(parent)
{
}

bool Mirrors::initDefault(const QString& iniPath, int version)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    const int size = settings.beginReadArray(QStringLiteral("mirrors"));
    for (int i = 0; i < size; ++i) {
        settings.setArrayIndex(i);
        FTPSiteAccessData mirror;
        mirror.name = IniValue::text(settings, QStringLiteral("mirror"));
        mirrorList.append(mirror);
    }
    settings.endArray();
    setDefaults(settings, version);
    return true;
}

void Mirrors::setDefaults(QSettings& settings, int version)
{
    for (FTPSiteAccessData& mirror : mirrorList) {
        settings.beginGroup(mirror.name);
        const QString url = IniValue::text(settings, QStringLiteral("url"));
        if (isHttpUrl(url))
            mirror.maxConnections = httpSlots;
        mirror.url = withVersion(url, version);
        // Zero, negative, oversized and non-numeric values all mean "not set".
        const uint retries = settings.value(QStringLiteral("retries"), defaultRetries).toUInt();
        mirror.retries =
            (retries < 1 || retries > uint(std::numeric_limits<int>::max())) ? defaultRetries : int(retries);
        settings.endGroup();
    }
}

bool Mirrors::initAlpha(const QString& updateIniPath, int version)
{
    const QSettings settings(updateIniPath, QSettings::IniFormat);
    const QString url = IniValue::text(settings, QStringLiteral("Channel/alpha"));
    if (url.isEmpty()) {
        emit fatalError(QStringLiteral("Alpha parameter in channel section in update ini file not found"));
        return false;
    }
    // The alpha mirror is the only one: its first error ends its use.
    FTPSiteAccessData mirror;
    mirror.name = QStringLiteral("Alpha Channel");
    mirror.url = withVersion(url, version);
    mirror.maxConnections = alphaSlots;
    mirrorList.append(mirror);
    return true;
}

int Mirrors::getRandomMirror(FTPSiteAccessData& out)
{
    if (mirrorList.isEmpty()) {
        if (!noMirrorsReported) {
            emit message(tr("There are no (more) known working mirrors available"));
            noMirrorsReported = true;
        }
        return NoMirrorLeft;
    }
    int maxTotal = 0;
    int inUseTotal = 0;
    calcUseStats(maxTotal, inUseTotal);
    if (inUseTotal >= maxTotal)
        return AllSlotsTaken;

    // Each free slot is one ticket, so a mirror's chance is its share of the
    // free slots; the list order decides which mirror a ticket belongs to.
    int draw = RandomSource::next() % (maxTotal - inUseTotal);
    for (FTPSiteAccessData& mirror : mirrorList) {
        draw -= mirror.maxConnections - mirror.inUse;
        if (draw < 0) {
            ++mirror.inUse;
            out = mirror;
            return MirrorSelected;
        }
    }
    return NoMirrorLeft;
}

void Mirrors::releaseMirror(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        --mirrorList[index].inUse;
}

void Mirrors::addMirrorError(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index < 0)
        return;
    FTPSiteAccessData& mirror = mirrorList[index];
    if (++mirror.errors <= mirror.retries)
        return;
    emit message(tr("Mirror %1 failed too many times, removing").arg(mirror.name));
    mirrorList.removeAt(index);
}

void Mirrors::removeMirror(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        mirrorList.removeAt(index);
}

int Mirrors::getMirrorIndex(const QString& name) const
{
    for (int i = 0; i < mirrorList.size(); ++i) {
        if (mirrorList[i].name == name)
            return i;
    }
    return -1;
}

void Mirrors::calcUseStats(int& maxTotal, int& inUseTotal) const
{
    maxTotal = 0;
    inUseTotal = 0;
    for (const FTPSiteAccessData& mirror : mirrorList) {
        maxTotal += mirror.maxConnections;
        inUseTotal += mirror.inUse;
    }
}
