// The root of one update's task tree: runs the five stages in order and owns
// the work lists they share.
#pragma once

#include "tasks/composedtaskspecification.h"
#include "update/filespecifications.h"
#include "update/updateparameters.h"
#include "update/updatestage.h"

class Mirrors;
class QNetworkAccessManager;

/// Fetch and verify the product ini, compile the work lists, download,
/// install with rollback, delete obsolete files; a stage that ends cancelled
/// stops the sequence. With weight 1.0 its updateProgress is the overall
/// completion. A ListsOnly task stops after the lists, which is how an
/// update is checked without changing anything. GUI thread only; the manager
/// and registry are not owned and must outlive the task.
class MainTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT
    Q_DISABLE_COPY(MainTaskSpecification)

public:
    enum Scope { WholeUpdate, ListsOnly };

    MainTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        const UpdateParameters& parameters, QObject* parent, double parentProgressRange,
        Scope scope = WholeUpdate);

    void execute() override;
    void reset() override;

    void makeSubtasksAndStart();

    /// The stage that runs now; None before the start and after the end.
    UpdateStage currentStage() const;

signals:
    /// The lists are compiled; the later stages have not started yet.
    void listsCompiled(WorkListSummary summary);

private:
    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    UpdateParameters parameters;
    Scope scope;
    FileSpecifications fileSpecs;
};
