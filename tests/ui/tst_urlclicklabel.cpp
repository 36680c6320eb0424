// The clickable label: any press anywhere opens its address; no address, nothing.
#include <QTest>

#include "ui/urlclicklabel.h"
#include "urlrecorder.h"

class TestUrlClickLabel : public QObject {
    Q_OBJECT

private slots:
    void press_data();
    void press();
};

void TestUrlClickLabel::press_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("pos");

    QTest::newRow("left button in the middle") << "http://maker.example/" << Qt::LeftButton << QPoint(24, 24);
    QTest::newRow("right button counts too") << "http://maker.example/" << Qt::RightButton << QPoint(24, 24);
    QTest::newRow("corner counts too") << "https://maker.example/a?b=c" << Qt::LeftButton << QPoint(0, 0);
    QTest::newRow("no address: nothing opens") << "" << Qt::LeftButton << QPoint(24, 24);
}

void TestUrlClickLabel::press()
{
    QFETCH(QString, url);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, pos);

    UrlRecorder recorder;
    UrlClickLabel label;
    label.resize(48, 48);
    if (!url.isEmpty())
        label.setUrl(url);
    QTest::mousePress(&label, button, Qt::NoModifier, pos);

    const QList<QUrl> expected = url.isEmpty() ? QList<QUrl>() : QList<QUrl> {QUrl(url)};
    QCOMPARE(recorder.opened, expected);
}

QTEST_MAIN(TestUrlClickLabel)
#include "tst_urlclicklabel.moc"
