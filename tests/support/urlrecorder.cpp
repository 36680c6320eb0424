// Catches the addresses the program hands to the desktop's browser.
#include "urlrecorder.h"

#include <QDesktopServices>

namespace {

// The web, and what else a hostile text may try to have the desktop open.
const char* const schemes[] = {"http", "https", "file", "ftp", "mailto", "javascript", "data", "smb"};

} // namespace

UrlRecorder::UrlRecorder(QObject* parent)
    : QObject(parent)
{
    for (const char* scheme : schemes)
        QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
}

UrlRecorder::~UrlRecorder()
{
    for (const char* scheme : schemes)
        QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
}

void UrlRecorder::open(const QUrl& url)
{
    opened.append(url);
}
