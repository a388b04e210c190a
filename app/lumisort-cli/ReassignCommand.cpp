#include "ReassignCommand.h"

#include "CliArguments.h"
#include "model/ImageDirectoryLoader.h"
#include "reassign/BarcodeText.h"
#include "reassign/ReassignRules.h"
#include "reassign/ReassignRun.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"

#include <cstdlib>
#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
// A file name as the operator reads it (bytes that are not UTF-8 shown as such).
QString shown(const QString &path)
{
    return NativePath::forDisplay(PathUtils::fileName(path));
}

// realpath(3) on the path's bytes; nothing when it does not exist.
std::optional<QString> resolved(const QString &path)
{
    const QString real = PathUtils::resolvedPath(path);
    if (real.isEmpty())
        return std::nullopt;
    return real;
}

bool isFolder(const QString &path)
{
    struct stat info = {};
    return ::stat(NativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int printReport(const ReassignRun::Report &report, CliIo &io)
{
    if (!report.refusal.isEmpty()) {
        io.err << "lumisort-cli: nothing renamed: " << report.refusal << Qt::endl;
        return CliIo::cFailed;
    }
    int failures = 0;
    for (const RenamePlan::Outcome &o : report.renames) {
        if (o.renamed) {
            io.out << shown(o.from) << " -> " << shown(o.finalPath) << Qt::endl;
        } else if (!o.error.isEmpty()) {
            ++failures;
            io.out << shown(o.from) << " kept: " << NativePath::forDisplay(o.error) << Qt::endl;
        }
    }
    for (const QString &path : report.trashed)
        io.out << shown(path) << " -> trash" << Qt::endl;
    for (const QString &path : report.deleted)
        io.out << shown(path) << " deleted (the trash failed)" << Qt::endl;
    for (const QString &path : report.kept) {
        ++failures;
        io.out << shown(path) << " kept: could be neither trashed nor deleted" << Qt::endl;
    }
    if (!report.journalPath.isEmpty())
        io.out << "journal: " << report.journalPath << Qt::endl;
    return failures == 0 ? CliIo::cOk : CliIo::cFailed;
}
} // namespace

QString ReassignCommand::usage()
{
    return u"usage: lumisort-cli reassign (--barcode B | --unknown) [--] FILE...\n"
           "       lumisort-cli auto [--reverse] [--dry-run] [--] DIR CODE-PHOTO=BARCODE...\n"
           "  --reverse  each photo takes the barcode of the next barcode photo after it\n"
           "  --dry-run  show the new names and change nothing\n"
           "  a barcode may not contain \"/\", \"..\" or control characters, nor begin with \".\""_s;
}

int ReassignCommand::runOneBarcode(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--barcode"_s, true}, {u"--unknown"_s}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.isSet(u"--barcode"_s) && parsed.isSet(u"--unknown"_s))
        return io.usageError(u"--barcode and --unknown exclude each other"_s, usage());
    const bool haveBarcode = parsed.isSet(u"--barcode"_s) || parsed.isSet(u"--unknown"_s);
    if (!haveBarcode || parsed.operands().isEmpty())
        return io.usageError(u"a barcode (or --unknown) and at least one file are needed"_s, usage());
    const QString barcode = parsed.isSet(u"--unknown"_s) ? u"UNKNOWN"_s : parsed.value(u"--barcode"_s);
    if (ReassignRules::isEmptyBarcode(barcode)) {
        io.err << "lumisort-cli: ! NO BARCODE ENTERED ! Please enter a valid barcode." << Qt::endl;
        return CliIo::cUsage;
    }
    if (const std::optional<QString> problem = BarcodeText::problem(barcode))
        return io.usageError(u"barcode refused: "_s + *problem, usage());
    QList<QUrl> files;
    for (const QString &file : parsed.operands()) {
        const QString path = CliArguments::absolutePath(file);
        if (!ReassignRules::newFileNameForBarcode(PathUtils::fileName(path), barcode))
            io.out << shown(path) << " kept: already begins with " << barcode << Qt::endl;
        files.append(QUrl::fromLocalFile(path));
    }
    return printReport(ReassignRun::oneBarcode(files, barcode), io);
}

int ReassignCommand::runAutomatic(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--reverse"_s}, {u"--dry-run"_s}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    const bool reverse = parsed.isSet(u"--reverse"_s);
    const QString folder = parsed.operands().value(0);
    if (folder.isEmpty() || !isFolder(folder))
        return io.usageError(u"a folder is needed"_s, usage());
    const QString absolute = resolved(CliArguments::absolutePath(folder)).value_or(QString());
    QHash<QString, QString> barcodes;
    for (const QString &assignment : parsed.operands().mid(1)) {
        const qsizetype eq = assignment.lastIndexOf(u'=');
        const QString barcode = assignment.mid(eq + 1).trimmed();
        if (eq <= 0 || ReassignRules::isEmptyBarcode(barcode))
            return io.usageError(u"expected CODE-PHOTO=BARCODE, got "_s + NativePath::forDisplay(assignment), usage());
        const QString photo = assignment.left(eq);
        if (const std::optional<QString> problem = BarcodeText::problem(barcode))
            return io.usageError(u"barcode for "_s + NativePath::forDisplay(photo) + u" refused: "_s + *problem,
                                 usage());
        const std::optional<QString> path =
            resolved(photo.contains(u'/') ? CliArguments::absolutePath(photo) : absolute + u'/' + photo);
        if (!path || NativePath(*path).parent().toString() != absolute) {
            io.err << "lumisort-cli: not a photo of " << NativePath::forDisplay(absolute) << ": "
                   << NativePath::forDisplay(photo) << Qt::endl;
            return CliIo::cFailed;
        }
        barcodes.insert(*path, barcode);
    }
    const std::optional<QList<QUrl>> photos = ImageDirectoryLoader::sortedUrlsOfFolder(QUrl::fromLocalFile(absolute));
    if (!photos) {
        io.err << "lumisort-cli: cannot list " << NativePath::forDisplay(absolute) << Qt::endl;
        return CliIo::cFailed;
    }
    if (parsed.isSet(u"--dry-run"_s)) {
        for (const RenamePlan::Step &step : ReassignRun::automaticPlan(*photos, barcodes, reverse)) {
            io.out << shown(step.from) << " -> " << shown(step.to);
            if (RenamePlan::isNameTooLong(step.to))
                io.out << " (would be kept: the new name is longer than a file name can be)";
            else if (barcodes.contains(step.from))
                io.out << " (barcode photo: then to the trash)";
            io.out << Qt::endl;
        }
        return CliIo::cOk;
    }
    return printReport(ReassignRun::automatic(*photos, barcodes, reverse), io);
}
