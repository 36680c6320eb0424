// The banner query: asks the banner server over UDP where the advertising
// image lives and where a click on it leads.
#pragma once

#include <QAbstractSocket>
#include <QBasicTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>

class QUdpSocket;

/// Host name of the banner server, fixed when the updater is configured. The
/// environment variable CORVANE_BANNER_SERVER ("host" or "host:port")
/// overrides it at run time.
extern const char* const BANNER_SERVER;
/// The server's port unless the override names another.
constexpr quint16 bannerPort = 2009;

/// One banner query. run() resolves the server, connects the socket to it and
/// sends a 2-byte request; without an answer the request goes out once more
/// after the answer time-out (5000 ms unless set), and one time-out after
/// that the query gives up. The first datagram from the server's address and
/// port ends the query (the kernel drops those of any other sender):
/// "imageUrl,clickUrl" gives bannerFound(), anything else nothing. Every
/// failure is silent. GUI thread only.
class Banner final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(Banner)

public:
    explicit Banner(QObject* parent);

    /// Starts the query; call it once.
    void run();

    /// How long each request waits for an answer, in ms; takes effect with the
    /// next request sent.
    void setAnswerTimeout(int ms) { answerTimeoutMs = ms; }
    static constexpr int defaultAnswerTimeoutMs = 5000;

    /// Reads an answer datagram as Latin-1 "imageUrl,clickUrl"; false, with
    /// both texts untouched, for anything else.
    static bool readAnswer(const QByteArray& answer, QString& bannerUrl, QString& clickUrl);
    /// The longest answer read, in bytes; anything beyond is cut off.
    static constexpr qint64 maxAnswerSize = 1024;

signals:
    void bannerFound(QString bannerUrl, QString clickUrl);

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void onResolved(QHostInfo hostInfo);
    void onReadyRead();
    void onError(QAbstractSocket::SocketError socketError);

private:
    void sendRequest();
    void giveUp();

    QUdpSocket* socket;
    QBasicTimer timer;
    QHostAddress serverAddress;
    int timeouts = 0;
    int answerTimeoutMs = defaultAnswerTimeoutMs;
    quint16 serverPort = bannerPort;
};
