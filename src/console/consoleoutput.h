// Where the console front-end writes: log lines and a redrawn progress line
// on standard error, the summary on standard output.
#pragma once

#include <QString>

class QJsonObject;

/// Terminal: log lines scroll above one progress line that is redrawn in
/// place. Lines: log lines only, one per line, with no control characters,
/// for pipes and files. Quiet: errors only. Json: everything, log lines
/// included, as one JSON object per line on standard output, nothing on
/// standard error. Every write goes out at once, so lines from the two
/// streams keep their order on a shared terminal.
class ConsoleOutput final {
public:
    enum Mode { Terminal, Lines, Quiet, Json };

    /// Json when asked for; otherwise Terminal when standard error is a
    /// terminal that understands redrawing.
    static Mode detect(bool quiet, bool json = false);

    /// errorsOnly leaves out the log lines that are not errors in Json mode
    /// (the other modes say it by their own).
    explicit ConsoleOutput(Mode mode, bool errorsOnly = false);
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
    /// The run's result, on standard output; Json mode writes its result as an event.
    void result(const QString& line);
    /// One object as one line on standard output, in Json mode only.
    void event(const QJsonObject& object);
    /// The text of the last error written, or empty.
    QString lastError() const { return m_lastError; }
    /// Columns of the terminal, 80 when it does not say.
    static int width();

private:
    void writeLine(const QString& line);

    void logEvent(const QString& level, const QString& line);

    Mode m_mode;
    bool m_errorsOnly;
    QByteArray m_progress;
    QString m_lastError;
};
