// A scripted UDP server on loopback for tests of the UDP clients. It runs on a
// thread of its own, so blocking clients on the test's thread get their answers.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>

#include <atomic>
#include <thread>

struct sockaddr_in;

class UdpResponder final {
public:
    UdpResponder() = default;
    ~UdpResponder();
    UdpResponder(const UdpResponder&) = delete;
    UdpResponder& operator=(const UdpResponder&) = delete;

    // Binds 127.0.0.1 on a free port and starts answering; false on failure.
    bool start();
    quint16 port() const { return m_port; }
    // "127.0.0.1:<port>", the form of the server overrides in the environment.
    QString hostAndPort() const;

    // Answers a datagram equal to request with reply (any size, zero bytes
    // included). A request without a reply is recorded and left unanswered.
    void setReply(const QByteArray& request, const QByteArray& reply);
    // Before the reply to request (or none), sends forged to the asker from a
    // socket of its own bound to fromHost ("127.0.0.2" works on Linux
    // loopback) and a free port: a stranger who saw the request and answers
    // first. Cleared with the replies.
    void setForgery(const QByteArray& request, const QByteArray& forged, const QByteArray& fromHost);
    void clearReplies();
    // Forgets the datagrams received so far.
    void clearRequests();

    // Every datagram received so far, in order.
    QList<QByteArray> requests() const;
    // The source ports of those datagrams.
    QList<quint16> requestPorts() const;
    // When each arrived, in ms of a monotonic clock: the gaps between
    // requests, free of the polling delays of the test's own waits.
    QList<qint64> requestTimesMs() const;

private:
    void run();
    static void sendForged(const QByteArray& datagram, const QByteArray& fromHost, const sockaddr_in& to);

    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
    mutable QMutex m_mutex;
    QHash<QByteArray, QByteArray> m_replies;
    QHash<QByteArray, QPair<QByteArray, QByteArray>> m_forgeries; // request: (forged, fromHost)
    QList<QByteArray> m_requests;
    QList<quint16> m_requestPorts;
    QList<qint64> m_requestTimesMs;
};
