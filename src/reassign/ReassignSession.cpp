#include "ReassignSession.h"

#include "BarcodeEntryRules.h"
#include "model/BarcodeText.h"
#include "settings/SettingsQueries.h"
#include "support/NotificationNames.h"

#include <algorithm>

void ReassignSession::takeReadings(const QVariant &readings, const BarcodeEntryRules &rules)
{
    applyingReadings = readings.metaType() == QMetaType::fromType<QVariantMap>();
    detectedCodes.clear();
    if (!applyingReadings)
        return;
    const QVariantMap map = readings.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        detectedCodes.insert(it.key(), rules.proposalOrder(it.value().toStringList()));
}

namespace {
std::optional<QList<QUrl>> urlListFrom(const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<QList<QUrl>>())
        return std::nullopt;
    return value.value<QList<QUrl>>();
}
} // namespace

std::optional<QList<QUrl>> ReassignSession::takeFolder(const QVariantMap &userInfo)
{
    if (std::optional<QList<QUrl>> all = urlListFrom(userInfo.value(NotificationKeys::fulSortedlUrlList)))
        fullUrlList = std::move(all);
    return urlListFrom(userInfo.value(NotificationKeys::urlstochange));
}

void ReassignSession::setUrlsToChange(const std::optional<QList<QUrl>> &urls)
{
    if (urls)
        urlstochange = *urls;
}

void ReassignSession::takePhotos(const std::optional<QList<QUrl>> &received, bool reverse)
{
    sortedurlsWithBarcodes = QHash<QString, QString>();
    setUrlsToChange(received);
    QList<QUrl> sorted = urlstochange;
    // Readings come in the browser's order, which is the order the photos were taken in.
    if (!applyingReadings)
        std::stable_sort(sorted.begin(), sorted.end(), [](const QUrl &a, const QUrl &b) {
            return a.toString(QUrl::FullyEncoded) < b.toString(QUrl::FullyEncoded);
        });
    sortedurlstochange = sorted;
    curindex = reverse && !isAutomatic() ? std::max(int(sorted.size()) - 1, 0) : 0;
    curindexString = QString::number(curindex);
}

bool ReassignSession::isAutomatic() const
{
    return applyingReadings || SettingsQueries::isAutoReassignMode();
}

bool ReassignSession::hasPhotoAt(int index) const
{
    return sortedurlstochange && index >= 0 && index < sortedurlstochange->size();
}

QString ReassignSession::pathAt(int index) const
{
    return hasPhotoAt(index) ? sortedurlstochange->at(index).toLocalFile() : QString();
}

QStringList ReassignSession::neighboursOf(int index) const
{
    QStringList neighbours;
    for (const int near : {index + 1, index - 1}) {
        if (hasPhotoAt(near))
            neighbours << pathAt(near);
    }
    return neighbours;
}

void ReassignSession::moveTo(int index)
{
    curindex = index;
    curindexString = QString::number(curindex);
}

std::optional<QString> ReassignSession::acceptedFor(const QString &path) const
{
    if (!sortedurlsWithBarcodes || !sortedurlsWithBarcodes->contains(path))
        return std::nullopt;
    return sortedurlsWithBarcodes->value(path);
}

std::optional<QString> ReassignSession::proposalFor(const QString &path) const
{
    if (!applyingReadings || detectedCodes.value(path).isEmpty())
        return std::nullopt;
    return detectedCodes.value(path).constFirst();
}

bool ReassignSession::record(const QString &barcode)
{
    if (barcode.isEmpty() || !hasPhotoAt(curindex))
        return false;
    if (!sortedurlsWithBarcodes)
        sortedurlsWithBarcodes = QHash<QString, QString>();
    sortedurlsWithBarcodes->insert(pathAt(curindex), barcode);
    return true;
}

QHash<QString, QString> ReassignSession::barcodesForRun() const
{
    QHash<QString, QString> barcodes = sortedurlsWithBarcodes.value_or(QHash<QString, QString>());
    // A barcode photo whose code was not accepted still begins a group: one that keeps its
    // names, where without it those photos would join the group before.
    if (applyingReadings && sortedurlstochange) {
        for (const QUrl &url : *sortedurlstochange)
            barcodes.insert(url.toLocalFile(), barcodes.value(url.toLocalFile()));
    }
    return barcodes;
}

ReassignSession::Unresolved ReassignSession::unresolvedReadings(const QHash<QString, QString> &barcodes,
                                                                const BarcodeEntryRules &rules) const
{
    // A barcode photo the operator gave no barcode, whose codes give none either: carried
    // on as a group that keeps its names it would hide a card nobody could read.
    Unresolved unresolved;
    if (!applyingReadings || !sortedurlstochange)
        return unresolved;
    for (int i = 0; i < sortedurlstochange->size(); ++i) {
        const QString path = pathAt(i);
        if (!barcodes.value(path).isEmpty())
            continue;
        const BarcodeText::Choice choice =
            BarcodeText::choose(detectedCodes.value(path), rules.enforced(), rules.required());
        if (choice.problem.isEmpty())
            continue;
        unresolved.photos.append({path, choice.problem});
        if (unresolved.first < 0)
            unresolved.first = i;
    }
    return unresolved;
}

ReassignSession::Step ReassignSession::stepBy(int delta) const
{
    const int last = sortedurlstochange ? int(sortedurlstochange->size()) - 1 : -1;
    const int next = curindex + delta;
    // Past the last barcode photo there is nothing left to check: the run is shown for confirming.
    if (applyingReadings && next > last)
        return {curindex, false, true};
    if (next < 0 || next > last)
        return {std::clamp(next, 0, std::max(last, 0)), true, false};
    return {next, false, false};
}
