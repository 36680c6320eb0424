// Answers the modal message boxes a test provokes and records what they said,
// so code that asks the user can run unattended.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>

#include <functional>

class QTimer;

class MessageBoxCatcher final : public QObject {
    Q_OBJECT

public:
    // Presses answer in every message box that appears while the catcher lives.
    explicit MessageBoxCatcher(
        QMessageBox::StandardButton answer = QMessageBox::Ok, QObject* parent = nullptr);

    // Called with the box's text right before it is answered; lets a test
    // change the world between two questions (for example before a Retry).
    std::function<void(const QString& text)> beforeAnswer;

    QStringList titles;
    QStringList texts;

private:
    void onPoll();

    QMessageBox::StandardButton m_answer;
    QTimer* m_timer;
};
