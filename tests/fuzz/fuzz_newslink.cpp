// Fuzz target: the news text of the update server (rich text from anyone on
// the network) shown in the ticker: its default link, the links under the
// points a click can reach as the text scrolls by, and one painted frame.
#include "fuzzsupport.h"

#include <QApplication>
#include <QPixmap>
#include <QRegion>
#include <QUrl>

#include "app/updatechecker.h"
#include "ui/newsbanner.h"

using namespace FuzzSupport;

namespace {

constexpr int tickerWidthPx = 400;
constexpr int frameHeightPx = 40;
// How far left of the widget the text is probed, in pixels: the text enters
// at the right edge, so the points left of it lie where it is heading.
constexpr int probeReachPx = 20000;
constexpr int probeStepPx = 23;

NewsBanner* ticker = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: the toolkit's font caches stay reachable, so the leak
    // check at exit reports only what really leaked.
    new QApplication(*argc, *argv);
    ticker = new NewsBanner;
    ticker->resize(tickerWidthPx, ticker->height());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString news = UpdateChecker::replyText(bytes(data, size).left(UpdateChecker::newsReplyMax));

    const QString defaultUrl = NewsBanner::defaultUrlOf(news);
    expect(defaultUrl.isEmpty()
            || news.contains(QStringLiteral("<!--URL=") + defaultUrl + QStringLiteral("-->")),
        "default link is not the comment's address", defaultUrl);

    ticker->setNews(news);
    expect(ticker->getDefaultUrl() == defaultUrl, "the ticker took another default link");
    const int height = ticker->height();
    for (int x = -probeReachPx; x < tickerWidthPx; x += probeStepPx) {
        for (const int y : {0, height / 2, height - 1}) {
            const QString anchor = ticker->anchorAt(QPoint(x, y));
            if (!anchor.isEmpty())
                QUrl(anchor).isValid();
        }
    }
    QPixmap frame(tickerWidthPx, frameHeightPx);
    ticker->render(&frame, QPoint(), QRegion(0, 0, tickerWidthPx, frameHeightPx));
    return 0;
}
