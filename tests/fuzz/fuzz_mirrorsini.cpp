// Fuzz target: a mirrors.ini as a user could edit it by hand, read into the
// mirror registry of a session, which then hands out and takes back every
// slot and drops the mirrors as they fail.
#include "fuzzsupport.h"
#include "mirrorbooks.h"

#include "net/mirrors.h"

using namespace FuzzSupport;

namespace {

constexpr int clientVersion = 17;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = freshPath(QStringLiteral("mirrors.ini"));
    writeFile(path, bytes(data, size));
    Mirrors mirrors(nullptr);
    expect(mirrors.initDefault(path, clientVersion), "loading mirrors.ini failed");
    for (const FTPSiteAccessData& mirror : mirrors.getMirrorList())
        expect(mirror.url.endsWith(QStringLiteral("/17")), "a mirror's address lost the version", mirror.url);
    MirrorBooks::drain(mirrors);
    remove(path);
    return 0;
}
