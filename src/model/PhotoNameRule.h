#pragma once

#include "PhotoNameRecord.h"

#include <QString>

// The one rule for whether a photo of a working folder carries a barcode, which the
// loader, reassignment, the card import, filing and the command-line tool all ask.
// In this order: an unknown marker; a name the card import brought in, unchanged,
// is a camera original; a name a reassignment gave carries its barcode; a barcode
// and "_" in front of an imported name carry that barcode; only a name the folder's
// record knows nothing of is judged by its count of "_" parts (the count the card's
// names agreed on, else the operator's setting).
class PhotoNameRule
{
public:
    enum class Kind
    {
        Unknown, // marked as belonging to no barcode
        Original, // no barcode yet
        Barcoded
    };
    struct Reading
    {
        Kind kind = Kind::Original;
        QString barcode; // for Barcoded: the barcode; for Unknown: the marker part
        // Decided by counting parts alone, for a name that could also be the other kind.
        bool guessed = false;
        // An original by part count whose name has a separator: it may carry a barcode.
        bool looksBarcoded() const { return kind == Kind::Original && guessed; }
    };

    // Without a record: part counts alone.
    PhotoNameRule() = default;
    explicit PhotoNameRule(const QString &folder);
    explicit PhotoNameRule(PhotoNameRecord record);

    Reading read(const QString &fileNameOrPath) const;
    // The id of the browser section a photo belongs to: its barcode, the unknown marker's
    // own section, or "?originalFileName?" for photos with no barcode yet.
    QString sectionId(const QString &fileNameOrPath) const;

    const PhotoNameRecord &record() const { return m_record; }

    // The count rule with the operator's setting prefOriginalNameFormatTag: 0 exactly one
    // part, 1 at most two, 2 at most three; any other value never (logged).
    static bool isOriginalByPartCount(const QString &fileNameOrPath);

private:
    PhotoNameRecord m_record;
};
