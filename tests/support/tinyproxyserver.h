// The stock tinyproxy on loopback, as a proxy between the updater and the
// mirrors, optionally asking for a user name and password.
#pragma once

#include <QProcess>
#include <QString>

class TinyproxyServer final {
public:
    TinyproxyServer() = default;
    ~TinyproxyServer();
    TinyproxyServer(const TinyproxyServer&) = delete;
    TinyproxyServer& operator=(const TinyproxyServer&) = delete;

    // The tinyproxy executable, or empty when it is not installed.
    static QString binary();

    // Writes a configuration below workDir and starts tinyproxy in the
    // foreground; with a user, only requests with these Basic credentials
    // pass. True once it accepts connections (10 s at most).
    bool start(const QString& workDir, const QString& user = QString(), const QString& password = QString());
    void stop();

    quint16 port() const { return m_port; }
    // How many requests for a URL that contains urlPart it passed on.
    int forwarded(const QString& urlPart) const;
    // Its log, for failure messages.
    QString logText() const;

private:
    QProcess m_process;
    QString m_workDir;
    quint16 m_port = 0;
};
