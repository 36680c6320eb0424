// The undo journal of the installation phase: one record per change made to
// the client directory, undone newest first when the phase does not complete.
#pragma once

#include <functional>
#include <vector>

#include <QByteArray>
#include <QString>

/// Receives the warning of an undo step that failed. May be empty: the
/// journal is undone all the same and the warnings go nowhere.
using RollbackWarning = std::function<void(const QString& text)>;

/// One undoable change. A plain value; touched on the GUI thread only.
class RollbackData {
public:
    enum Operation {
        Rename = 0, ///< the file previousPath was renamed to path
        CreateFile = 1, ///< the file path was created
        CreateDir = 2, ///< the directory path was created
        /// the file path got new content in one step; its previous
        /// content was kept under the name previousPath
        Replace = 3
    };

    /// For CreateFile and CreateDir.
    RollbackData(Operation operation, const QString& path);
    /// For Rename, arguments in the order of the rename itself (old, new);
    /// for Replace, where the previous content is kept, then the replaced file.
    RollbackData(Operation operation, const QString& from, const QString& to);

    /// The record of a file put in place: CreateFile when old is empty,
    /// otherwise Replace with the previous content kept at old.
    static RollbackData placed(const QString& target, const QString& old);

    /// Undoes this change; false if the file system refused, after passing
    /// a warning to warn.
    bool rollback(const RollbackWarning& warn) const;

    QString path;
    QString previousPath;
    Operation operation;
};

/// The journal: records in the order the changes were made. An installation
/// of 100,000 files journals as many records for as long as it runs, so they
/// are kept packed: the paths as the file system's bytes in one buffer, those
/// below the base directory without it.
class RollbackDataList {
public:
    /// Paths below dir are kept relative to it from now on; records already
    /// added stay as they are. Empty: every path is kept whole.
    void setBaseDirectory(const QString& dir);

    void add(const RollbackData& record);
    void appendList(const RollbackDataList& other);
    qsizetype size() const { return qsizetype(records.size()); }
    bool isEmpty() const { return records.empty(); }
    /// The record at index, 0 being the oldest.
    RollbackData at(qsizetype index) const;
    RollbackData first() const { return at(0); }
    /// Forgets every record without undoing it; the base directory stays.
    void clear();
    /// Undoes every record, newest first, and leaves the journal empty even
    /// when a step fails (each failure is reported once, never retried).
    /// True if every step succeeded.
    bool rollback(const RollbackWarning& warn);

private:
    struct Record {
        // Where the record's text ends in text; it begins where the one
        // before ends.
        qsizetype end;
        RollbackData::Operation operation;
        bool hasPrevious;
        // The path, and the previous path if there is one, lie below base.
        bool pathBelowBase;
        bool previousBelowBase;
    };

    void appendPath(const QString& path, bool& belowBase);
    QString pathAt(qsizetype begin, qsizetype end, bool belowBase) const;

    std::vector<Record> records;
    // Each record's previous path (if any), a NUL, then its path; no file
    // name holds a NUL.
    QByteArray text;
    // The base directory with a trailing "/"; empty when there is none.
    QString base;
};
