// The download mirrors of one update session: which mirror carries the next
// transfer, how many transfers each may carry, and which have failed too often.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QSettings;

/// One mirror as a plain value; transfers hold copies and name the mirror
/// in later calls to the registry.
struct FTPSiteAccessData {
    QString name; // key of the mirror, compared exactly
    QString url; // base URL with the client version appended
    int retries = 0; // errors tolerated; one more removes the mirror
    int timeoutTicks = 15; // silent progress ticks before a transfer counts as stalled
    int errors = 0;
    int inUse = 0; // transfers holding one of the slots
    int maxConnections = 1; // slots
};

/// The mirror registry of one update session. Loaded once, it only shrinks
/// afterwards: a mirror leaves when it fails more often than it tolerates or
/// when a caller removes it, and never comes back.
///
/// Transfers are spread over the mirrors at random, each mirror weighted by
/// its free slots. GUI thread only.
class Mirrors final : public QObject {
    Q_OBJECT

public:
    /// Results of getRandomMirror().
    enum Selection { MirrorSelected = 0, NoMirrorLeft = 1, AllSlotsTaken = 2 };

    explicit Mirrors(QObject* parent);

    /// Loads the mirrors listed in the mirrors.ini at iniPath; version is
    /// appended to every base URL. A missing file or an empty list gives an
    /// empty registry; always true.
    bool initDefault(const QString& iniPath, int version);
    /// The names in the [mirrors] array of a mirrors.ini, in array order.
    /// Entries beyond the array's size, entries without a name and names
    /// listed before are left out; only the entries the file holds are read.
    static QStringList listedNames(QSettings& settings);
    /// Loads the single alpha mirror from the [Channel] alpha key of the
    /// update.ini at updateIniPath. Without it: fatalError and false.
    bool initAlpha(const QString& updateIniPath, int version);

    /// Takes one slot of a mirror drawn at random and copies its record into
    /// out (MirrorSelected). NoMirrorLeft when the registry is empty (its
    /// message is sent once per registry), AllSlotsTaken when every slot is
    /// held; out is untouched then. Each MirrorSelected must be paired with
    /// one releaseMirror().
    int getRandomMirror(FTPSiteAccessData& out);
    /// The calls below do nothing for a name that is not (or no longer) listed.
    void releaseMirror(const QString& name);
    /// Counts an error; the error beyond the mirror's retries removes it.
    void addMirrorError(const QString& name);
    /// Removes the mirror at once and without a message.
    void removeMirror(const QString& name);

    /// Index of the mirror called name, or -1.
    int getMirrorIndex(const QString& name) const;
    /// Slots of all mirrors and those of them in use.
    void calcUseStats(int& maxTotal, int& inUseTotal) const;
    /// The listed mirrors in load order, for inspection.
    const QVector<FTPSiteAccessData>& getMirrorList() const { return mirrorList; }

    /// text with the password of mirrorUrl's user information replaced by
    /// "***" wherever the address appears in it, as written in mirrors.ini or
    /// as the network layer prints it: log lines are read and kept by others.
    static QString maskPassword(QString text, const QString& mirrorUrl);

signals:
    void fatalError(QString errorMessage);
    void message(QString message);

private:
    void setDefaults(QSettings& settings, int version);

    QVector<FTPSiteAccessData> mirrorList;
    bool noMirrorsReported = false;
};
