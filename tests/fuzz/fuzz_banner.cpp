// Fuzz target: the banner server's answer, a datagram from anyone on the
// network, read into the image address and the click target and taken on
// the way the engine and the window take them.
#include "fuzzsupport.h"

#include <QNetworkRequest>
#include <QUrl>

#include "net/banner.h"

using namespace FuzzSupport;

namespace {

// What the query reads of a datagram at most.
constexpr qsizetype maxAnswerBytes = 1024;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray answer = bytes(data, size).left(maxAnswerBytes);
    QString bannerUrl = QStringLiteral("untouched");
    QString clickUrl = QStringLiteral("untouched");
    if (!Banner::readAnswer(answer, bannerUrl, clickUrl)) {
        expect(bannerUrl == QLatin1String("untouched") && clickUrl == QLatin1String("untouched"),
            "a refused answer changed the addresses");
        return 0;
    }
    expect(bannerUrl + QLatin1Char(',') + clickUrl == QString::fromLatin1(answer),
        "the addresses are not the answer's two halves");

    // The engine fetches a valid image address; the window names the click
    // target's scheme and host in the tooltip.
    const QUrl image(bannerUrl);
    if (image.isValid()) {
        QNetworkRequest request(image);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    }
    const QUrl click(clickUrl);
    const QString tooltip = click.scheme() + QStringLiteral("://") + click.host();
    return 0;
}
