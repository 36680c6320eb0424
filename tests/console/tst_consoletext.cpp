// The console's texts: figures, the progress line that must never wrap,
// log lines without control characters, and the summaries scripts read.
#include <QTest>

#include "console/consoletext.h"
#include "update/filespecifications.h"

namespace {

WorkListSummary work(int downloads, quint64 bytes, int installs, int deletions)
{
    WorkListSummary summary;
    summary.downloads = downloads;
    summary.downloadBytes = bytes;
    summary.installs = installs;
    summary.deletions = deletions;
    return summary;
}

} // namespace

Q_DECLARE_METATYPE(WorkListSummary)

class TestConsoleText : public QObject {
    Q_OBJECT

private slots:
    void bytes_data();
    void bytes();
    void duration_data();
    void duration();
    void progressLine_data();
    void progressLine();
    void plain_data();
    void plain();
    void summaries_data();
    void summaries();
};

void TestConsoleText::bytes_data()
{
    QTest::addColumn<quint64>("count");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing") << quint64(0) << "0 B";
    QTest::newRow("below a kilobyte in bytes") << quint64(999) << "999 B";
    QTest::newRow("units of 1000, not 1024") << quint64(1000) << "1.0 kB";
    QTest::newRow("one decimal, halves round up") << quint64(1450) << "1.5 kB";
    QTest::newRow("rounds up into the next unit") << quint64(999950) << "1.0 MB";
    QTest::newRow("stays below it just under") << quint64(999949) << "999.9 kB";
    QTest::newRow("megabytes") << quint64(48200000) << "48.2 MB";
    QTest::newRow("terabytes") << quint64(1000000000000) << "1.0 TB";
    QTest::newRow("the largest count") << std::numeric_limits<quint64>::max() << "18446.7 PB";
}

void TestConsoleText::bytes()
{
    QFETCH(quint64, count);
    QTEST(ConsoleText::bytes(count), "text");
}

void TestConsoleText::duration_data()
{
    QTest::addColumn<quint64>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("none") << quint64(0) << "0:00";
    QTest::newRow("seconds keep two digits") << quint64(7) << "0:07";
    QTest::newRow("minutes") << quint64(725) << "12:05";
    QTest::newRow("hours add a field") << quint64(3723) << "1:02:03";
    QTest::newRow("hours do not wrap at a day") << quint64(360000) << "100:00:00";
}

void TestConsoleText::duration()
{
    QFETCH(quint64, seconds);
    QTEST(ConsoleText::duration(seconds), "text");
}

void TestConsoleText::progressLine_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<bool>("transfer");
    QTest::addColumn<quint64>("done");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("speed");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("line");

    const QString downloading = QStringLiteral("Downloading");
    QTest::newRow("every figure while downloading")
        << downloading << 0.37 << true << quint64(17800000) << quint64(48200000) << quint64(5200000) << 80
        << "Downloading  37%  17.8 MB / 48.2 MB  5.2 MB/s  0:06 left";
    QTest::newRow("time left rounds up")
        << downloading << 0.5 << true << quint64(0) << quint64(1000001) << quint64(1000000) << 80
        << "Downloading  50%  0 B / 1.0 MB  1.0 MB/s  0:02 left";
    QTest::newRow("no transfer: stage and percent")
        << QStringLiteral("Installing") << 0.6 << false << quint64(5) << quint64(10) << quint64(3) << 80
        << "Installing  60%";
    QTest::newRow("a stalled transfer has no speed and no time left")
        << downloading << 0.2 << true << quint64(1000) << quint64(2000) << quint64(0) << 80
        << "Downloading  20%  1.0 kB / 2.0 kB";
    QTest::newRow("more done than expected has no time left")
        << downloading << 0.2 << true << quint64(3000) << quint64(2000) << quint64(1000) << 80
        << "Downloading  20%  3.0 kB / 2.0 kB  1.0 kB/s";
    QTest::newRow("percent stays within 0 and 100 (above)")
        << QStringLiteral("Deleting") << 1.0000001 << false << quint64(0) << quint64(0) << quint64(0) << 80
        << "Deleting 100%";
    QTest::newRow("percent stays within 0 and 100 (below)")
        << QStringLiteral("Starting") << -0.5 << false << quint64(0) << quint64(0) << quint64(0) << 80
        << "Starting   0%";
    QTest::newRow("a narrow terminal drops the time left first")
        << downloading << 0.37 << true << quint64(17800000) << quint64(48200000) << quint64(5200000) << 46
        << "Downloading  37%  17.8 MB / 48.2 MB  5.2 MB/s";
    QTest::newRow("then the speed") << downloading << 0.37 << true << quint64(17800000) << quint64(48200000)
                                    << quint64(5200000) << 40 << "Downloading  37%  17.8 MB / 48.2 MB";
    QTest::newRow("the last column stays free")
        << downloading << 0.37 << true << quint64(17800000) << quint64(48200000) << quint64(5200000) << 35
        << "Downloading  37%";
    QTest::newRow("a very narrow terminal cuts the stage")
        << downloading << 0.37 << false << quint64(0) << quint64(0) << quint64(0) << 8 << "Downloa";
    QTest::newRow("no width at all still shows a character")
        << downloading << 0.37 << false << quint64(0) << quint64(0) << quint64(0) << 0 << "D";
}

