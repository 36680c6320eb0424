// Prints what one ticker step costs: the synchronous repaint of the whole
// one-line document that runs 50 times a second for as long as the window lives.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimerEvent>

#include <cstdio>

#include "ui/newsbanner.h"

int main(int argc, char** argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    NewsBanner banner;
    banner.resize(468, 16);
    banner.show();
    QCoreApplication::processEvents();
    banner.setNews(QStringLiteral(
        "<b>Corvane 3.0</b> is out: faster start, <a href=\"https://www.corvane.example/\">"
        "read the release notes</a> and tell us what you think.<!--URL=https://a.example/-->"));

    const int ticks = 5000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < ticks; ++i) {
        QTimerEvent event(banner.getTimerId());
        QCoreApplication::sendEvent(&banner, &event);
    }
    const double us = clock.nsecsElapsed() / 1000.0 / ticks;
    std::printf("ticker step (repaint of a 468 px line): %.1f us, %.2f %% of one core at 50 steps/s\n", us,
        us * 50 / 10000.0);
    return 0;
}
