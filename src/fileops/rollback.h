// The undo journal of the installation phase: one record per change made to
// the client directory, undone newest first when the phase does not complete.
#pragma once

#include <functional>

#include <QList>
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

/// The journal: records in the order the changes were made.
class RollbackDataList : public QList<RollbackData> {
public:
    void add(const RollbackData& record);
    void appendList(const RollbackDataList& other);
    /// Undoes every record, newest first, and leaves the journal empty even
    /// when a step fails (each failure is reported once, never retried).
    /// True if every step succeeded.
    bool rollback(const RollbackWarning& warn);
};
