// The five stages of an update.
#include "maintaskspecification.h"

#include "tasks/downloadfilelisttaskspecification.h"
#include "tasks/filedeletelisttaskspecification.h"
#include "tasks/filereplacelisttaskspecification.h"
#include "tasks/inidownloadtaskspecification.h"
#include "tasks/makedownloadreplacelisttaskspecification.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
    Configuration* configuration, QObject* parent, double parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
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
    addSubTask(new IniDownloadTaskSpecification(networkManager, mirrors, configuration, this, 0.1));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(configuration, fileSpecs, this, 0.05));
    addSubTask(new DownloadFileListTaskSpecification(
        &fileSpecs.downloadList, networkManager, mirrors, configuration, this, 0.4));
    addSubTask(new FileReplaceListTaskSpecification(
        &fileSpecs.replaceList, &fileSpecs.deleteList, configuration, this, 0.4));
    addSubTask(new FileDeleteListTaskSpecification(&fileSpecs.deleteList, this, 0.05));
    state = Running;
    executeSubTasks();
}

void MainTaskSpecification::reset()
{
    clearSubTasks();
    fileSpecs.clear();
    TaskSpecification::reset();
}
