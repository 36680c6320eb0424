// Verifies one file, by its MD5 digest when one is given, otherwise by the
// RSA signature in the file of the same name with ".sig" appended.
#pragma once

#include "tasks/asynctaskspecification.h"

#include <QString>

class QByteArray;

/// Checks a file on the global thread pool and announces the verdict through
/// checkDone before the task ends. With failOnMismatch false a failed check
/// still finishes the task, so the creator can react (retry another mirror).
class CheckSignatureTaskSpecification final : public ASyncTaskSpecification {
    Q_OBJECT

public:
    /// An empty md5 selects the signature check against the built-in key.
    CheckSignatureTaskSpecification(
        QString filePath, QString md5, bool failOnMismatch, QObject* parent, double parentProgressRange);

    /// The file's MD5 is already known (taken while it was written): the check
    /// compares md5Hex with the expected digest at once, on this thread,
    /// instead of reading the file.
    void useDigest(const QByteArray& md5Hex) { knownDigest = md5Hex; }
    void execute() override;

    QString filePath;
    /// Expected digest as hexadecimal text, compared ignoring case.
    QString md5;
    bool failOnMismatch;

signals:
    /// Emitted on the GUI thread right before finished or canceled. A receiver
    /// may discard the task tree that holds this task (with deleteLater).
    void checkDone(bool pass, CheckSignatureTaskSpecification* task);

protected:
    ASyncFunc* createFunction() override;
    void runDone(bool ok) override;

private:
    QByteArray knownDigest;
};

/// The work of one check; also usable on its own, on any thread, by calling
/// run() directly (its messages then reach whoever is connected, if anyone).
class CheckSigFunc final : public ASyncFunc {
    Q_OBJECT

public:
    CheckSigFunc(const QString& filePath, const QString& md5);

    /// The verdict: checkMD5() when an expected digest was given, else checkRSA().
    bool run() override;
    bool checkMD5();
    bool checkRSA();
    /// Reads the whole file into data; false after a message if it cannot be
    /// opened or yields a different number of bytes than its size.
    bool readFile(QString name, QByteArray& data);

private:
    QString filePath;
    QString md5;
};
