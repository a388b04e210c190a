#pragma once

#include "support/FileResult.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

// What the program knows about the names in one working folder: the names the card
// import brought in (the camera's own), how many "_" parts the card's names had when
// they all agreed, and the names that reassignments gave (with the barcode each got).
// A name alone cannot tell "12345_0007.JPG" (barcoded) from "IMG_0001.JPG" (a camera's)
// nor "IMG_20261207_093012.jpg" (a phone's) from "P26_IMG_0001.JPG"; this record can.
// Kept as one small file per folder in the state folder, so that it outlives the
// process and is shared by the window and the command-line tool.
class PhotoNameRecord
{
public:
    QString folder; // as found (links resolved)
    QSet<QString> originals; // file names as imported
    std::optional<int> nameParts; // of every imported name, when they agreed
    QHash<QString, QString> given; // file name -> the barcode a reassignment gave it

    bool isEmpty() const { return originals.isEmpty() && given.isEmpty() && !nameParts; }

    // The record of a folder; an empty one when there is none or it cannot be read
    // (the damage is logged, and the names are then judged by their part count).
    static PhotoNameRecord load(const QString &folder);
    // Changes the record under a lock shared with every other process, and writes it durably.
    static FileResult update(const QString &folder, const std::function<void(PhotoNameRecord &)> &change);
    // A fresh record for a folder the card import has just filled with these names.
    static FileResult recordImport(const QString &folder, const QStringList &names);
    // The names a reassignment gave: old and new path of each photo it renamed.
    static FileResult recordGiven(const QList<std::pair<QString, QString>> &renames);

    static QString recordPathFor(const QString &folder);
    // "_"-separated parts of a base name, blank ones left out.
    static int namePartCount(const QString &fileName);
    // The same part count for every name, or nothing when they differ (or there are none).
    static std::optional<int> agreedPartCount(const QStringList &names);
    // The barcode a rename put in front of a name: what the new name has before the "_"
    // that begins the part it kept of the old name; nothing when it kept nothing or added nothing.
    static std::optional<QString> barcodeGiven(const QString &oldName, const QString &newName);
};
