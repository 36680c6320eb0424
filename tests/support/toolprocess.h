// Runs one of the project's command-line programs to its end, for tests that
// check what it writes, prints and returns.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace ToolProcess {

struct Result {
    int exitCode = -1; // -1 when the program did not start, crashed or timed out
    QString out;
    QString err;
};

Result run(const QString& program, const QStringList& args, const QString& workDir = QString(),
    int timeoutMs = 60000);

// Where and how a program runs on a terminal; the defaults are the caller's
// directory and environment and a terminal that does not tell its size.
struct Terminal {
    QString workDir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    unsigned short columns = 0;
    unsigned short rows = 0;
};

// Runs program with a pseudo-terminal as its standard input, output and
// error, as a person at a terminal would; out holds all it wrote there.
Result runOnTerminal(
    const QString& program, const QStringList& args, int timeoutMs = 60000, const Terminal& terminal = {});

} // namespace ToolProcess
