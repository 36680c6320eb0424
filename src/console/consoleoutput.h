// Where the console front-end writes: log lines and a redrawn progress line
// on standard error, the summary on standard output.
#pragma once

#include <QString>

/// Terminal: log lines scroll above one progress line that is redrawn in
/// place. Lines: log lines only, one per line, with no control characters,
/// for pipes and files. Quiet: errors only. Every write goes out at once, so
/// lines from the two streams keep their order on a shared terminal.
class ConsoleOutput final {
public:
    enum Mode { Terminal, Lines, Quiet };

    /// Terminal when standard error is a terminal that understands redrawing.
    static Mode detect(bool quiet);

    explicit ConsoleOutput(Mode mode);
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    Mode mode() const { return m_mode; }
    void log(const QString& line);
    void error(const QString& line);
    /// Replaces the progress line; only a terminal shows one.
    void progress(const QString& line);
    /// Removes the progress line.
    void clearProgress();
    /// The run's result, on standard output.
    void result(const QString& line);
    /// Columns of the terminal, 80 when it does not say.
    static int width();

private:
    void writeLine(const QString& line);

    Mode m_mode;
    QByteArray m_progress;
};
