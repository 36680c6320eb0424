// Packs and copies the files of a release on several threads. Each file is
// written whole by one thread, so the bytes on the mirror do not depend on the
// number of threads or on which thread took which file.
#pragma once

#include "filepacker.h"

#include <QList>
#include <QString>

struct PackJob {
    QString source;
    QString target; // the plain copy; the packed one gets ".gz" appended
    bool tryGzip = false; // pack, and keep the packed form only where it is smaller
    quint64 size = 0; // of the source, for scheduling and progress
};

struct PackOutcome {
    bool packed = false;
    FileDigest onMirror; // the file written
    FileDigest unpacked; // what the packed file unpacks to (packed only)
};

/// Runs jobs on threads threads at zlib's level and returns the outcomes in the
/// order of jobs; shows progress on a terminal. After a failure no new job
/// starts; once every thread has stopped, the failure of the earliest job is
/// thrown. The parent folders of the targets must exist.
QList<PackOutcome> packAll(const QList<PackJob>& jobs, int level, int threads);
