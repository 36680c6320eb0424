// A label that opens a fixed web address in the browser when clicked.
#include "urlclicklabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

UrlClickLabel::UrlClickLabel(QWidget* parent)
    : QLabel(parent)
{
}

void UrlClickLabel::setUrl(const QString& url)
{
    this->url = url;
}

void UrlClickLabel::mousePressEvent(QMouseEvent* event)
{
    // Any button and any position counts: the whole label is the link.
    if (!url.isEmpty())
        openInBrowser(url);
    event->accept();
}

bool UrlClickLabel::isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool UrlClickLabel::openInBrowser(const QString& address)
{
    const QUrl url(address);
    return isWebUrl(url) && QDesktopServices::openUrl(url);
}
