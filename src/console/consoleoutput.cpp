// Console output.
#include "consoleoutput.h"

#include <cerrno>

#include <sys/ioctl.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "consoletext.h"

namespace {

constexpr int defaultWidth = 80;
// Back to the start of the line and erase it.
const QByteArray eraseLine("\r\x1b[K");

void writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        // A reader that went away (a closed pipe) must not stop the update.
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}

} // namespace

ConsoleOutput::Mode ConsoleOutput::detect(bool quiet, bool json)
{
    if (json)
        return Json;
    if (quiet)
        return Quiet;
    const QByteArray term = qgetenv("TERM");
    return ::isatty(STDERR_FILENO) && term != "dumb" ? Terminal : Lines;
}

ConsoleOutput::ConsoleOutput(Mode mode, bool errorsOnly)
    : m_mode(mode)
    , m_errorsOnly(errorsOnly)
{
}

ConsoleOutput::~ConsoleOutput()
{
    clearProgress();
}

void ConsoleOutput::log(const QString& line)
{
    if (m_mode == Json) {
        if (!m_errorsOnly)
            logEvent(QStringLiteral("info"), line);
    } else if (m_mode != Quiet) {
        writeLine(line);
    }
}

void ConsoleOutput::error(const QString& line)
{
    m_lastError = line;
    if (m_mode == Json)
        logEvent(QStringLiteral("error"), line);
    else
        writeLine(QStringLiteral("error: ") + line);
}

void ConsoleOutput::logEvent(const QString& level, const QString& line)
{
    event(QJsonObject {{QStringLiteral("event"), QStringLiteral("log")}, {QStringLiteral("level"), level},
        {QStringLiteral("message"), line}});
}

void ConsoleOutput::event(const QJsonObject& object)
{
    // Compact JSON escapes every control character, so one object stays one line.
    if (m_mode == Json)
        writeAll(STDOUT_FILENO, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void ConsoleOutput::writeLine(const QString& line)
{
    QByteArray bytes;
    if (!m_progress.isEmpty())
        bytes += eraseLine;
    bytes += ConsoleText::plain(line).toUtf8() + '\n';
    if (!m_progress.isEmpty())
        bytes += m_progress;
    writeAll(STDERR_FILENO, bytes);
}

void ConsoleOutput::progress(const QString& line)
{
    if (m_mode != Terminal)
        return;
    // Kept encoded: every log line written under it writes it again.
    const QByteArray text = ConsoleText::plain(line).toUtf8();
    if (text == m_progress)
        return;
    m_progress = text;
    writeAll(STDERR_FILENO, eraseLine + m_progress);
}

void ConsoleOutput::clearProgress()
{
    if (m_progress.isEmpty())
        return;
    m_progress.clear();
    writeAll(STDERR_FILENO, eraseLine);
}

void ConsoleOutput::result(const QString& line)
{
    if (m_mode == Quiet || m_mode == Json)
        return;
    clearProgress();
    writeAll(STDOUT_FILENO, ConsoleText::plain(line).toUtf8() + '\n');
}

int ConsoleOutput::width()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return defaultWidth;
}
