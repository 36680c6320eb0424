// The program's one pseudo-random source.
#include "randomsource.h"

#include <random>

namespace {

std::minstd_rand& engine()
{
    static std::minstd_rand generator; // default seed until the engine seeds it
    return generator;
}

} // namespace

void RandomSource::seed(quint32 value)
{
    // minstd_rand rejects 0 as a seed by mapping it to 1 anyway; keep that explicit.
    engine().seed(value == 0 ? 1u : value);
}

int RandomSource::next()
{
    // minstd_rand yields 1 .. 2^31-2, which always fits a non-negative int.
    return int(engine()() - 1);
}
