// The news ticker: default link from the comment, clicks, the scroll and pause
// cycle (with the ticks sent by the test), and the height of one document line.
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QTextDocument>
#include <QTimerEvent>

#include "ui/newsbanner.h"
#include "urlrecorder.h"

namespace {

// One tick of the ticker's own timer, delivered now.
void tick(NewsBanner& banner)
{
    QTimerEvent event(banner.getTimerId());
    QCoreApplication::sendEvent(&banner, &event);
}

bool isBlank(const QImage& image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

} // namespace

class TestNewsBanner : public QObject {
    Q_OBJECT

private slots:
    void click_data();
    void click();
    void pauseCycle();
    void narrowedWidgetRestartsInside();
    void heightFollowsDocument_data();
    void heightFollowsDocument();
};

void TestNewsBanner::click_data()
{
    QTest::addColumn<QString>("news");
    QTest::addColumn<QString>("defaultUrl");
    QTest::addColumn<bool>("onText"); // press on the first characters, else well beside them
    QTest::addColumn<QString>("opened"); // empty: nothing opens

    const QString link = QStringLiteral("<a href=\"http://link.example/x\">a rather long link text</a>");
    QTest::newRow("URL comment, press beside the text")
        << "<!--URL=http://news.example/a-->Plain news"
        << "http://news.example/a" << false << "http://news.example/a";
    QTest::newRow("URL comment, press on plain text")
        << "<!--URL=http://news.example/a-->Plain news text"
        << "http://news.example/a" << true << "http://news.example/a";
    QTest::newRow("lower-case key sets nothing") << "<!--url=http://news.example/a-->Plain news"
                                                 << "" << false << "";
    QTest::newRow("comment without = sets nothing") << "<!--http://news.example/a-->Plain news"
                                                    << "" << false << "";
    QTest::newRow("value may hold =") << "<!--URL=http://news.example/?a=b-->News"
                                      << "http://news.example/?a=b" << false << "http://news.example/?a=b";
    QTest::newRow("two comments: greedy from first to last")
        << "<!--URL=http://news.example/a-->mid<!--b-->"
        << "http://news.example/a-->mid<!--b" << false << "http://news.example/a-->mid<!--b";
    QTest::newRow("greedy across a line break")
        << "<!--URL=http://news.example/a-->\nmid<!--b-->"
        << "http://news.example/a-->\nmid<!--b" << false << "http://news.example/a-->\nmid<!--b";
    QTest::newRow("no comment") << "Plain news"
                                << "" << false << "";
    QTest::newRow("link wins over the default") << link + "<!--URL=http://news.example/a-->"
                                                << "http://news.example/a" << true << "http://link.example/x";
    QTest::newRow("beside a link without default") << link << "" << false << "";
    QTest::newRow("link without default") << link << "" << true << "http://link.example/x";
    // Only web addresses open, from a link or the default.
    QTest::newRow("a link to a local file opens nothing")
        << "<a href=\"file:///etc/passwd\">a rather long link text</a>"
        << "" << true << "";
    QTest::newRow("a default of another scheme opens nothing") << "<!--URL=smb://share.example/x-->Plain news"
                                                               << "smb://share.example/x" << false << "";
}

void TestNewsBanner::click()
{
    QFETCH(QString, news);
    QFETCH(QString, defaultUrl);
    QFETCH(bool, onText);
    QFETCH(QString, opened);

    UrlRecorder recorder;
    NewsBanner banner;
    banner.resize(300, 16);
    banner.setNews(news);
    QCOMPARE(banner.getDefaultUrl(), defaultUrl);

    // The text enters 10 pixels inside the right edge.
    QCOMPARE(banner.getOffset(), 290);
    const QPoint pos(onText ? 295 : 100, banner.height() / 2);
    QTest::mousePress(&banner, Qt::LeftButton, Qt::NoModifier, pos);

    const QList<QUrl> expected = opened.isEmpty() ? QList<QUrl>() : QList<QUrl> {QUrl(opened)};
    QCOMPARE(recorder.opened, expected);
}

void TestNewsBanner::pauseCycle()
{
    NewsBanner banner;
    banner.resize(200, 16);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    banner.setNews(QStringLiteral("<b>News of the day</b>"));
    const int start = banner.getOffset();
    QCOMPARE(start, 190);

    int ticks = 0;
    while (!banner.isPaused() && ticks < 2000) {
        tick(banner);
        ++ticks;
        if (!banner.isPaused())
            QCOMPARE(banner.getOffset(), start - ticks);
    }
    QVERIFY(banner.isPaused());
    // The whole text crossed the widget and left it by more than 10 pixels.
    QVERIFY(ticks > 200);
    QCOMPARE(banner.getOffset(), 190);
    QVERIFY(isBlank(banner.grab().toImage()));

    // The pause lasts about three seconds of real time, then the ticker moves on.
    QElapsedTimer pause;
    pause.start();
    QTRY_VERIFY_WITH_TIMEOUT(!banner.isPaused(), 6000);
    QVERIFY2(pause.elapsed() >= 2800, qPrintable(QString::number(pause.elapsed())));
    QVERIFY(banner.getOffset() < 190);
    QVERIFY(!isBlank(banner.grab().toImage()));

    // Driven by hand: the first tick after a pause starts one pixel in from the restart position.
    while (!banner.isPaused() && ticks < 4000) {
        tick(banner);
        ++ticks;
    }
    QVERIFY(banner.isPaused());
    tick(banner);
    QVERIFY(!banner.isPaused());
    QCOMPARE(banner.getOffset(), 189);

    // New news start over from the right edge.
    tick(banner);
    banner.setNews(QStringLiteral("Other news"));
    QCOMPARE(banner.getOffset(), 190);
    QVERIFY(!banner.isPaused());
}

void TestNewsBanner::narrowedWidgetRestartsInside()
{
    NewsBanner banner;
    banner.resize(400, 16);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    banner.setNews(QStringLiteral("News"));
    QCOMPARE(banner.getOffset(), 390);
    banner.resize(200, banner.height());
    tick(banner);
    QCOMPARE(banner.getOffset(), 190);
}

void TestNewsBanner::heightFollowsDocument_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("news");

    QTest::newRow("before any news: one line") << false << "";
    QTest::newRow("empty news") << true << "";
    QTest::newRow("one plain line") << true << "Plain news";
    QTest::newRow("large heading") << true << "<h1>Big news</h1>";
    QTest::newRow("two lines") << true << "first<br>second";
}

void TestNewsBanner::heightFollowsDocument()
{
    QFETCH(bool, set);
    QFETCH(QString, news);

    NewsBanner banner;
    if (set)
        banner.setNews(news);
    // Before any news the ticker is as high as one line of plain news, so
    // the window keeps its height when they come.
    QTextDocument document;
    document.setHtml(set ? news : QStringLiteral("One line"));
    document.setDocumentMargin(0);
    const int expected = int(document.size().height());
    QCOMPARE(banner.minimumHeight(), expected);
    QCOMPARE(banner.maximumHeight(), expected);
}

QTEST_MAIN(TestNewsBanner)
#include "tst_newsbanner.moc"
