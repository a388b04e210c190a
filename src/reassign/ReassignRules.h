#pragma once

#include "model/PhotoNameRule.h"

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// The renaming rules of reassignment as pure functions: names in, names out.
class ReassignRules
{
public:
    // One-barcode reassignment: the new file name of a photo given the barcode, or
    // nothing when the photo is left alone (its base name already begins with the
    // barcode). "unknown_" (any case) is removed where it first occurs; the barcode goes
    // in front of a name with no barcode yet, in place of the old barcode of one that
    // carries one (as the folder's rule reads them: a camera's name is kept whole).
    static std::optional<QString> newFileNameForBarcode(const QString &fileName, const QString &barcode,
                                                        const PhotoNameRule &rule = PhotoNameRule());

    // The barcode as entered is empty once spaces and tabs are trimmed.
    static bool isEmptyBarcode(const QString &barcode);

    // One photo of the automatic run, in processing order.
    struct WorkEntry
    {
        QString path;
        std::optional<QString> code; // the barcode entered for this barcode photo
        std::optional<QString> newname; // full path it is to take
        friend bool operator==(const WorkEntry &, const WorkEntry &) = default;
    };
    // Automatic reassignment: every photo of the folder (in the loader's order, reversed
    // when asked) takes the barcode of the last barcode photo before it; photos before
    // the first barcode photo keep their names.
    static QList<WorkEntry> automaticWorkList(const QStringList &folderOrderPaths,
                                              const QHash<QString, QString> &barcodeOfPath, bool reverse);
};
