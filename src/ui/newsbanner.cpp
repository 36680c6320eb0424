// The one-line news ticker of the main window.
#include "newsbanner.h"

#include <QAbstractTextDocumentLayout>
#include <QCursor>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTimerEvent>
#include <QUrl>

namespace {

constexpr int stepMs = 20;
constexpr int pauseMs = 3000;
// The text enters this far inside the right edge and leaves this far past the left one.
constexpr int edgeMarginPx = 10;

void openLink(const QString& link)
{
    QDesktopServices::openUrl(QUrl(link));
}

} // namespace

NewsBanner::NewsBanner(QWidget* parent)
    : QWidget(parent)
    , document(new QTextDocument(this))
{
    setObjectName(QStringLiteral("NewsBanner"));
    // The text scrolls through whatever width the layout gives; its own
    // width must never ask for more, or long news would widen the window.
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
    // One line of text high from the start, the height one-line news will
    // have, so the window does not change its height when the news arrive.
    document->setDocumentMargin(0);
    const int lineHeight = int(document->size().height());
    setMinimumHeight(lineHeight);
    setMaximumHeight(lineHeight);
}

void NewsBanner::setNews(const QString& news)
{
    defaultUrl = defaultUrlOf(news);
    document->setHtml(news);
    document->setDocumentMargin(0);
    paused = false;
    offset = width() - edgeMarginPx;
    // Laid out once here, not on every tick.
    const QSizeF size = document->size();
    documentWidth = int(size.width());
    documentHeight = int(size.height());
    setMinimumHeight(documentHeight);
    setMaximumHeight(documentHeight);
    timer.start(stepMs, this);
}

// The match is greedy on purpose: it runs from the first "<!--" to the last "-->",
// across line breaks, which is how news authors have always had it behave.
QString NewsBanner::defaultUrlOf(const QString& news)
{
    static const QRegularExpression comment(
        QStringLiteral("<!--(.+)-->"), QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = comment.match(news);
    if (!match.hasMatch())
        return {};
    const QString entry = match.captured(1);
    const int equals = entry.indexOf(QLatin1Char('='));
    if (equals < 0 || entry.left(equals) != QLatin1String("URL"))
        return {};
    return entry.mid(equals + 1);
}

QString NewsBanner::anchorAt(const QPoint& pos) const
{
    return document->documentLayout()->anchorAt(QPointF(pos.x() - offset, pos.y()));
}

void NewsBanner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    if (paused) {
        paused = false;
        timer.start(stepMs, this);
    }
    --offset;
    repaint();
}

void NewsBanner::mousePressEvent(QMouseEvent* event)
{
    const QString anchor = anchorAt(event->position().toPoint());
    if (!anchor.isEmpty())
        openLink(anchor);
    else if (!defaultUrl.isEmpty())
        openLink(defaultUrl);
    event->accept();
}

void NewsBanner::paintEvent(QPaintEvent* /*event*/)
{
    if (paused)
        return;
    // A narrowed widget would otherwise show nothing until the text had
    // crossed the gap.
    if (offset > width())
        offset = width() - edgeMarginPx;

    QPainter painter(this);
    painter.translate(offset, (height() - documentHeight) * 0.5);
    document->drawContents(&painter);

    if (offset + documentWidth < -edgeMarginPx) {
        paused = true;
        offset = width() - edgeMarginPx;
        timer.start(pauseMs, this);
    }
    setCursor(anchorAt(mapFromGlobal(QCursor::pos())).isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
}
