// The five stages of an update.
#include "maintaskspecification.h"

#include "update/downloadfilelisttaskspecification.h"
#include "update/filedeletelisttaskspecification.h"
#include "update/filereplacelisttaskspecification.h"
#include "update/inidownloadtaskspecification.h"
#include "update/makedownloadreplacelisttaskspecification.h"

namespace {

// The product ini's share when only it and the lists are done: its
// download usually takes longer than comparing the files.
constexpr double listsOnlyIniWeight = 0.67;

} // namespace

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange, Scope scope)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , parameters(parameters)
    , scope(scope)
{
}

void MainTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting update process"));
    makeSubtasksAndStart();
}

void MainTaskSpecification::makeSubtasksAndStart()
{
    const bool whole = scope == WholeUpdate;
    // All stages exist from the start; the later ones hold references to
    // the lists of fileSpecs and read them only when they start, after the
    // list stage has published them.
    addSubTask(new IniDownloadTaskSpecification(
        networkManager, mirrors, parameters, this, whole ? 0.1 : listsOnlyIniWeight));
    auto* lists = new MakeDownloadReplaceListTaskSpecification(
        parameters, fileSpecs, this, whole ? 0.05 : 1.0 - listsOnlyIniWeight);
    // Connected before the composite's own handler, which may start the
    // next stage: the summary is of the lists as compiled.
    connect(lists, &TaskSpecification::finished, this, [this] { emit listsCompiled(fileSpecs.summary()); });
    addSubTask(lists);
    if (whole) {
        auto* downloads = new DownloadFileListTaskSpecification(
            fileSpecs.downloadList, networkManager, mirrors, parameters, this, 0.4);
        // Once every file is in the temporary directory the download list is
        // read no more; a release of 100,000 files would otherwise hold some
        // 10 MiB of it through the installation.
        connect(downloads, &TaskSpecification::finished, this, [this] { fileSpecs.downloadList = {}; });
        addSubTask(downloads);
        addSubTask(new FileReplaceListTaskSpecification(
            fileSpecs.replaceList, fileSpecs.deleteList, parameters, this, 0.4));
        addSubTask(new FileDeleteListTaskSpecification(fileSpecs.deleteList, parameters, this, 0.05));
    }
    setRunning();
    executeSubTasks();
}

UpdateStage MainTaskSpecification::currentStage() const
{
    // Stages run one at a time, in the order they were added; between two
    // of them the next one counts.
    TaskSpecification* current = nullptr;
    if (!runningSubTasks.isEmpty())
        current = runningSubTasks.first();
    else if (state() == Running && !pendingSubTasks.isEmpty())
        current = pendingSubTasks.first();
    switch (allSubTasks.indexOf(current)) {
    case 0:
        return UpdateStage::ProductIni;
    case 1:
        return UpdateStage::Lists;
    case 2:
        return UpdateStage::Downloads;
    case 3:
        return UpdateStage::Installation;
    case 4:
        return UpdateStage::Deletion;
    default:
        return UpdateStage::None;
    }
}

void MainTaskSpecification::reset()
{
    clearSubTasks();
    fileSpecs.clear();
    TaskSpecification::reset();
}
