// The one-line news ticker of the main window.
#include "newsbanner.h"

#include <QAbstractTextDocumentLayout>
#include <QCursor>
#include <QList>
#include <QMouseEvent>
#include <QPainter>
#include <QPair>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimerEvent>
#include <QVariant>

#include "ui/urlclicklabel.h"

namespace {

constexpr int stepMs = 20;
constexpr int pauseMs = 3000;
// The text enters this far inside the right edge and leaves this far past the left one.
constexpr int edgeMarginPx = 10;

// News come from the command line or from one datagram of anyone on the
// network. Markup may style them, but never make us read a file or follow
// an address: style sheets and background images it names stay unloaded.
class InertDocument final : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int /*type*/, const QUrl& /*name*/) override { return {}; }
};

// Images go before the document is first laid out: the layout would read an
// image it cannot get as a resource straight from the file of that name,
// and "/dev/zero" never ends.
void removeImages(QTextDocument& document)
{
    QList<QPair<int, int>> images;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                images.append({it.fragment().position(), it.fragment().length()});
        }
    }
    // From the end, so the positions before stay valid.
    QTextCursor cursor(&document);
    for (auto image = images.crbegin(); image != images.crend(); ++image) {
        cursor.setPosition(image->first);
        cursor.setPosition(image->first + image->second, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}

} // namespace

NewsBanner::NewsBanner(QWidget* parent)
    : QWidget(parent)
    , document(new InertDocument(this))
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
    // A fresh document has no layout yet, so nothing is laid out, and no
    // image read, before the images are gone.
    auto* fresh = new InertDocument(this);
    fresh->setHtml(news);
    removeImages(*fresh);
    fresh->setDocumentMargin(0);
    delete document;
    document = fresh;
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
    // Only web addresses open; a link to a file or to another program's
    // scheme does nothing.
    const QString anchor = anchorAt(event->position().toPoint());
    if (!anchor.isEmpty())
        UrlClickLabel::openInBrowser(anchor);
    else if (!defaultUrl.isEmpty())
        UrlClickLabel::openInBrowser(defaultUrl);
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
