// A label (logo, banner image) that opens a fixed web address in the browser when clicked.
#pragma once

#include <QLabel>
#include <QString>

class QUrl;

class UrlClickLabel final : public QLabel {
    Q_OBJECT
    Q_DISABLE_COPY(UrlClickLabel)

public:
    explicit UrlClickLabel(QWidget* parent = nullptr);

    /// The address a click opens; empty (the default) makes clicks do nothing,
    /// and so does any address that isWebUrl() refuses.
    void setUrl(const QString& url);
    const QString& getUrl() const { return url; }

    /// Whether url is an http or https address: the only ones the updater
    /// hands to the desktop. Others could name a local file or start a
    /// program registered for its scheme.
    static bool isWebUrl(const QUrl& url);
    /// Opens address in the desktop's browser if isWebUrl() accepts it;
    /// false, opening nothing, otherwise.
    static bool openInBrowser(const QString& address);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString url;
};
