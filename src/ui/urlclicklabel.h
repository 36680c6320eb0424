// A label (logo, banner image) that opens a fixed address in the browser when clicked.
#pragma once

#include <QLabel>
#include <QString>

class UrlClickLabel final : public QLabel {
    Q_OBJECT
    Q_DISABLE_COPY(UrlClickLabel)

public:
    explicit UrlClickLabel(QWidget* parent = nullptr);

    /// The address a click opens; empty (the default) makes clicks do nothing.
    void setUrl(const QString& url);
    const QString& getUrl() const { return url; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString url;
};
