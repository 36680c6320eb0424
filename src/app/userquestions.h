// The questions the application core asks whoever runs it: the window
// answers with a message box, the console by its own rules.
#pragma once

class UserQuestions {
public:
    virtual ~UserQuestions() = default;

    /// The latest-version query failed for the failedTries-th time in a row;
    /// true tries again. Called on the GUI thread and may block it.
    virtual bool retryLatestVersionQuery(int failedTries) = 0;

protected:
    UserQuestions() = default;
    UserQuestions(const UserQuestions&) = default;
    UserQuestions& operator=(const UserQuestions&) = default;
};
