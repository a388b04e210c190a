#pragma once

#include "ReassignRun.h"
#include "RenamePlan.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// What the reassignment sheet says about a run, before and after it: the
// plan to confirm, why it stops, and each photo that kept its name.
class ReassignRunText
{
public:
    struct Message
    {
        bool informational = false; // a warning otherwise
        QString title;
        QString body;
        QStringList buttons {QStringLiteral("OK")};
    };

    // The unknown button's title: "[val1]" is the number of photos, and a word written
    // with "(s)" agrees with it ("Mark [val1] Photo(s) as UNKNOWN").
    static QString unknownTitle(const QString &format, qsizetype count);
    // The first prompt line: the one the prompts setting gives for the mode, else its
    // general one; applying readings has its own.
    static std::optional<QVariant> prompt(const std::optional<QVariantMap> &prompts, qint64 mode,
                                          bool applyingReadings);
    // The run an automatic reassignment would do, for the operator to confirm with
    // the second button; a plan renaming nothing has only one.
    static Message automaticRunSummary(const QList<RenamePlan::Step> &plan,
                                       const QHash<QString, QString> &barcodeOfPath, qsizetype photoCount);
    // Barcode photos left without a barcode, each with why its readings were refused.
    static Message unresolvedReadings(const QList<std::pair<QString, QString>> &photos);
    // Offers the length every code read agrees on; the second button takes it.
    static Message agreedLengthOffer(qsizetype agreed, qint64 required);
    // A run that did not start, since its record could not be written.
    static Message notStarted(const QString &journalError);
    // A run that went well says nothing: the next group is waiting to be scanned. A photo
    // that kept its old name is no passing accident: the operator hears of each one, and why.
    static std::optional<Message> afterRun(const ReassignRun::Report &report);
};
