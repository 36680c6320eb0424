// Helpers for tests that use a mirror registry.
#include "mirrorsfixture.h"

#include "base/randomsource.h"
#include "net/mirrors.h"

namespace MirrorsFixture {

void seedForDraw(int wanted, int modulus)
{
    for (quint32 seed = 1;; ++seed) {
        RandomSource::seed(seed);
        if (RandomSource::next() % modulus == wanted) {
            RandomSource::seed(seed);
            return;
        }
    }
}

void seedToPick(const Mirrors& mirrors, const QString& name)
{
    // The draw walks the free slots in list order; find the first ticket of name.
    int ticket = 0;
    int freeSlots = 0;
    bool found = false;
    for (const FTPSiteAccessData& mirror : mirrors.getMirrorList()) {
        if (mirror.name == name)
            found = true;
        else if (!found)
            ticket += mirror.maxConnections - mirror.inUse;
        freeSlots += mirror.maxConnections - mirror.inUse;
    }
    if (found && freeSlots > 0)
        seedForDraw(ticket, freeSlots);
}

} // namespace MirrorsFixture
