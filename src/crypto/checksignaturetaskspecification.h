// Verifies one file, by its MD5 digest when one is given, otherwise by the
// RSA signature in the file of the same name with ".sig256" appended, or
// ".sig" where there is no such file.
#pragma once

#include "tasks/asynctaskspecification.h"

#include <QByteArray>
#include <QString>

#include <memory>

/// Checks a file on the global thread pool and announces the verdict through
/// checkDone before the task ends. With failOnMismatch false a failed check
/// still finishes the task, so the creator can react (retry another mirror).
class CheckSignatureTaskSpecification final : public ASyncTaskSpecification {
    Q_OBJECT

public:
    /// An empty md5 selects the signature check against the built-in keys.
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

    /// After a signature check that passed: the SHA-256 (32 bytes) of the
    /// very bytes whose signature verified, for a caller that binds the file
    /// to a digest it learnt elsewhere. Empty otherwise.
    const QByteArray& verifiedSha256() const { return verifiedDigest; }

signals:
    /// Emitted on the GUI thread right before finished or canceled. A receiver
    /// may discard the task tree that holds this task (with deleteLater).
    void checkDone(bool pass, CheckSignatureTaskSpecification* task);

protected:
    ASyncFunc* createFunction() override;
    void runDone(bool ok) override;

private:
    QByteArray knownDigest;
    // Filled by the current run's function; each run has its own.
    std::shared_ptr<QByteArray> runDigest;
    QByteArray verifiedDigest;
};

/// The work of one check; also usable on its own, on any thread, by calling
/// run() directly (its messages then reach whoever is connected, if anyone).
class CheckSigFunc final : public ASyncFunc {
    Q_OBJECT

public:
    /// A signature check that passes stores the SHA-256 of the verified
    /// bytes in *sha256, when given.
    CheckSigFunc(const QString& filePath, const QString& md5, std::shared_ptr<QByteArray> sha256 = {});

    /// The verdict: checkMD5() when an expected digest was given, else checkRSA().
    bool run() override;
    bool checkMD5();
    /// A ".sig256" beside the file (RSA-PSS over SHA-256) is its signature,
    /// and then the only one; the ".sig" (over SHA-1) counts where there is
    /// none. Either must be by one of the trusted keys.
    bool checkRSA();
    /// Reads the whole file into data; false after a message if it cannot be
    /// opened or yields a different number of bytes than its size.
    bool readFile(QString name, QByteArray& data);

private:
    QString filePath;
    QString md5;
    std::shared_ptr<QByteArray> sha256;
};
