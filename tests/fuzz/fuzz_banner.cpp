// Fuzz target: the banner server's answer, a datagram from anyone on the
// network, read into the image address and the click target.
#include "fuzzsupport.h"

#include "net/banner.h"

using namespace FuzzSupport;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray answer = bytes(data, size).left(Banner::maxAnswerSize);
    QString bannerUrl = QStringLiteral("untouched");
    QString clickUrl = QStringLiteral("untouched");
    if (!Banner::readAnswer(answer, bannerUrl, clickUrl)) {
        expect(bannerUrl == QLatin1String("untouched") && clickUrl == QLatin1String("untouched"),
            "a refused answer changed the addresses");
        return 0;
    }
    expect(bannerUrl + QLatin1Char(',') + clickUrl == QString::fromLatin1(answer),
        "the addresses are not the answer's two halves");
    return 0;
}
