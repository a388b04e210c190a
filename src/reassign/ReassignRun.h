#pragma once

#include "JournaledRun.h"
#include "RenamePlan.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

// The renaming runs of the reassignment sheet, shared with the command-line tool.
class ReassignRun
{
public:
    struct Report : JournaledRun::Result
    {
        QString refusal; // why nothing was done, when a barcode was refused (BarcodeText)
    };

    // Every marked photo takes the barcode (or "UNKNOWN").
    static Report oneBarcode(const QList<QUrl> &urlstochange, const QString &barcode);
    // Every photo of the folder takes the barcode of its barcode photo; the barcode
    // photos that this run renamed go to the trash.
    static Report automatic(const QList<QUrl> &fullUrlList, const QHash<QString, QString> &barcodeOfPath, bool reverse);
    // The plan of the automatic run without touching a file.
    static QList<RenamePlan::Step> automaticPlan(const QList<QUrl> &fullUrlList,
                                                 const QHash<QString, QString> &barcodeOfPath, bool reverse);
};
