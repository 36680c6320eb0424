// A label that opens a fixed address in the browser when clicked.
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
        QDesktopServices::openUrl(QUrl(url));
    event->accept();
}