void TestConsoleText::progressLine()
{
    ConsoleText::Progress progress;
    QFETCH(QString, stage);
    progress.stage = stage;
    QFETCH(double, fraction);
    progress.fraction = fraction;
    QFETCH(bool, transfer);
    progress.transfer = transfer;
    QFETCH(quint64, done);
    progress.done = done;
    QFETCH(quint64, total);
    progress.total = total;
    QFETCH(quint64, speed);
    progress.speed = speed;
    QFETCH(int, width);
    const QString line = ConsoleText::progressLine(progress, width);
    QTEST(line, "line");
    QVERIFY(line.size() < qMax(2, width));
}

void TestConsoleText::plain_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text");

    QTest::newRow("an ordinary line stays") << "Downloading files"
                                            << "Downloading files";
    QTest::newRow("letters beyond ASCII stay") << "docs/Grüße an alle.txt"
                                               << "docs/Grüße an alle.txt";
    QTest::newRow("a newline cannot forge a second line") << "a\nUpdate successfully finished"
                                                          << "a Update successfully finished";
    QTest::newRow("an escape sequence is defused") << "\x1b[2J\rcleared"
                                                   << " [2J cleared";
    QTest::newRow("tab and delete") << "a\tb\x7f"
                                    << "a b ";
    QTest::newRow("C1 controls too") << QString::fromUtf8("a\xc2\x85"
                                                          "b\xc2\x9b"
                                                          "c")
                                     << "a b c";
}

void TestConsoleText::plain()
{
    QFETCH(QString, line);
    QTEST(ConsoleText::plain(line), "text");
}

void TestConsoleText::summaries_data()
{
    QTest::addColumn<bool>("check");
    QTest::addColumn<WorkListSummary>("work");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("update") << false << work(12, 48200000, 12, 3) << 6.14
                            << "Updated to 2.0: 12 files installed, 3 deleted, 48.2 MB downloaded in 6.1 s";
    QTest::newRow("update of one file, downloaded earlier")
        << false << work(0, 0, 1, 0) << 0.26
        << "Updated to 2.0: 1 file installed, 0 deleted, 0 B downloaded in 0.3 s";
    QTest::newRow("update that only deletes")
        << false << work(0, 0, 0, 2) << 0.1
        << "Updated to 2.0: 0 files installed, 2 deleted, 0 B downloaded in 0.1 s";
    QTest::newRow("update with nothing to do")
        << false << work(0, 0, 0, 0) << 0.2 << "Already up to date: 2.0";
    QTest::newRow("check that finds work")
        << true << work(1, 1234567, 4, 1) << 0.0
        << "Update to 2.0 available: 1 file to download (1.2 MB, 1234567 bytes), 4 to install, 1 to delete";
    QTest::newRow("check that finds nothing to do")
        << true << work(0, 0, 0, 0) << 0.0 << "Up to date: 2.0 is installed";
}

void TestConsoleText::summaries()
{
    QFETCH(bool, check);
    QFETCH(WorkListSummary, work);
    QFETCH(double, seconds);
    const QString version = QStringLiteral("2.0");
    QTEST(
        check ? ConsoleText::checkSummary(version, work) : ConsoleText::updateSummary(version, work, seconds),
        "text");
}

QTEST_GUILESS_MAIN(TestConsoleText)
#include "tst_consoletext.moc"
