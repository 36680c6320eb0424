// Runs one of the project's command-line programs to its end, for tests that
// check what it writes, prints and returns.
#pragma once

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

// Runs program with a pseudo-terminal as its standard input, output and
// error, as a person at a terminal would; out holds all it wrote there.
Result runOnTerminal(const QString& program, const QStringList& args, int timeoutMs = 60000);

} // namespace ToolProcess
