#include "ReassignRunText.h"

#include "model/BarcodeText.h"
#include "settings/SharedConstants.h"
#include "support/NativePath.h"
#include "support/Plural.h"

#include <QFileInfo>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
QString displayName(const QString &path)
{
    return NativePath::forDisplay(QFileInfo(path).fileName());
}
} // namespace

QString ReassignRunText::unknownTitle(const QString &format, qsizetype count)
{
    return QString(format)
        .replace(u"[val1]"_s, QString::number(count))
        .replace(u"(s)"_s, Plural::word(count, QString(), u"s"_s));
}

std::optional<QVariant> ReassignRunText::prompt(const std::optional<QVariantMap> &prompts, qint64 mode,
                                                bool applyingReadings)
{
    if (applyingReadings)
        return u"Check the barcode read in this photo: Return accepts it; type or scan to correct it."_s;
    std::optional<QVariant> chosen;
    if (prompts && prompts->contains(u"unknown"_s))
        chosen = prompts->value(u"unknown"_s);
    if (prompts && prompts->contains(QString::number(mode)))
        chosen = prompts->value(QString::number(mode));
    return chosen;
}

ReassignRunText::Message ReassignRunText::automaticRunSummary(const QList<RenamePlan::Step> &plan,
                                                              const QHash<QString, QString> &barcodeOfPath,
                                                              qsizetype photoCount)
{
    // Each barcode once, in the order its group comes, with the photos that take it.
    QStringList order;
    QHash<QString, qsizetype> photosOf;
    qsizetype barcodePhotos = 0;
    for (const RenamePlan::Step &step : plan) {
        if (barcodeOfPath.contains(step.from)) {
            ++barcodePhotos;
            continue;
        }
        // The new name is the barcode, the separator and the old name.
        const QString barcode = QFileInfo(step.to).fileName().chopped(QFileInfo(step.from).fileName().size()
                                                                      + cDefaultComponentSeparator1.size());
        if (!photosOf.contains(barcode))
            order.append(barcode);
        ++photosOf[barcode];
    }
    const qsizetype renamed = plan.size() - barcodePhotos;
    const qsizetype unaccepted = std::count_if(barcodeOfPath.cbegin(), barcodeOfPath.cend(),
                                               [](const QString &barcode) { return barcode.isEmpty(); });
    const qsizetype keep = photoCount - plan.size();
    QString keeping = Plural::count(keep, u"photo keeps its name"_s, u"photos keep their names"_s);
    if (unaccepted > 0)
        keeping += u" ("_s
            + Plural::count(unaccepted, u"barcode photo without a barcode begins"_s,
                            u"barcode photos without a barcode begin"_s)
            + u" a group that stays as it is)"_s;
    keeping += u"."_s;
    if (plan.isEmpty())
        return {true, u"Nothing to Reassign"_s, keeping, {u"OK"_s}};

    constexpr qsizetype cListed = 12;
    QStringList lines;
    for (qsizetype i = 0; i < order.size() && i < cListed; ++i)
        lines << order.at(i) + u": "_s + Plural::count(photosOf.value(order.at(i)), u"photo"_s, u"photos"_s);
    if (order.size() > cListed)
        lines << u"… and "_s + Plural::count(order.size() - cListed, u"more barcode"_s, u"more barcodes"_s);
    lines << QString();
    lines << Plural::count(barcodePhotos, u"barcode photo goes"_s, u"barcode photos go"_s) + u" to the trash."_s;
    lines << keeping;
    return {false,
            u"Reassign "_s + Plural::count(renamed, u"Photo"_s, u"Photos"_s) + u" to "_s
                + Plural::count(order.size(), u"Barcode"_s, u"Barcodes"_s) + u"?"_s,
            lines.join(u'\n'),
            {u"Go Back"_s, u"Reassign"_s}};
}

ReassignRunText::Message ReassignRunText::unresolvedReadings(const QList<std::pair<QString, QString>> &photos)
{
    QStringList lines;
    for (const auto &[path, problem] : photos)
        lines << displayName(path) + u": "_s + problem;
    return {false, u"! BARCODE REFUSED !"_s,
            u"Nothing was renamed. Give "_s + Plural::word(photos.size(), u"this photo"_s, u"these photos"_s)
                + u" a barcode by typing or scanning it:\n\n"_s + lines.join(u"\n"_s)};
}

ReassignRunText::Message ReassignRunText::agreedLengthOffer(qsizetype agreed, qint64 required)
{
    const QString characters = Plural::count(agreed, u"character"_s, u"characters"_s);
    return {false,
            u"Use Barcodes of "_s + characters + u"?"_s,
            u"Every code read on this card has "_s + characters + u", but the barcode length rule asks for at least "_s
                + Plural::count(required, u"character"_s, u"characters"_s) + u", so each would be refused. Use "_s
                + QString::number(agreed) + u" as the required length from now on? It can be changed again in "_s
                + BarcodeText::lengthRulePlace() + u"."_s,
            {u"Keep "_s + QString::number(required), u"Use "_s + QString::number(agreed)}};
}

ReassignRunText::Message ReassignRunText::notStarted(const QString &journalError)
{
    return {false, u"! NOTHING WAS RENAMED !"_s,
            u"The record of the reassignment could not be written, so no photo was touched: "_s + journalError};
}

std::optional<ReassignRunText::Message> ReassignRunText::afterRun(const ReassignRun::Report &report)
{
    QStringList kept;
    for (const RenamePlan::Outcome &outcome : report.renames) {
        if (!outcome.renamed && !outcome.error.isEmpty())
            kept << displayName(outcome.from) + u": "_s + outcome.error;
    }
    for (const QString &path : report.kept)
        kept << displayName(path)
                + u": a barcode photo the trash would not take; it stays in the folder under this name"_s;
    QString title =
        u"! "_s + Plural::count(kept.size(), u"PHOTO KEPT ITS NAME"_s, u"PHOTOS KEPT THEIR NAMES"_s) + u" !"_s;
    if (!report.journalError.isEmpty()) {
        if (kept.isEmpty())
            title = u"! THE REASSIGNMENT WAS NOT RECORDED !"_s;
        kept << u"The photos were renamed, but the record of the run could not be completed (the next visit to the "
                u"folder completes it): "_s
                + report.journalError;
    }
    if (kept.isEmpty())
        return std::nullopt;
    return Message {false, title, kept.join(u'\n')};
}
