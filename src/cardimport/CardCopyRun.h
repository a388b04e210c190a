#pragma once

#include "FolderClearing.h"
#include "support/SerialQueue.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class BarcodeCache;

// Copying a camera card into the working folder. Every photo on the card
// (subfolders flattened, hidden files left out, names kept byte for byte; a name
// that an earlier folder of the card already gave takes the first free numbered
// one, "IMG_0001-2.JPG") is copied into a staging folder private to the user, on the working folder's
// file system where possible, synced and read back against its source. Only
// when every photo found is safely staged is the working folder cleared (into
// the trash, never deleted) and filled from the staging folder: renames where
// both share a file system, else checked copies. A working folder holding photos
// is cleared only when the operator agreed to it. The card itself is never
// written to, and a staging folder that may hold the only copy of a card is
// never cleared: it is kept under a dated name, until a later import finds each
// of its files on the card or in the working folder.
class CardCopyRun
{
public:
    struct Progress
    {
        qsizetype filesDone = 0; // safely staged
        qsizetype filesFailed = 0; // could not be staged
        qsizetype filesTotal = 0;
        qint64 bytesDone = 0;
        qint64 bytesTotal = 0;
        double seconds = 0; // since the copying began
        double megabytesPerSecond() const { return seconds > 0 ? bytesDone / 1e6 / seconds : 0; }
    };

    struct Options
    {
        QString cardFolder;
        QString stagingFolder; // empty: stagingFolderFor(workingFolder)
        QString workingFolder; // empty: nothing is copied
        QString destinationFolder; // never emptied, nor any folder holding it
        QString ejectPath; // unmounted once the card is staged; empty: nothing is ejected
        // The operator agreed that the photos now in the working folder go to the trash.
        bool discardWorkingFolder = false;
        int settleMs = 400; // after the eject, before the working folder is filled
        int copyThreads = 4; // staging copies under way at once
        std::function<void(const QString &)> status;
        std::function<void(const Progress &)> progress;
        std::function<void(const QString &path)> eject; // empty: VolumeEjector
        std::function<void(const QString &name, qint64 bytes)> copied; // each photo staged
        // Where each staged photo's barcodes are read into, beside the copy: the import never
        // waits for them, and a photo not read by then is read when its folder is shown.
        BarcodeCache *barcodes = nullptr;

        // The card run of the program: working folder, destination and card volume from the settings.
        static Options fromSettings(const QString &cardFolder);
    };

    enum class Outcome
    {
        Transferred, // the working folder now holds the card's photos
        CardUnreadable, // the card's folder could not be listed
        StagingIncomplete, // some photo was not staged: the working folder was not touched
        NoPhotos, // nothing to import: the working folder was not touched
        NoWorkingFolder, // no working folder set, or it does not exist: nothing was copied
        WorkingFolderRefused, // the working folder may not be cleared (or clearing it failed)
        TransferIncomplete, // the working folder was cleared but some photo could not be put there
        // Nothing was copied: photos in the working folder, folders overlapping the card, no room,
        // a photo that no free name is left for.
        Refused
    };

    struct Skip
    {
        QString name;
        QString reason;
    };
    struct Numbered
    {
        QString cardPath;
        QString name; // in the working folder
    };

    struct Result
    {
        Outcome outcome = Outcome::CardUnreadable;
        qsizetype entries = 0; // regular files found on the card (hidden ones left out)
        qsizetype photos = 0; // of those, photos
        qsizetype planned = 0; // photos to stage
        qsizetype staged = 0;
        qsizetype transferred = 0;
        qsizetype workingFolderPhotos = 0; // photos found in the working folder before the copy
        qint64 bytes = 0; // staged
        double copySeconds = 0;
        double seconds = 0; // the whole run
        bool ejected = false;
        QList<Numbered> numbered; // photos imported under a numbered name, as an earlier one had theirs
        QList<Skip> failed; // photos that could not be named, staged or transferred
        QStringList walkErrors;
        QString stagingFolder;
        QString keptFolder; // where staged photos were kept because they may be their only copy
        // Folders that earlier imports kept, removed now that each of their files was found
        // on the card or in the working folder.
        QStringList removedKeptFolders;
        // Folders that earlier imports kept and that stay, as some file of theirs was found
        // nowhere else; each is told with the reason.
        QList<Skip> earlierKept;
        QString message; // for the operator when the run stopped or fell short
        // Examples of the card's names when they do not agree on a count of "_" parts: the
        // photos are then told by the names recorded, and the operator is told so.
        QString mixedNames;
        qsizetype workingFolderBarcoded = 0; // of workingFolderPhotos, those carrying a barcode
        // The operator must hear about it (a missing working folder only closes the sheet).
        bool needsAlert() const
        {
            return (outcome != Outcome::Transferred || !earlierKept.isEmpty() || !mixedNames.isEmpty())
                && outcome != Outcome::NoWorkingFolder && outcome != Outcome::CardUnreadable;
        }
        // One line for the status of the sheet: what really happened, in counts.
        QString summary() const;
    };

    // Where the staging folder for a working folder goes: under the user's cache
    // folder when that shares the working folder's file system, else a hidden
    // folder of the user's beside the working folder, else the cache folder anyway.
    static QString stagingFolderFor(const QString &workingFolder);

    // Folders where copies of card photos wait since an earlier import of this working
    // folder kept them (or was killed while making them), until an import of their card
    // finds each elsewhere or the operator clears them; empty when there are none.
    static QStringList keptStagingFolders(const QString &workingFolder);

    // Photos (by type, hidden files left out) anywhere below a folder.
    static qsizetype photosInFolder(const QString &folder);

    // Photos at the top of a folder that carry a barcode: filing would have taken them.
    static qsizetype unfiledBarcodedPhotos(const QString &folder);
    // "47 photos (33 of them carry a barcode and were never filed)".
    static QString leftOverText(qsizetype photos, qsizetype barcoded);
    // "1 photo", "3 photos".
    static QString photosText(qsizetype n);

    // Runs on the calling thread; callbacks arrive on it or on a copying thread, one at a time.
    static Result run(const Options &options);

    // Empties a folder into the trash; refuses (false, reason given and logged) for
    // "/", the home folder or a folder holding it, a mount point or a folder holding
    // one, the destination folder (prefDestinationPath) or one holding it, and the
    // extra protected folders or any folder holding one of them. False, nothing
    // created, when the path names no folder. Stops at the first entry the trash
    // does not take: nothing is ever deleted outright. The folder itself is kept,
    // so its owner, permissions and identity (stored folder references) survive.
    static bool removeFolderAtPath(const QString &path, const QStringList &alsoProtected = {},
                                   QString *reason = nullptr);

    // The root and home folders removeFolderAtPath compares against (FolderClearing).
    using ProtectedRoots = FolderClearing::ProtectedRoots;
    static bool removeFolderAtPath(const QString &path, const QStringList &alsoProtected, QString *reason,
                                   const ProtectedRoots &roots);
    // Why removeFolderAtPath would refuse the folder, or nothing when it would
    // empty it; touches nothing.
    static std::optional<QString> refusalToEmpty(const QString &path, const QStringList &alsoProtected = {},
                                                 const ProtectedRoots &roots = ProtectedRoots::real());

    // Runs never overlap within the program: every run is queued here.
    static SerialQueue &queue();
};
