// Helpers for tests that use a mirror registry: mirrors.ini text, and control
// over which mirror the registry's next random draw picks.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class Mirrors;

namespace MirrorsFixture {

struct Entry {
    QString name;
    QString url;
    QByteArray extraLines = {}; // more keys of the mirror's group, e.g. "retries=1\n"
};

// mirrors.ini listing the entries in order, each with its own group.
QByteArray ini(const QList<Entry>& mirrors);
// Seeds the program's random source so that its next draw modulo modulus
// is wanted.
void seedForDraw(int wanted, int modulus);
// Seeds the random source so that the next getRandomMirror() picks the mirror
// called name, which must have a free slot.
void seedToPick(const Mirrors& mirrors, const QString& name);

} // namespace MirrorsFixture
