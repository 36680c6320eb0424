// The banner query over UDP.
#include "banner.h"

#include "base/serveraddress.h"
#include "buildconfig.h"

#include <QHostInfo>
#include <QStringList>
#include <QTimerEvent>
#include <QUdpSocket>

// Upper case, unlike our other constants: the name is an established one,
// matched by the CORVANE_BANNER_SERVER setting that overrides it.
const char* const BANNER_SERVER = CORVANE_DEFAULT_BANNER_SERVER;

Banner::Banner(QObject* parent)
    : QObject(parent)
    , socket(new QUdpSocket(this))
{
    connect(socket, &QUdpSocket::readyRead, this, &Banner::onReadyRead);
    connect(socket, &QUdpSocket::errorOccurred, this, &Banner::onError);
}

void Banner::run()
{
    const ServerAddress server =
        ServerAddress::fromEnvironment("CORVANE_BANNER_SERVER", BANNER_SERVER, bannerPort);
    serverPort = server.port;
    QHostInfo::lookupHost(QString::fromUtf8(server.host), this, &Banner::onResolved);
}

void Banner::onResolved(QHostInfo hostInfo)
{
    if (hostInfo.error() != QHostInfo::NoError)
        return;
    serverAddress.clear();
    for (const QHostAddress& address : hostInfo.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            serverAddress = address;
            break;
        }
    }
    if (serverAddress.isNull())
        return;
    // Connected, the socket takes datagrams from the server's address and
    // port alone: nobody else can answer in its place. For a datagram
    // socket the connection is made at once.
    socket->connectToHost(serverAddress, serverPort);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        giveUp();
        return;
    }
    sendRequest();
}

void Banner::sendRequest()
{
    static const QByteArray request("\x01\x01", 2);
    if (socket->write(request) != request.size()) {
        giveUp();
        return;
    }
    timer.start(answerTimeoutMs, this);
}

void Banner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    if (timeouts++ < 1)
        sendRequest();
    else
        giveUp();
}

void Banner::onReadyRead()
{
    timer.stop();
    QByteArray answer(maxAnswerSize, '\0');
    const qint64 size = socket->readDatagram(answer.data(), maxAnswerSize);
    // The first datagram ends the query, whatever it holds: a late answer to
    // the first request must not start a second image download.
    giveUp();
    if (size < 0)
        return;
    answer.truncate(size);
    QString bannerUrl;
    QString clickUrl;
    if (readAnswer(answer, bannerUrl, clickUrl))
        emit bannerFound(bannerUrl, clickUrl);
}

bool Banner::readAnswer(const QByteArray& answer, QString& bannerUrl, QString& clickUrl)
{
    const QStringList parts = QString::fromLatin1(answer).split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return false;
    bannerUrl = parts[0];
    clickUrl = parts[1];
    return true;
}

void Banner::onError(QAbstractSocket::SocketError /*socketError*/)
{
    giveUp();
}

void Banner::giveUp()
{
    timer.stop();
    socket->close();
}
