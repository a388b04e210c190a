#pragma once

#include <QString>
#include <optional>

// A barcode becomes the front of photo file names, so not every text a scanner
// can produce may serve as one: Code 39 and Code 128 can encode "/" and control
// characters, and a typed entry can hold anything. This is the one rule for what
// a barcode may contain; every place that takes a barcode asks it.
class BarcodeText
{
public:
    // Why the text cannot be a barcode, in words for the operator; nothing when it can.
    // The empty text passes: whether a barcode was entered at all is asked separately.
    static std::optional<QString> problem(const QString &barcode);
    static bool isAcceptable(const QString &barcode) { return !problem(barcode); }

    // The longest barcode in bytes: it must leave room in a file name for the
    // separator and at least one character of the photo's own name.
    static constexpr int cMaxBytes = 253;
};
