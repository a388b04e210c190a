#include "ReassignCommand.h"

#include "CliArguments.h"
#include "InterruptedRuns.h"
#include "barcodes/BarcodeCache.h"
#include "model/BarcodeText.h"
#include "model/ImageDirectoryLoader.h"
#include "reassign/ReassignRules.h"
#include "reassign/ReassignRun.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"

#include <algorithm>
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

// The barcode each photo shows, as if it had been typed for it: the photos with
// a code are the barcode photos. A photo whose codes give no barcode (a web address,
// a partial read) stops the run: carried over a whole group, the code before it would
// misfile every photo of it, so such a photo is corrected by hand first.
std::optional<QHash<QString, QString>> detectedBarcodes(const QList<QUrl> &photos, CliIo &io)
{
    const SettingsStore &store = SettingsStore::standard();
    const bool enforced = store.boolForKey(cPrefCheckReassignedBarcodeLength);
    const qint64 required = store.integerForKey(cPrefReassignedBarcodeRequiredLength);
    QStringList paths;
    QList<NativePath> nativePaths;
    for (const QUrl &url : photos) {
        paths << url.toLocalFile();
        nativePaths << NativePath(paths.last());
    }
    BarcodeCache cache;
    const QList<BarcodeReader::Reading> readings = cache.readAll(nativePaths);
    QHash<QString, QString> barcodes;
    bool refused = false;
    for (qsizetype i = 0; i < readings.size(); ++i) {
        QStringList texts;
        for (const BarcodeReader::Code &code : readings.at(i).codes)
            texts << code.text;
        if (texts.isEmpty())
            continue;
        const BarcodeText::Choice choice = BarcodeText::choose(texts, enforced, required);
        if (!choice.problem.isEmpty()) {
            refused = true;
            io.err << "lumisort-cli: " << shown(paths.at(i)) << ": " << choice.problem
                   << " Give this photo its barcode by hand." << Qt::endl;
            continue;
        }
        if (texts.size() > 1)
            io.out << shown(paths.at(i)) << " shows " << texts.join(u", "_s) << ": took " << choice.barcode << Qt::endl;
        barcodes.insert(paths.at(i), choice.barcode);
    }
    if (refused) {
        io.err << "lumisort-cli: nothing renamed" << Qt::endl;
        return std::nullopt;
    }
    if (barcodes.isEmpty())
        io.err << "lumisort-cli: no barcode found in the photos" << Qt::endl;
    return barcodes;
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
    for (const QString &path : report.kept) {
        ++failures;
        io.out << shown(path) << " kept: the trash would not take this barcode photo, so it stays under this name"
               << Qt::endl;
    }
    if (!report.journalError.isEmpty()) {
        ++failures;
        io.err << "lumisort-cli: "
               << (report.started ? "the record of the run could not be completed: "
                                  : "nothing renamed: the journal cannot be written: ")
               << report.journalError << Qt::endl;
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
           "       lumisort-cli auto --detect [--reverse] [--dry-run] [--] DIR\n"
           "  --detect   the barcode photos are those showing a barcode, which is read from them\n"
           "  --reverse  each photo takes the barcode of the next barcode photo after it\n"
           "  --dry-run  show the new names and change nothing\n"
           "  a barcode may not contain / * : \\ ? \" < > |, \"..\", control or invisible characters,\n"
           "  nor begin with \".\" or \"-\""_s;
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
    QStringList folders;
    for (const QString &file : parsed.operands()) {
        if (const QString folder = NativePath(CliArguments::absolutePath(file)).parent().toString();
            !folders.contains(folder))
            folders << folder;
    }
    for (const QString &folder : std::as_const(folders))
        InterruptedRuns::finish(folder, io);
    QList<QUrl> files;
    for (const QString &file : parsed.operands()) {
        const QString path = CliArguments::absolutePath(file);
        if (PathUtils::baseName(path).startsWith(barcode))
            io.out << shown(path) << " kept: already begins with " << barcode << Qt::endl;
        files.append(QUrl::fromLocalFile(path));
    }
    return printReport(ReassignRun::oneBarcode(files, barcode), io);
}

int ReassignCommand::runAutomatic(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--reverse"_s}, {u"--dry-run"_s}, {u"--detect"_s}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    const bool reverse = parsed.isSet(u"--reverse"_s);
    const QString folder = parsed.operands().value(0);
    if (folder.isEmpty() || !isFolder(folder))
        return io.usageError(u"a folder is needed"_s, usage());
    const QString absolute = resolved(CliArguments::absolutePath(folder)).value_or(QString());
    InterruptedRuns::finish(absolute, io);
    const bool detect = parsed.isSet(u"--detect"_s);
    if (detect && parsed.operands().size() > 1)
        return io.usageError(u"--detect reads the barcodes: give the folder only"_s, usage());
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
    if (detect) {
        const std::optional<QHash<QString, QString>> detected = detectedBarcodes(*photos, io);
        if (!detected)
            return CliIo::cFailed;
        barcodes = *detected;
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
