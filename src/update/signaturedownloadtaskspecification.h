// The signature of a signed file of a release, as the mirror has it: the
// SHA-256 one ("<name>.sig256") where there is one, else the SHA-1 one
// ("<name>.sig"). The signature check takes whichever lies beside the file.
#pragma once

#include <QString>

#include "tasks/composedtaskspecification.h"

class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

/// Asks the mirror for remotePath + ".sig256" and, only where it answers that
/// it has none (404), fetches remotePath + ".sig"; each goes to localPath plus
/// the same suffix. Signatures are never reused: a ".sig256" left at
/// localPath from before is removed first, so that the check never takes a
/// stale one for the mirror's. Any other failure of a download (no mirror
/// left) ends the task in ErrorCanceled. GUI thread only; the manager and
/// registry are not owned.
class SignatureDownloadTaskSpecification final : public ComposedTaskSpecification {
    Q_OBJECT
    Q_DISABLE_COPY(SignatureDownloadTaskSpecification)

public:
    SignatureDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors, QString remotePath,
        QString localPath, QObject* parent, double parentProgressRange);

    void execute() override;
    void reset() override;

    /// Once finished: the MD5 digest (hex) of the signature fetched, taken as
    /// its bytes came.
    QByteArray md5Hex() const;
    /// For a file that may come unsigned (the patch index): a mirror that
    /// has neither signature is then an answer, not a fault, and isAbsent()
    /// says so once finished.
    void setAbsenceAllowed(bool allowed) { absenceAllowed = allowed; }
    bool isAbsent() const;

    /// Nobody announces the size of a signature: this is far above the
    /// signature of the largest key a key file can hold. More is treated like
    /// any oversized file.
    static constexpr qint64 maxSignatureBytes = 64 * 1024;

private:
    DownloadTaskSpecification* addDownload(const QString& suffix, double weight);
    void onStrongSignatureDone(DownloadTaskSpecification* download);

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    QString remotePath;
    QString localPath;
    // The download that brought the signature.
    DownloadTaskSpecification* fetched = nullptr;
    bool absenceAllowed = false;
};
