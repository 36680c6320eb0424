// Prints what the window's details log costs on a release of many files:
// some 300,000 lines for 100,000 files, appended while the log is hidden and
// while it is shown, with the time per line and the peak memory they add.
//   bench_detailslog [hidden lines] [shown lines]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdio>

#include "app/configuration.h"
#include "processmemory.h"
#include "ui/mainwindow.h"

namespace {

void append(MainWindow& window, int lines, const char* what)
{
    const qint64 before = ProcessMemory::statusKiB("VmHWM");
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i) {
        window.onAppendText(QStringLiteral("Downloading files/d%1/m%2.dat finished").arg(i % 200).arg(i));
        if (i % 1000 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    std::printf("%-7s %7d lines: %7.0f ms, %5.1f us per line, peak memory +%.1f MiB\n", what, lines,
        clock.nsecsElapsed() / 1e6, clock.nsecsElapsed() / 1e3 / lines,
        (ProcessMemory::statusKiB("VmHWM") - before) / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("CORVANE_BANNER_SERVER", "127.0.0.1:9");
    QApplication app(argc, argv);
    const int hidden = argc > 1 ? QByteArray(argv[1]).toInt() : 300000;
    const int shown = argc > 2 ? QByteArray(argv[2]).toInt() : 60000;
    // The window copies every line to standard error; that is not measured.
    if (!std::freopen("/dev/null", "w", stderr))
        return 1;

    QTemporaryDir clientDir;
    Configuration::setAppRootPathOverride(clientDir.path());
    Configuration configuration;
    configuration.setClientType(QStringLiteral("client_linux_amd64"));
    MainWindow window(configuration);
    window.show();
    QCoreApplication::processEvents();

    append(window, hidden, "hidden");
    window.findChild<QTextEdit*>(QStringLiteral("outputTextEdit"))->show();
    append(window, shown, "shown");
    return 0;
}
