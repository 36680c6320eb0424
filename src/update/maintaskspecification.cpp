// The five stages of an update.
#include "maintaskspecification.h"

#include "update/downloadfilelisttaskspecification.h"
#include "update/filedeletelisttaskspecification.h"
#include "update/filereplacelisttaskspecification.h"
#include "update/inidownloadtaskspecification.h"
#include "update/makedownloadreplacelisttaskspecification.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
    const UpdateParameters& parameters, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , parameters(parameters)
{
}

void MainTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting update process"));
    makeSubtasksAndStart();
}

void MainTaskSpecification::makeSubtasksAndStart()
{
    // All stages exist from the start; the later ones hold pointers into
    // fileSpecs and read the lists only when they start, after the list
    // stage has published them.
    addSubTask(new IniDownloadTaskSpecification(networkManager, mirrors, parameters, this, 0.1));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(parameters, fileSpecs, this, 0.05));
    addSubTask(new DownloadFileListTaskSpecification(
        &fileSpecs.downloadList, networkManager, mirrors, parameters, this, 0.4));
    addSubTask(new FileReplaceListTaskSpecification(
        &fileSpecs.replaceList, &fileSpecs.deleteList, parameters, this, 0.4));
    addSubTask(new FileDeleteListTaskSpecification(&fileSpecs.deleteList, parameters, this, 0.05));
    state = Running;
    executeSubTasks();
}

void MainTaskSpecification::reset()
{
    clearSubTasks();
    fileSpecs.clear();
    TaskSpecification::reset();
}
