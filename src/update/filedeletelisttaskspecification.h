// The last stage of an update: removes obsolete files and the "_old_" copies
// set aside during installation, best effort and without a journal.
#pragma once

#include "tasks/composedtaskspecification.h"

#include <QList>
#include <QString>

struct UpdateParameters;

/// Deletes each entry of fileList (paths relative to the client directory),
/// one at a time, in list order. A file that is missing is passed over
/// silently, one that cannot be removed with "Could not delete %1: %2" in the
/// log; the stage still finishes. An "_old_" copy that is a directory (one
/// that became a file) is removed with its tree. An entry that would
/// lead outside the client directory is never touched: it is reported and
/// passed over.
///
/// fileList is not owned and is read when the stage starts, so entries added
/// by the installation stage are deleted too. GUI thread only.
class FileDeleteListTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT

public:
    FileDeleteListTaskSpecification(const QList<QString>& fileList, const UpdateParameters& parameters,
        QObject* parent, double parentProgressRange);

    void execute() override;
    void reset() override;

    void makeSubtasksAndStart();

private:
    const QList<QString>& fileList;
    QString clientDir;
};
