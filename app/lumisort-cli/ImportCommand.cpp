#include "ImportCommand.h"

#include "CliArguments.h"
#include "InterruptedRuns.h"
#include "cardimport/CardCopyRun.h"
#include "support/MountTable.h"
#include "support/NativePath.h"
#include "support/Plural.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
QString rate(qint64 bytes, double seconds)
{
    return QString::number(seconds > 0 ? bytes / 1e6 / seconds : 0, 'f', 1) + u" MB/s"_s;
}
} // namespace

QString ImportCommand::usage()
{
    return u"usage: lumisort-cli import [--eject] [--threads N] [--discard-working-folder] [--] CARD-FOLDER\n"
           "  copies every photo of a camera card (or any folder) into the working folder (prefSourcePath):\n"
           "  first into a staging folder private to the user, on the working folder's file system where\n"
           "  possible, each copy synced and read back; only when all are safe is the working folder cleared\n"
           "  into the trash and filled from there\n"
           "  --eject                   unmount the card's volume once the photos are staged\n"
           "  --threads N               copies under way at once, 1-8 (default 4)\n"
           "  --discard-working-folder  the photos now in the working folder may go to the trash\n"
           "                            (without it, a working folder holding photos is refused)\n"
           "  a photo whose name an earlier one of the card has is imported under the first free\n"
           "  numbered name (IMG_0001-2.JPG); staging folders kept by earlier imports go once each\n"
           "  of their files is found on the card or in the working folder, else they are named\n"
           "  exit status 1 when the card was not completely imported"_s;
}

int ImportCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--eject"_s}, {u"--discard-working-folder"_s}, {u"--threads"_s, true}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.operands().size() > 1)
        return io.usageError(u"bad arguments for import: "_s + parsed.operands().at(1), usage());
    const bool eject = parsed.isSet(u"--eject"_s);
    const bool discard = parsed.isSet(u"--discard-working-folder"_s);
    int threads = 4;
    if (parsed.isSet(u"--threads"_s)) {
        bool ok = false;
        threads = parsed.value(u"--threads"_s).toInt(&ok);
        if (!ok || threads < 1 || threads > 8)
            return io.usageError(u"bad value for --threads: "_s + parsed.value(u"--threads"_s), usage());
    }
    QString card = parsed.operands().value(0);
    if (card.isEmpty())
        return io.usageError(u"import needs the card's folder"_s, usage());
    card = CliArguments::absolutePath(card);

    CardCopyRun::Options options = CardCopyRun::Options::fromSettings(card);
    if (eject) {
        // The volume holding the folder, which may be a folder on the card rather than the card itself.
        const std::optional<MountTable> table = MountTable::read();
        const std::optional<MountTable::Mount> mount =
            table ? table->mountFor(NativePath(QFileInfo(card).canonicalFilePath()).bytes()) : std::nullopt;
        options.ejectPath = mount ? NativePath::decode(mount->mountPoint) : card;
    } else {
        options.ejectPath.clear();
    }
    options.settleMs = eject ? options.settleMs : 0;
    options.copyThreads = threads;
    InterruptedRuns::finish(options.workingFolder, io);
    options.discardWorkingFolder = discard;
    options.copied = [&io](const QString &name, qint64 bytes) {
        io.out << "copied\t" << name << '\t' << bytes << Qt::endl;
    };
    io.out << "importing " << card << " into "
           << (options.workingFolder.isEmpty() ? u"(no working folder set)"_s : options.workingFolder)
           << " (staging in " << options.stagingFolder << ")" << Qt::endl;

    const CardCopyRun::Result r = CardCopyRun::run(options);
    for (const CardCopyRun::Numbered &n : r.numbered)
        io.out << "numbered\t" << n.cardPath << '\t' << n.name << Qt::endl;
    for (const QString &folder : r.removedKeptFolders)
        io.out << "removed kept staging\t" << folder << Qt::endl;
    for (const CardCopyRun::Skip &k : r.earlierKept)
        io.out << "KEPT\t" << k.name << '\t' << k.reason << Qt::endl;
    for (const CardCopyRun::Skip &s : r.failed)
        io.out << "FAILED\t" << s.name << '\t' << s.reason << Qt::endl;
    for (const QString &e : r.walkErrors)
        io.out << "UNREADABLE\t" << e << Qt::endl;
    io.out << "found: " << r.entries << " files, " << r.photos << " photos" << Qt::endl
           << "copied: " << r.staged << " of " << r.planned << " photos, " << r.bytes << " bytes in "
           << QString::number(r.copySeconds, 'f', 2) << " s (" << rate(r.bytes, r.copySeconds)
           << ", synced and read back)" << Qt::endl
           << "numbered: " << Plural::count(r.numbered.size(), u"photo"_s, u"photos"_s)
           << " with the name of an earlier one" << Qt::endl
           << "skipped: " << (r.entries - r.photos) << " not photos" << Qt::endl
           << "failed: " << r.failed.size() << Qt::endl
           << "transferred: " << r.transferred << " photos" << Qt::endl
           << "total: " << QString::number(r.seconds, 'f', 2) << " s (" << rate(r.bytes, r.seconds) << ")" << Qt::endl
           << "outcome: " << r.summary() << Qt::endl;
    if (!r.message.isEmpty())
        io.err << "lumisort-cli: " << r.message << Qt::endl;
    if (discard && r.workingFolderBarcoded > 0)
        io.err << "lumisort-cli: the working folder held "
               << CardCopyRun::leftOverText(r.workingFolderPhotos, r.workingFolderBarcoded)
               << (r.outcome == CardCopyRun::Outcome::Transferred ? u"; they are in the trash"_s : QString())
               << Qt::endl;
    if (r.outcome == CardCopyRun::Outcome::Refused && r.workingFolderPhotos > 0 && !discard)
        io.err << "lumisort-cli: give --discard-working-folder to move the " << r.workingFolderPhotos
               << " photos of the working folder to the trash and import the card" << Qt::endl;
    if (r.outcome == CardCopyRun::Outcome::NoWorkingFolder)
        io.err << "lumisort-cli: no working folder to fill (prefSourcePath is not set or does not exist)" << Qt::endl;
    return r.outcome == CardCopyRun::Outcome::Transferred ? CliIo::cOk : CliIo::cFailed;
}
