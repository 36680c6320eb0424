// Helpers for tests that use a mirror registry: mirrors.ini text, and control
// over which mirror the registry's next random draw picks.
#pragma once

#include <QString>

#include "mirrorsini.h"

class Mirrors;

namespace MirrorsFixture {

// Seeds the program's random source so that its next draw modulo modulus
// is wanted.
void seedForDraw(int wanted, int modulus);
// Seeds the random source so that the next getRandomMirror() picks the mirror
// called name, which must have a free slot.
void seedToPick(const Mirrors& mirrors, const QString& name);

} // namespace MirrorsFixture
