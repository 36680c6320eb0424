// The three work lists of one update (files to download, to install, to
// delete) and the records they carry from the list compilation to the stages.
#pragma once

#include <QList>
#include <QString>

#include <memory>

/// A binary patch that gives a file to download from the file the client has
/// installed, fetched in its place.
struct FilePatchSpecification {
    /// The patch's path below the target version's folder on the mirror.
    QString remotePath;
    /// Expected MD5 (hexadecimal) and size of the patch.
    QString md5;
    quint64 size = 0;
    /// The installed file it applies to, relative to the client directory.
    QString basePath;
    /// What applying it gives: the content the file installs (for a packed
    /// file its unpacked content).
    QString resultMd5;
    quint64 resultSize = 0;
    /// The file is packed on the mirror: the result is its unpacked content.
    bool packed = false;

    /// Where the patch of the copy at localPath is fetched to, and where the
    /// content it gives is written first; never a copy's own name.
    static QString patchFileOf(const QString& localPath)
    {
        return localPath + QStringLiteral(".corvane-patch");
    }
    static QString resultFileOf(const QString& localPath)
    {
        return localPath + QStringLiteral(".corvane-patched");
    }
};

/// One file to fetch from the mirrors into the temporary directory.
struct FileDownloadSpecification {
    /// Folder on the mirror, below the target version's base URL.
    QString section;
    /// Relative path of the file, on the mirror below section and in the
    /// temporary directory.
    QString fileName;
    /// Expected MD5 of the downloaded bytes, hexadecimal.
    QString md5;
    /// Expected size of the downloaded bytes.
    quint64 size = 0;
    /// Fetched as this patch when there is one; the whole file is the
    /// fallback if the patch fails. Held apart, shared by copies: few files
    /// have one, and a record of 100,000 in a list stays small without.
    std::shared_ptr<const FilePatchSpecification> patch = nullptr;

    /// What the download is planned to transfer: the patch, or the file.
    quint64 bytesToFetch() const { return patch ? patch->size : size; }
    /// What it takes in the temporary directory at most: the patch and the
    /// content it gives (twice for a packed file, unpacked and repacked).
    quint64 bytesOnDisk() const
    {
        return patch ? patch->size + patch->resultSize * (patch->packed ? 2 : 1) : size;
    }
};

/// One file to install into the client directory from its downloaded copy.
struct FileReplaceSpecification {
    QString section;
    /// Relative path of the downloaded copy below the temporary directory.
    QString fileName;
    /// MD5 of the installed content: the unpacked content of a packed file,
    /// the download itself otherwise. The installation refuses other bytes.
    QString md5;
    /// Size of the unpacked content; 0 when the copy is installed as is.
    quint64 size = 0;
    /// Where the unpacked content goes, relative to the client directory;
    /// empty when the copy is installed as is.
    QString unzipName;

    /// True when the downloaded copy is gzip-packed and installed unpacked.
    bool hasUnzip() const { return !unzipName.isEmpty(); }
    /// The installed file's path relative to the client directory.
    QString pureDestFilePath() const { return hasUnzip() ? unzipName : fileName; }
    /// pureDestFilePath() with prefix put before its last path component.
    QString destFileName(const QString& prefix) const;
    /// Where the previously installed file waits while it is replaced.
    QString oldDestFileName() const;
};

/// How much work compiled lists hold: what a front-end tells the user
/// before and after an update, and what a check reports.
struct WorkListSummary {
    int downloads = 0;
    /// Bytes of the files to download, as the product ini gives them, or of
    /// the patches fetched in their place.
    quint64 downloadBytes = 0;
    int installs = 0;
    int deletions = 0;

    /// True when an update would change nothing in the client directory.
    bool nothingToDo() const { return installs == 0 && deletions == 0; }
};

/// The download, replace and delete lists of one update. The main task owns
/// one and hands its members to the stages by reference.
struct FileSpecifications {
    QList<FileDownloadSpecification> downloadList;
    QList<FileReplaceSpecification> replaceList;
    /// Paths relative to the client directory.
    QList<QString> deleteList;

    void clear();
    WorkListSummary summary() const;
};
