// Runs a loaded mirror registry through a session and checks its books.
#include "mirrorbooks.h"

#include <QStringList>

#include "base/randomsource.h"
#include "fuzzsupport.h"
#include "net/mirrors.h"

using namespace FuzzSupport;

namespace MirrorBooks {

namespace {

// Beyond this many slots or errors a registry is only checked as loaded.
constexpr int drawLimit = 256;

void expectSlotsKept(const Mirrors& mirrors)
{
    for (const FTPSiteAccessData& mirror : mirrors.getMirrorList())
        expect(mirror.inUse >= 0 && mirror.inUse <= mirror.maxConnections, "a mirror's slots went wrong",
            mirror.name);
}

} // namespace

void drain(Mirrors& mirrors)
{
    // The same draws for the same input, so a finding replays.
    RandomSource::seed(1);
    int slotCount = 0;
    int inUse = 0;
    mirrors.calcUseStats(slotCount, inUse);
    expect(inUse == 0, "a fresh registry has slots in use");
    for (const FTPSiteAccessData& mirror : mirrors.getMirrorList()) {
        expect(mirror.maxConnections >= 1, "a mirror without slots", mirror.name);
        expect(mirror.retries >= 0, "a mirror with a negative error allowance", mirror.name);
    }
    if (slotCount > drawLimit)
        return;

    QStringList taken;
    for (int i = 0; i < slotCount; ++i) {
        FTPSiteAccessData mirror;
        expect(mirrors.getRandomMirror(mirror) == Mirrors::MirrorSelected, "a free slot was not handed out");
        expect(mirrors.getMirrorIndex(mirror.name) >= 0, "handed out an unlisted mirror", mirror.name);
        taken.append(mirror.name);
        expectSlotsKept(mirrors);
    }
    FTPSiteAccessData none;
    const int full = mirrors.getRandomMirror(none);
    expect(
        full == (slotCount == 0 ? Mirrors::NoMirrorLeft : Mirrors::AllSlotsTaken), "slots beyond the count");
    for (const QString& name : taken)
        mirrors.releaseMirror(name);
    mirrors.calcUseStats(slotCount, inUse);
    expect(inUse == 0, "slots still in use after all were given back");
    expectSlotsKept(mirrors);

    for (int errors = 0; !mirrors.getMirrorList().isEmpty() && errors < drawLimit; ++errors)
        mirrors.addMirrorError(mirrors.getMirrorList().constFirst().name);
}

} // namespace MirrorBooks
