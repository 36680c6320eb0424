// The one-line news ticker of the main window: rich text scrolling from right
// to left, a blank pause between passes, web links that open in the browser.
#pragma once

#include <QBasicTimer>
#include <QString>
#include <QWidget>

class QTextDocument;

class NewsBanner final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY(NewsBanner)

public:
    explicit NewsBanner(QWidget* parent = nullptr);

    /// Shows news (HTML) and starts the ticker again from the right edge. A
    /// comment "<!--URL=address-->" in the text names the address a click
    /// outside any link opens. The markup loads nothing: images are left
    /// out, and style sheets and backgrounds it names are not fetched.
    void setNews(const QString& news);
    /// The link target at pos (widget coordinates), or an empty string.
    QString anchorAt(const QPoint& pos) const;
    /// The address of a "<!--URL=address-->" comment in news, or an empty string.
    static QString defaultUrlOf(const QString& news);

    /// Read-only views for the window and for tests.
    const QString& getDefaultUrl() const { return defaultUrl; }
    int getOffset() const { return offset; }
    bool isPaused() const { return paused; }
    int getTimerId() const { return timer.timerId(); }

protected:
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QBasicTimer timer;
    QTextDocument* document;
    int offset = 0;
    int documentWidth = 0;
    int documentHeight = 0;
    bool paused = false;
    QString defaultUrl;
};
