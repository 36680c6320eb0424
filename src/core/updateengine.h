// The update engine: drives one update session for the main window.
#pragma once

#include <QObject>

class QString;

class UpdateEngine final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY(UpdateEngine)

public:
    // Deletes, in dir, the "_old_" copies of the updater's own files that an
    // earlier self-update renamed because they were in use. Missing files and
    // failed deletions are silent.
    static void removeOldFiles(const QString& dir);
};
