// The clickable label: any press anywhere opens its web address; no address,
// or one of another scheme, nothing.
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
    QTest::addColumn<bool>("opens");

    QTest::newRow("left button in the middle")
        << "http://maker.example/" << Qt::LeftButton << QPoint(24, 24) << true;
    QTest::newRow("right button counts too")
        << "http://maker.example/" << Qt::RightButton << QPoint(24, 24) << true;
    QTest::newRow("corner counts too")
        << "https://maker.example/a?b=c" << Qt::LeftButton << QPoint(0, 0) << true;
    QTest::newRow("no address: nothing opens") << "" << Qt::LeftButton << QPoint(24, 24) << false;
    QTest::newRow("a local file does not open")
        << "file:///etc/passwd" << Qt::LeftButton << QPoint(24, 24) << false;
    QTest::newRow("a program's scheme does not open")
        << "smb://share.example/x" << Qt::LeftButton << QPoint(24, 24) << false;
    QTest::newRow("script does not open")
        << "javascript:alert(1)" << Qt::LeftButton << QPoint(24, 24) << false;
}

void TestUrlClickLabel::press()
{
    QFETCH(QString, url);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, pos);
    QFETCH(bool, opens);

    UrlRecorder recorder;
    UrlClickLabel label;
    label.resize(48, 48);
    if (!url.isEmpty())
        label.setUrl(url);
    QTest::mousePress(&label, button, Qt::NoModifier, pos);

    const QList<QUrl> expected = opens ? QList<QUrl> {QUrl(url)} : QList<QUrl>();
    QCOMPARE(recorder.opened, expected);
}

QTEST_MAIN(TestUrlClickLabel)
#include "tst_urlclicklabel.moc"
