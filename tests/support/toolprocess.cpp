// Runs one of the project's command-line programs to its end.
#include "toolprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ToolProcess {

Result run(const QString& program, const QStringList& args, const QString& workDir, int timeoutMs)
{
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return {};
    }
    Result result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

Result runOnTerminal(const QString& program, const QStringList& args, int timeoutMs, const Terminal& setup)
{
    // Everything the child needs is made before the fork: after it, only
    // async-signal-safe calls may run there.
    std::vector<QByteArray> words {QFile::encodeName(program)};
    for (const QString& arg : args)
        words.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> entries;
    for (const QString& entry : setup.environment.toStringList())
        entries.push_back(entry.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const QByteArray workDir = QFile::encodeName(setup.workDir);
    winsize size {};
    size.ws_col = setup.columns;
    size.ws_row = setup.rows;

    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid < 0)
        return {};
    if (pid == 0) {
        if (workDir.isEmpty() || ::chdir(workDir.constData()) == 0)
            ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    QByteArray written;
    const QDeadlineTimer deadline(timeoutMs);
    char block[4096];
    for (;;) {
        pollfd ready {terminal, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(deadline.remainingTime()));
        if (polled == 0)
            break;
        if (polled < 0 && errno == EINTR)
            continue;
        const ssize_t got = polled < 0 ? -1 : ::read(terminal, block, sizeof block);
        // The terminal reports an error (EIO) once the program and its
        // children have closed their side.
        if (got <= 0)
            break;
        written.append(block, qsizetype(got));
    }
    ::close(terminal);
    if (deadline.hasExpired())
        ::kill(pid, SIGKILL);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return {};
    Result result;
    result.exitCode = WIFEXITED(status) && !deadline.hasExpired() ? WEXITSTATUS(status) : -1;
    result.out = QString::fromUtf8(written);
    return result;
}

} // namespace ToolProcess
