// The text of a mirrors.ini, for tests that point an updater or a registry at
// their own mirrors. Reaches into no layer of the updater, so that the tests
// that run the programs can write one too.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace MirrorsFixture {

struct Entry {
    QString name;
    QString url;
    QByteArray extraLines = {}; // more keys of the mirror's group, e.g. "retries=1\n"
};

// mirrors.ini listing the entries in order, each with its own group.
QByteArray ini(const QList<Entry>& mirrors);

} // namespace MirrorsFixture
