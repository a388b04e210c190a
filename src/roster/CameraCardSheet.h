#pragma once

#include "support/FileResult.h"
#include "support/NativePath.h"
#include "support/SafeFile.h"

#include <QByteArray>
#include <QList>
#include <QPageSize>
#include <QRectF>
#include <QString>

class Roster;

// The camera cards of picture day, printed from the roster: one card per subject, photographed
// before that subject's portraits so that the photos can be sorted by the code it shows. Cards
// come in the order the day is shot (by class, then name), several to a sheet, with cut marks.
// Making the PDF needs a GUI application (fonts); a thousand cards take well under a second.
class CameraCardSheet
{
public:
    enum class Format
    {
        Code128,
        DataMatrix,
        QrCode,
    };
    struct Options
    {
        Format format = Format::Code128;
        QPageSize::PageSizeId paper = defaultPaper();
        QString rosterName; // shown in each page's footer, so that a loose sheet says where it came from
    };

    // US Letter where the locale measures in inches, A4 elsewhere.
    static QPageSize::PageSizeId defaultPaper();

    // The cards of each page, in points from the page's top left corner, in the order they are printed.
    static QList<QList<QRectF>> layout(qsizetype count, const Options &options);

    // The PDF; empty when the roster cannot give cards, refusal (when given) then says why in a sentence.
    static QByteArray pdf(const Roster &roster, const Options &options, QString *refusal = nullptr);

    // The PDF written durably to out; an existing file is replaced only when asked.
    static FileResult write(const Roster &roster, const Options &options, const NativePath &out,
                            SafeFile::Replace replace = SafeFile::Replace::Never);
};
