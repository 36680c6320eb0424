// Catches the addresses the program hands to the desktop's browser, so a test
// can check what a click would open without starting anything.
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class UrlRecorder final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(UrlRecorder)

public:
    // Takes over http, https and other schemes a link may name (file, ftp,
    // mailto, javascript, data, smb) for as long as it lives.
    explicit UrlRecorder(QObject* parent = nullptr);
    ~UrlRecorder() override;

    QList<QUrl> opened;

public slots:
    // Called by the desktop services by name.
    void open(const QUrl& url);
};
