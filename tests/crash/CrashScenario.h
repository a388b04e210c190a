#pragma once

#include "support/SafeFile.h"

#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

// The photos each kind of killed run starts from, where each must be once the run is
// finished, and the census that finds every copy of them afterwards.

enum class Kind
{
    OneBarcode,
    Automatic,
    Swaps,
    Undo,
    FilingSameFileSystem,
    FilingOtherFileSystem,
    CardImport
};
enum class Fs
{
    Ext4,
    ExFat
};

constexpr int cKillsPerRow = 20;
constexpr int cMostAttempts = 60;
// The calls where a kill can split a file operation (rename: FUSE paths); start-up is left out.
inline const QString cKillableCalls =
    QStringLiteral("renameat2,rename,renameat,link,linkat,unlink,unlinkat,fsync,fdatasync,copy_file_range,write,mkdir");

inline bool isReassignment(Kind kind)
{
    return kind == Kind::OneBarcode || kind == Kind::Automatic || kind == Kind::Swaps || kind == Kind::Undo;
}

struct Photo
{
    QByteArray id; // hash of its bytes
    QByteArray bytes;
    QString origin;
    // Where its one copy is after the run (below it, when it ends in "/").
    QString expected;
    // Where it is after an undo of the finished reassignment.
    QString afterUndo;
    bool cardCopy = false; // the card keeps the original
};

struct Setup
{
    QString folder;
    QString working;
    QString trash; // the trash's files/ folder that takes the working folder's photos
    QString staging; // of the card import; it and any staging kept aside must be gone at the end
    QStringList args; // the run that is killed
    QStringList env; // "NAME=value" for every run on it
    QList<Photo> photos;
    QStringList roots; // everywhere a photo may be
    QStringList workRoots; // where nothing but the photos that belong there may stay
    QRandomGenerator *random = nullptr;
};

struct KillPoint
{
    QString call; // empty: a delay
    int when = 0;
    int delayMs = -1; // neither: the run is left alone
    QString lockPath; // kills at the first write into this lock file instead
    QString text() const
    {
        if (!lockPath.isEmpty())
            return QStringLiteral("while taking ") + lockPath;
        return call.isEmpty() ? QStringLiteral("after %1 ms").arg(delayMs)
                              : QStringLiteral("at %1 call %2").arg(call).arg(when);
    }
};

struct Finished
{
    bool killed = false;
    int exitCode = -1;
    QString output;
};

using Census = QHash<QByteArray, QStringList>; // photo id -> where its copies are

Census censusOf(const Setup &setup);
// Each photo once, where it belongs; a card photo also stays on the card, and a copy of
// it may wait in the trash (an import cut short after clearing the working folder).
QString misplacedPhotos(const Setup &setup, const Census &census, bool undone);
// Anything in the working folders but the photos: a temporary, an empty claim, a photo
// hidden for a swap, a staging folder kept aside.
QString leftovers(const Setup &setup, const Census &census);
void oneBarcode(Setup &s);
// In shooting-time order (the file times), so renaming keeps each photo in its group. Two
// chains: a photo's new name is held by a photo of the next group, which moves first.
void automatic(Setup &s);
// Cycles (a three-way rotation and a swap) and a chain, as a journaled run renames them.
void swaps(Setup &s);
void filing(Setup &s, const QString &destination);
void cardImport(Setup &s, const QString &card);
