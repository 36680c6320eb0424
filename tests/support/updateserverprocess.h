// corvane-updateserver as a child process of a test: started on free loopback
// ports, stopped with SIGTERM, its request log at hand.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class UpdateServerProcess final {
public:
    UpdateServerProcess() = default;
    ~UpdateServerProcess();
    UpdateServerProcess(const UpdateServerProcess&) = delete;
    UpdateServerProcess& operator=(const UpdateServerProcess&) = delete;

    // Starts program with args plus free ports, unless args name ports
    // themselves, and waits up to 10 s for it to listen; false otherwise
    // (errorText() then holds its output).
    bool start(const QString& program, const QStringList& args);
    // Sends SIGTERM and waits for the end; the exit code, or -1 on a crash or hang.
    int stop();

    quint16 versionPort() const { return m_versionPort; }
    quint16 bannerPort() const { return m_bannerPort; }
    // "127.0.0.1:<port>", the form CORVANE_UPDATE_SERVER and CORVANE_BANNER_SERVER take.
    QString versionServer() const;
    QString bannerServer() const;
    // Everything it printed so far.
    QString log();
    QString errorText();

private:
    QProcess m_process;
    QString m_out;
    quint16 m_versionPort = 0;
    quint16 m_bannerPort = 0;
};
