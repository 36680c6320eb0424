// What the reference update server answers: the versions per release channel,
// the news text and the banner, from an INI file and command-line options.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

struct ServerConfig {
    QHostAddress bindAddress = QHostAddress::LocalHost;
    quint16 versionPort = 17384; // 0 picks a free port
    quint16 bannerPort = 2009; // 0 picks a free port
    QString channels[3]; // stable, beta, alpha: "version" or "version#display text"
    QString news;
    QString bannerImage;
    QString bannerClick;
    /// Answers per source address and second, and at once: the token bucket
    /// that keeps the server from answering forged requests without end.
    double answersPerSecond = 5;
    int answerBurst = 20;

    /// Reads the groups [server], [channels], [news] and [banner] of an INI
    /// file over the defaults; a relative news file is found beside the INI
    /// file. Returns an error text, or an empty text on success; a file that
    /// does not parse or holds a key the server does not know is an error.
    QString loadIni(const QString& path);
    /// An error text when no channel has a version: every version query
    /// would be answered with nothing to install.
    QString checkSomethingToAnswer() const;

    /// The datagrams the updater reads. Each returns an error text for content
    /// the updater would misread, or an empty text; the reply goes to out.
    QString versionReply(QByteArray& out) const;
    QString newsReply(QByteArray& out) const;
    QString bannerReply(QByteArray& out) const;
    bool hasBanner() const { return !bannerImage.isEmpty(); }
};

/// The news text of a UTF-8 file; an error text, or empty on success.
QString readNewsFile(const QString& path, QString& news);
/// The rate limit's values from text: a number above 0 (fractions allowed)
/// and a whole number from 1; false for anything else.
bool parseAnswerRate(const QString& text, double& answersPerSecond);
bool parseAnswerBurst(const QString& text, int& burst);
