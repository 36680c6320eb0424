// Answers the modal message boxes a test provokes.
#include "messageboxcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QTimer>

MessageBoxCatcher::MessageBoxCatcher(QMessageBox::StandardButton answer, QObject* parent)
    : QObject(parent)
    , m_answer(answer)
    , m_timer(new QTimer(this))
{
    // A box runs its own event loop, which keeps this timer going.
    connect(m_timer, &QTimer::timeout, this, &MessageBoxCatcher::onPoll);
    m_timer->start(10);
}

void MessageBoxCatcher::onPoll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        QPointer<QMessageBox> box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible() || box->property("corvaneAnswered").toBool())
            continue;
        box->setProperty("corvaneAnswered", true);
        titles.append(box->windowTitle());
        texts.append(box->text());
        if (beforeAnswer)
            beforeAnswer(box->text());
        if (QAbstractButton* button = box->button(m_answer))
            button->click();
        else
            box->reject();
    }
}
