// Fuzz target: an update.ini as a user could edit it by hand, read the way a
// run reads it: the channel and a pinned alpha version, the proxy and the
// number of parallel downloads, the record of an unfinished session, and on
// the alpha channel the one mirror it names.
#include "fuzzsupport.h"
#include "mirrorbooks.h"

#include <QFileInfo>
#include <QStringList>

#include "app/configuration.h"
#include "base/approotpath.h"
#include "net/mirrors.h"
#include "update/updateinidata.h"

using namespace FuzzSupport;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // update.ini always lies in the client directory: a fresh directory per
    // input gives a fresh file.
    const QString clientDir = freshDir();
    AppRootPath::setOverride(clientDir);
    writeFile(UpdateIniData::filename(), bytes(data, size));

    // A command line with a version never asks the update server.
    Configuration configuration;
    const bool resolved = configuration.parseCommandLineOptions(
        {QStringLiteral("update"), QStringLiteral("client_linux_amd64"), QStringLiteral("17")});
    expect(resolved, "a valid command line was refused");
    expect(configuration.clientVersion() != 0, "no version after a resolved command line");
    configuration.getProxyAndDownloadConcurrency();
    expect(configuration.downloadConcurrency() >= 1, "no download may run");

    int version = 0;
    QString type;
    QString dir;
    if (UpdateIniData::get(&version, &type, &dir))
        expect(!type.isEmpty() && QFileInfo::exists(dir), "an unusable session record was accepted", dir);
    else
        expect(version == 0 && type.isNull() && dir.isNull(), "a refused session record filled values");

    if (configuration.channel() == Alpha) {
        Mirrors mirrors(nullptr);
        if (mirrors.initAlpha(UpdateIniData::filename(), configuration.clientVersion())) {
            expect(mirrors.getMirrorList().size() == 1, "the alpha channel has one mirror");
            MirrorBooks::drain(mirrors);
        }
    }

    AppRootPath::setOverride(QString());
    remove(clientDir);
    return 0;
}
