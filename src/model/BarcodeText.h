#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// A barcode becomes the front of photo file names, so not every text a scanner
// can produce may serve as one: Code 39 and Code 128 can encode "/" and control
// characters, a QR code holds whole web addresses, and a typed entry can hold
// anything. This is the one rule for what a barcode may contain; every place
// that takes a barcode asks it.
class BarcodeText
{
public:
    // Why the text cannot be a barcode, in words for the operator; nothing when it can.
    // The empty text passes: whether a barcode was entered at all is asked separately.
    static std::optional<QString> problem(const QString &barcode);
    static bool isAcceptable(const QString &barcode) { return !problem(barcode); }

    // The length rule of the settings: a barcode shorter than the required length,
    // when that length is enforced, is most likely a partial scan. The words name the
    // rule and where it is set.
    static std::optional<QString> lengthProblem(const QString &barcode, bool enforced, qint64 required);
    // Where the operator changes the length rule.
    static QString lengthRulePlace();

    // The codes read in one barcode photo decide its barcode only when none of them is
    // refused by the rule: a photo showing a web address beside an id is not guessed at.
    // Of the others the first that passes the length rule is taken (a second, smaller
    // code on a card is common). Either a barcode or why there is none.
    struct Choice
    {
        QString barcode;
        QString problem;
    };
    static Choice choose(const QStringList &codes, bool enforced, qint64 required);

    // A refused text as the operator can read it: quoted, no control or invisible
    // characters, not too long.
    static QString quoted(const QString &text);

    // The longest barcode in bytes: it must leave room in a file name for the
    // separator and at least one character of the photo's own name.
    static constexpr int cMaxBytes = 253;
};
