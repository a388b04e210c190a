#include "ReassignCommand.h"

#include "model/ImageDirectoryLoader.h"
#include "reassign/ReassignRules.h"
#include "reassign/ReassignRun.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
int printReport(const ReassignRun::Report &report, CliIo &io)
{
    int failures = 0;
    for (const RenamePlan::Outcome &o : report.renames) {
        if (o.renamed) {
            io.out << QFileInfo(o.from).fileName() << " -> " << QFileInfo(o.finalPath).fileName() << Qt::endl;
        } else if (!o.error.isEmpty()) {
            ++failures;
            io.out << QFileInfo(o.from).fileName() << " kept: " << o.error << Qt::endl;
        }
    }
    for (const QString &path : report.trashed)
        io.out << QFileInfo(path).fileName() << " -> trash" << Qt::endl;
    for (const QString &path : report.deleted)
        io.out << QFileInfo(path).fileName() << " deleted (the trash failed)" << Qt::endl;
    for (const QString &path : report.kept) {
        ++failures;
        io.out << QFileInfo(path).fileName() << " kept: could be neither trashed nor deleted" << Qt::endl;
    }
    if (!report.journalPath.isEmpty())
        io.out << "journal: " << report.journalPath << Qt::endl;
    return failures == 0 ? CliIo::cOk : CliIo::cFailed;
}
} // namespace

QString ReassignCommand::usage()
{
    return u"usage: lumisort-cli reassign (--barcode B | --unknown) FILE...\n"
           "       lumisort-cli auto [--reverse] [--dry-run] DIR CODE-PHOTO=BARCODE..."_s;
}

int ReassignCommand::runOneBarcode(const QStringList &args, CliIo &io)
{
    QString barcode;
    QList<QUrl> files;
    bool haveBarcode = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--barcode"_s && i + 1 < args.size()) {
            barcode = args.at(++i);
            haveBarcode = true;
        } else if (arg == u"--unknown"_s) {
            barcode = u"UNKNOWN"_s;
            haveBarcode = true;
        } else if (arg.startsWith(u"--"_s)) {
            return io.usageError(u"unexpected argument "_s + arg, usage());
        } else {
            files.append(QUrl::fromLocalFile(QFileInfo(arg).absoluteFilePath()));
        }
    }
    if (!haveBarcode || files.isEmpty())
        return io.usageError(u"a barcode (or --unknown) and at least one file are needed"_s, usage());
    if (ReassignRules::isEmptyBarcode(barcode)) {
        io.err << "lumisort-cli: ! NO BARCODE ENTERED ! Please enter a valid barcode." << Qt::endl;
        return CliIo::cUsage;
    }
    for (const QUrl &url : std::as_const(files)) {
        const QString name = url.fileName();
        if (!ReassignRules::newFileNameForBarcode(name, barcode))
            io.out << name << " kept: already begins with " << barcode << Qt::endl;
    }
    return printReport(ReassignRun::oneBarcode(files, barcode), io);
}

int ReassignCommand::runAutomatic(const QStringList &args, CliIo &io)
{
    bool reverse = false;
    bool dryRun = false;
    QString folder;
    QStringList assignments;
    for (const QString &arg : args) {
        if (arg == u"--reverse"_s)
            reverse = true;
        else if (arg == u"--dry-run"_s)
            dryRun = true;
        else if (arg.startsWith(u"--"_s))
            return io.usageError(u"unexpected argument "_s + arg, usage());
        else if (folder.isEmpty())
            folder = arg;
        else
            assignments.append(arg);
    }
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return io.usageError(u"a folder is needed"_s, usage());
    const QString absolute = QFileInfo(folder).canonicalFilePath();
    QHash<QString, QString> barcodes;
    for (const QString &assignment : std::as_const(assignments)) {
        const qsizetype eq = assignment.lastIndexOf(u'=');
        if (eq <= 0 || ReassignRules::isEmptyBarcode(assignment.mid(eq + 1)))
            return io.usageError(u"expected CODE-PHOTO=BARCODE, got "_s + assignment, usage());
        const QString photo = assignment.left(eq);
        const QString path = QFileInfo(photo.contains(u'/') ? photo : absolute + u'/' + photo).canonicalFilePath();
        if (path.isEmpty() || QFileInfo(path).absolutePath() != absolute) {
            io.err << "lumisort-cli: not a photo of " << absolute << ": " << photo << Qt::endl;
            return CliIo::cFailed;
        }
        barcodes.insert(path, assignment.mid(eq + 1).trimmed());
    }
    const std::optional<QList<QUrl>> photos = ImageDirectoryLoader::sortedUrlsOfFolder(QUrl::fromLocalFile(absolute));
    if (!photos) {
        io.err << "lumisort-cli: cannot list " << absolute << Qt::endl;
        return CliIo::cFailed;
    }
    if (dryRun) {
        for (const RenamePlan::Step &step : ReassignRun::automaticPlan(*photos, barcodes, reverse)) {
            io.out << QFileInfo(step.from).fileName() << " -> " << QFileInfo(step.to).fileName()
                   << (barcodes.contains(step.from) ? " (barcode photo: then to the trash)" : "") << Qt::endl;
        }
        return CliIo::cOk;
    }
    return printReport(ReassignRun::automatic(*photos, barcodes, reverse), io);
}
