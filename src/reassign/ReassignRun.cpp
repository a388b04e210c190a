#include "ReassignRun.h"

#include "ReassignRules.h"
#include "model/BarcodeText.h"
#include "support/SystemLog.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
QStringList pathsOf(const QList<QUrl> &urls)
{
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl &url : urls)
        paths.append(url.toLocalFile());
    return paths;
}

ReassignRun::Report reportOf(JournaledRun::Result &&result)
{
    ReassignRun::Report report;
    static_cast<JournaledRun::Result &>(report) = std::move(result);
    return report;
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
    QList<JournaledRun::Entry> entries;
    QHash<QString, PhotoNameRule> rules; // of each folder, read once
    for (const QString &path : pathsOf(urlstochange)) {
        const QFileInfo info(path);
        auto rule = rules.find(info.path());
        if (rule == rules.end())
            rule = rules.insert(info.path(), PhotoNameRule(info.path()));
        if (const std::optional<QString> name = ReassignRules::newFileNameForBarcode(info.fileName(), barcode, *rule))
            entries.append({path, info.path() + u'/' + *name});
        else
            logLine(u"ReassignRun -> oneBarcode.... "_s + info.fileName() + u" already begins with "_s + barcode);
    }
    return reportOf(JournaledRun::run(u"barcode"_s, entries));
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
    QList<JournaledRun::Entry> entries;
    for (const RenamePlan::Step &step : automaticPlan(fullUrlList, barcodeOfPath, reverse)) {
        entries.append({step.from, step.to});
        // Only a barcode photo renamed by this run goes to the trash.
        if (barcodeOfPath.contains(step.from))
            entries.last().kind = JournaledRun::Kind::Discard;
    }
    return reportOf(JournaledRun::run(u"automatic"_s, entries));
}
