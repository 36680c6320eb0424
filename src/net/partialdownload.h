// What it takes to continue a download that a stopped program left half
// done: the validator of the answer that started it, kept beside the partial
// copy, and the check of a partial answer's Content-Range.
#pragma once

#include <QByteArray>
#include <QString>

class QNetworkReply;

namespace PartialDownload {

/// Only copies at least this large are worth the extra file that makes them
/// resumable; smaller ones are simply fetched again.
constexpr qint64 minResumableBytes = 4 * 1024 * 1024;

/// The file beside localPath that holds the validator.
QString validatorPath(const QString& localPath);
/// The If-Range value saved for the copy at localPath, or empty.
QByteArray loadValidator(const QString& localPath);
/// Saves the reply's strong ETag, or else its Last-Modified date; without
/// either nothing is saved (the copy is then never resumed). False if it
/// could not be written.
bool saveValidator(const QString& localPath, const QNetworkReply& reply);
/// Removes the saved validator, if any.
void forget(const QString& localPath);

/// True if contentRange ("bytes N-M/TOTAL") continues exactly at offset and
/// runs to the end of a file of totalSize bytes.
bool continuesAt(const QByteArray& contentRange, qint64 offset, qint64 totalSize);

} // namespace PartialDownload
