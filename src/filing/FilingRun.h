#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>

// Filing the processed photos: every file at the top level of the working folder
// goes into the daily destination folder, except photos still without a barcode,
// which stay or go to the unassigned-photos folder as the settings say. Nothing in
// the destination is ever replaced: a photo whose name is taken there is either
// already filed (the same bytes) or filed under a numbered name. A move to another
// file system copies, syncs and checks before it removes the original. At most one
// run works on a working folder at a time, across processes. A run that would file
// a folder into itself, or outside the destination, is refused before anything moves.
class FilingRun
{
public:
    enum class EventKind
    {
        Moving,
        Moved,
        MovedUnassigned,
        LeftInPlace,
        Failed
    };
    // How a moved photo met the destination (for Moved and MovedUnassigned).
    enum class Placement
    {
        AsNamed,
        UnderNewName, // a different photo had its name: target is the numbered name
        AlreadyFiled // an identical photo had its name: the working copy was removed
    };
    struct Event
    {
        EventKind kind = EventKind::Moving;
        QString name; // file name
        QString target; // where it goes (or went)
        QString detail; // the reason it stayed or failed
        qsizetype index = 0; // 1-based position among the files of the run
        qsizetype total = 0;
        Placement placement = Placement::AsNamed;
    };

    // A photo the operator should hear about: its name and where it is now.
    struct Notice
    {
        QString name;
        QString target;
    };
    // What stays in the working folder, and why.
    struct Left
    {
        qsizetype noBarcode = 0; // photos with no barcode yet
        qsizetype unknown = 0; // photos marked unknown
        qsizetype notPhotos = 0;
        qsizetype failed = 0; // could not be moved
        QStringList looksBarcoded; // taken for camera names by their part count alone
    };
    struct Summary
    {
        qsizetype total = 0; // files found
        qsizetype attempted = 0; // sent to the daily destination folder
        qsizetype moved = 0; // of those, moved (an already filed photo counts)
        qsizetype failures = 0; // any failed move, the unassigned ones included
        QList<Notice> renamed; // filed under a numbered name
        QList<Notice> alreadyFiled; // an identical copy was there; the working copy was removed
        qsizetype notReached = 0; // left in the working folder because the run was stopped
        Left left;
        QString title;
        QString text;
    };

    enum class Stop
    {
        None,
        MissingSource,
        MissingDestination,
        Unlistable,
        AlreadyRunning,
        BadDestination, // the daily folder pattern or the destination path leads elsewhere
        IntoItself // the working folder and the destination (or unassigned folder) contain one another
    };
    struct Result
    {
        Stop stop = Stop::None;
        QString reason; // for a stop
        std::optional<Summary> summary; // absent when the run stopped before filing
    };

    // Runs on the calling thread; events arrive on it too. Once stopRequested is
    // set, the run ends before its next photo: a photo is never left half moved,
    // and the rest stay in the working folder.
    static Result run(const QString &srcPath, const QString &destPath,
                      const std::function<void(const Event &)> &observer = {},
                      const std::atomic<bool> *stopRequested = nullptr);

    // The lock that keeps one run per working folder (the card import takes it too,
    // so a folder is never emptied while it is being filed).
    static QString lockPathFor(const QString &srcPath);

    // The summary's title and text for the counts, followed by what stayed in the working
    // folder and the photos filed under a numbered name or found already filed. Any failed
    // move (an unassigned photo that then went to the daily folder included), and any photo
    // that stays, rules out "ALL".
    static Summary summarize(qsizetype moved, qsizetype attempted, qsizetype total, qsizetype failures = 0,
                             const QList<Notice> &renamed = {}, const QList<Notice> &alreadyFiled = {},
                             const std::optional<Left> &left = std::nullopt);
};
