#include "ReassignRun.h"

#include "BarcodeText.h"
#include "ReassignJournal.h"
#include "ReassignRecovery.h"
#include "ReassignRules.h"
#include "support/FreedesktopTrash.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
QList<ReassignJournal::Entry> planEntries(const QList<RenamePlan::Step> &steps)
{
    QList<ReassignJournal::Entry> entries;
    entries.reserve(steps.size());
    for (const RenamePlan::Step &s : steps)
        entries.append({s.from, s.to, QString(), QString()});
    return entries;
}

QList<ReassignJournal::Entry> doneEntries(const QList<RenamePlan::Outcome> &outcomes,
                                          const QHash<QString, QString> &trash)
{
    QList<ReassignJournal::Entry> entries;
    entries.reserve(outcomes.size());
    for (const RenamePlan::Outcome &o : outcomes)
        entries.append({o.from, o.to, o.finalPath, trash.value(o.finalPath)});
    return entries;
}

RenamePlan::BeforePark parkNote(ReassignJournal &journal)
{
    return [&journal](const RenamePlan::Parking &parking) { return journal.noteParked(parking); };
}

QStringList pathsOf(const QList<QUrl> &urls)
{
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl &url : urls)
        paths.append(url.toLocalFile());
    return paths;
}
} // namespace

ReassignRun::Report ReassignRun::oneBarcode(const QList<QUrl> &urlstochange, const QString &barcode)
{
    logLine(u"ReassignRun -> oneBarcode.... "_s + QString::number(urlstochange.size()) + u" photos to "_s + barcode);
    if (const std::optional<QString> problem = BarcodeText::problem(barcode)) {
        logLine(u"ReassignRun -> oneBarcode.... refused: "_s + *problem);
        Report refused;
        refused.refusal = *problem;
        return refused;
    }
    QList<RenamePlan::Step> steps;
    for (const QString &path : pathsOf(urlstochange)) {
        const QFileInfo info(path);
        if (const std::optional<QString> name = ReassignRules::newFileNameForBarcode(info.fileName(), barcode))
            steps.append({path, info.path() + u'/' + *name});
        else
            logLine(u"ReassignRun -> oneBarcode.... "_s + info.fileName() + u" already begins with "_s + barcode);
    }
    Report report;
    ReassignRecovery::recoverInterrupted();
    ReassignJournal journal;
    journal.begin(u"barcode"_s, planEntries(steps));
    report.renames = RenamePlan::execute(steps, parkNote(journal));
    journal.complete(doneEntries(report.renames, {}));
    report.journalPath = journal.path();
    return report;
}

QList<RenamePlan::Step> ReassignRun::automaticPlan(const QList<QUrl> &fullUrlList,
                                                   const QHash<QString, QString> &barcodeOfPath, bool reverse)
{
    QList<RenamePlan::Step> steps;
    for (const ReassignRules::WorkEntry &entry :
         ReassignRules::automaticWorkList(pathsOf(fullUrlList), barcodeOfPath, reverse)) {
        if (entry.newname)
            steps.append({entry.path, *entry.newname});
    }
    return steps;
}

ReassignRun::Report ReassignRun::automatic(const QList<QUrl> &fullUrlList, const QHash<QString, QString> &barcodeOfPath,
                                           bool reverse)
{
    logLine(u"ReassignRun -> automatic.... "_s + QString::number(fullUrlList.size()) + u" photos, "_s
            + QString::number(barcodeOfPath.size()) + u" barcode photos"_s);
    // One refused barcode refuses the run: its photos would otherwise take the barcode before it.
    for (auto it = barcodeOfPath.cbegin(); it != barcodeOfPath.cend(); ++it) {
        if (const std::optional<QString> problem = BarcodeText::problem(it.value())) {
            logLine(u"ReassignRun -> automatic.... refused: "_s + it.key() + u": "_s + *problem);
            Report refused;
            refused.refusal = QFileInfo(it.key()).fileName() + u": "_s + *problem;
            return refused;
        }
    }
    const QList<RenamePlan::Step> steps = automaticPlan(fullUrlList, barcodeOfPath, reverse);
    Report report;
    ReassignRecovery::recoverInterrupted();
    ReassignJournal journal;
    journal.begin(u"automatic"_s, planEntries(steps));
    report.renames = RenamePlan::execute(steps, parkNote(journal));

    // Only a barcode photo that this run itself renamed goes: never a file that
    // happened to hold the name meant for it.
    QHash<QString, QString> trashOf;
    for (const RenamePlan::Outcome &outcome : std::as_const(report.renames)) {
        if (!barcodeOfPath.contains(outcome.from) || !outcome.renamed)
            continue;
        const FreedesktopTrash::Outcome trashed = FreedesktopTrash::moveToTrash(outcome.finalPath);
        if (trashed.result) {
            report.trashed.append(outcome.finalPath);
            trashOf.insert(outcome.finalPath, trashed.trashedFile.toString());
            continue;
        }
        logLine(u"oops something went wrong with trashItemAtURL  "_s + trashed.result.text());
        if (const FileResult removed = SafeFile::remove(outcome.finalPath); removed) {
            logLine(u"ok had to use removeItemAtURL instead of trashItemAtURL..."_s);
            report.deleted.append(outcome.finalPath);
            trashOf.insert(outcome.finalPath, u"deleted"_s);
        } else {
            logLine(u"oops something went wrong with removeItemAtURL  "_s + removed.text());
            report.kept.append(outcome.finalPath);
        }
    }
    journal.complete(doneEntries(report.renames, trashOf));
    report.journalPath = journal.path();
    return report;
}
