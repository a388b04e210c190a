#include "CardImportPhases.h"

#include "CardRunReport.h"
#include "FolderClearing.h"
#include "KeptStaging.h"
#include "StagingCopy.h"
#include "StagingFolder.h"
#include "VolumeEjector.h"
#include "barcodes/BarcodeCache.h"
#include "filing/FilingRun.h"
#include "model/ImageTypes.h"
#include "model/PhotoNameRecord.h"
#include "model/PhotoNameRule.h"
#include "settings/BundleInfo.h"
#include "settings/FolderSettings.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/AbandonedLock.h"
#include "support/FileStatus.h"
#include "support/FreedesktopTrash.h"
#include "support/MountTable.h"
#include "support/NearestExistingFolder.h"
#include "support/NumberedName.h"
#include "support/PathRelation.h"
#include "support/PathUtils.h"
#include "support/RunLock.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Planned = StagingCopy::Item;

// The order a person reads the card in: each folder's names sorted, a folder's
// contents right after it. Same-named photos are decided by this order, so the
// first folder of a card (100CANON before 101CANON) keeps the name.
bool walkOrder(const SafeFileEntry &a, const SafeFileEntry &b)
{
    const QList<QByteArray> pa = a.path.bytes().split('/');
    const QList<QByteArray> pb = b.path.bytes().split('/');
    return std::lexicographical_compare(pa.cbegin(), pa.cend(), pb.cbegin(), pb.cend());
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1) + u" MB"_s;
}

// Free room on the file system that holds (or will hold) a folder; nothing when it cannot be read.
std::optional<qint64> freeBytes(const NativePath &folder, qint64 *blockSize)
{
    const NativePath existing = NearestExistingFolder::of(folder);
    struct statvfs info = {};
    if (existing.isEmpty() || ::statvfs(existing.c_str(), &info) != 0)
        return std::nullopt;
    *blockSize = qint64(std::max<unsigned long>(info.f_frsize, 512));
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

// Each file takes whole blocks, and its name a little more.
qint64 roomNeeded(const QList<Planned> &plan, qint64 blockSize)
{
    qint64 needed = blockSize;
    for (const Planned &p : plan)
        needed += (p.size + blockSize - 1) / blockSize * blockSize + blockSize;
    return needed;
}

QString listText(const QList<CardCopyRun::Skip> &skips, qsizetype shown = 5)
{
    QStringList lines;
    for (qsizetype i = 0; i < skips.size() && i < shown; ++i)
        lines.append(skips.at(i).name + u": "_s + skips.at(i).reason);
    if (skips.size() > shown)
        lines.append(u"... and %1 more"_s.arg(skips.size() - shown));
    return lines.join(u'\n');
}

// Why the working folder may not receive this card: it is the card, lies on it,
// or holds it. A card's volume is any file system but the ones holding the
// system, the home folder or the destination: those are the operator's own
// disks, from which a folder (unassigned photos, say) may well be imported.
QString overlapWithCard(const QString &card, const QString &working, const QString &destination)
{
    if (PathRelation::isSameOrInside(working, card))
        return working == card ? u"the working folder is the folder being imported"_s
                               : u"the working folder lies inside the folder being imported"_s;
    if (PathRelation::isSameOrInside(card, working))
        return u"the folder being imported lies inside the working folder"_s;
    const std::optional<struct stat> cardInfo = FileStatus::of(card);
    const std::optional<struct stat> workingInfo = FileStatus::of(working);
    if (!cardInfo || !workingInfo)
        return {};
    const std::optional<MountTable> table = MountTable::read();
    const std::optional<MountTable::Mount> cardMount = table ? table->mountFor(NativePath(card).bytes()) : std::nullopt;
    const std::optional<MountTable::Mount> workingMount =
        table ? table->mountFor(NativePath(working).bytes()) : std::nullopt;
    const bool sameMount = cardMount && workingMount && cardMount->id == workingMount->id;
    if (cardInfo->st_dev != workingInfo->st_dev && !sameMount)
        return {};
    for (const QString &own : {u"/"_s, QDir::homePath(), destination}) {
        const std::optional<struct stat> ownInfo =
            own.isEmpty() ? std::nullopt : FileStatus::of(PathUtils::expandTilde(own));
        if (ownInfo && ownInfo->st_dev == cardInfo->st_dev)
            return {};
    }
    const QString point = cardMount ? NativePath::fromBytes(cardMount->mountPoint).toString() : card;
    return u"the working folder is on the same volume as the folder being imported ("_s + point + u')';
}

// One name of each part count, the first met of each.
QString namingExamples(const QStringList &names)
{
    QMap<int, QString> example;
    for (const QString &name : names) {
        if (!example.contains(PhotoNameRecord::namePartCount(name)))
            example.insert(PhotoNameRecord::namePartCount(name), NativePath::forDisplay(name));
    }
    return QStringList(example.cbegin(), example.cend()).join(u", "_s);
}

} // namespace

CardImportPhases::CardImportPhases(const CardCopyRun::Options &options)
    : m_options(options)
    , m_report(options)
    , m_working(options.workingFolder)
    , m_stagingPath(options.stagingFolder.isEmpty() ? StagingFolder::folderFor(m_working) : options.stagingFolder)
    , m_staging(m_stagingPath)
    , m_importLock(RunLock::cardImportPath())
{
    m_timer.start();
    m_result.stagingFolder = m_stagingPath;
    m_report.status(u"Copying Files from Card..."_s);
    // Another process (the command-line tool) may be importing meanwhile.
    m_importLock.takeOrWait([this] { m_report.status(u"Waiting for another card import to finish..."_s); });
}

bool CardImportPhases::listCard()
{
    m_card = PathUtils::resolvedPath(m_options.cardFolder);
    FileResult walkError;
    QList<FileResult> walkErrors;
    SafeFileListOptions walk;
    walk.recursive = true;
    const std::optional<QList<SafeFileEntry>> listed =
        m_card.isEmpty() ? std::nullopt : SafeFile::list(NativePath(m_card), walk, &walkError, &walkErrors);
    if (!listed) {
        logLine(u".... Error with DirectoryEnumerator?????? "_s + m_options.cardFolder
                + (m_card.isEmpty() ? QString() : u": "_s + walkError.text()));
        m_result.message = u"The card's folder cannot be read: "_s + m_options.cardFolder;
        return finish(Outcome::CardUnreadable);
    }
    for (const FileResult &e : std::as_const(walkErrors)) {
        logLine(u"directoryEnumerator error: "_s + e.text() + u"."_s);
        m_result.walkErrors.append(e.text());
    }
    QList<SafeFileEntry> entries = *listed;
    std::stable_sort(entries.begin(), entries.end(), walkOrder);
    planNames(entries);
    return true;
}

bool CardImportPhases::checkWorkingFolder()
{
    const std::optional<struct stat> workingInfo = m_working.isEmpty() ? std::nullopt : FileStatus::of(m_working);
    if (!workingInfo || !S_ISDIR(workingInfo->st_mode)) {
        m_result.message = m_working.isEmpty()
            ? u"No working folder is set; nothing was copied."_s
            : u"The working folder "_s + m_working + u" does not exist; nothing was copied."_s;
        return finish(Outcome::NoWorkingFolder);
    }
    m_workingDevice = workingInfo->st_dev;
    if (const std::optional<QString> refusal = FolderSettings::refusal(FolderSettings::Folder::Working, m_working))
        return refuse(*refusal + u" The card "_s + m_card + u" is not imported there."_s);
    const QString workingResolved = FolderClearing::comparable(m_working);
    if (const QString overlap = overlapWithCard(m_card, workingResolved, m_options.destinationFolder);
        !overlap.isEmpty())
        return refuse(u"The card "_s + m_card + u" cannot be imported into the working folder "_s + m_working + u": "_s
                      + overlap + u'.');
    const QString stagingResolved = FolderClearing::comparable(m_stagingPath);
    if (PathRelation::isSameOrInside(m_card, stagingResolved) || PathRelation::isSameOrInside(stagingResolved, m_card)
        || PathRelation::isSameOrInside(workingResolved, stagingResolved)
        || PathRelation::isSameOrInside(stagingResolved, workingResolved))
        return refuse(u"The staging folder "_s + stagingResolved
                      + u" overlaps the folder to import or the working folder."_s);
    m_result.workingFolderPhotos = CardCopyRun::photosInFolder(m_working);
    m_result.workingFolderBarcoded = CardCopyRun::unfiledBarcodedPhotos(m_working);
    if (m_result.workingFolderPhotos > 0 && !m_options.discardWorkingFolder)
        return refuse(u"The working folder "_s + m_working + u" holds "_s
                      + CardCopyRun::leftOverText(m_result.workingFolderPhotos, m_result.workingFolderBarcoded)
                      + u" that would be moved to the trash to make room for the card, and nobody agreed to that."_s);
    // Importing the rest would report a card done that still holds a photo nowhere else.
    if (!m_result.failed.isEmpty())
        return refuse(u"No name is free in the working folder for %1 of the card:\n"_s.arg(
                          CardCopyRun::photosText(m_result.failed.size()))
                      + listText(m_result.failed) + u"\n\nEvery photo is still on the card."_s);
    return true;
}

bool CardImportPhases::prepareStaging()
{
    QString earlierKept;
    if (FileResult r = StagingFolder::prepare(m_staging, &earlierKept); !r)
        return refuse(u"The staging folder cannot be made: "_s + r.text());
    QStringList keptFolders;
    for (const NativePath &place : StagingFolder::placesFor(m_staging))
        keptFolders += KeptStaging::foldersBeside(place);
    keptFolders.removeDuplicates();
    if (!keptFolders.isEmpty()) {
        m_report.status(u"Checking the photos that an earlier import kept..."_s);
        QList<NativePath> elsewhere = m_cardFiles;
        SafeFileListOptions everything;
        everything.skipHidden = false;
        everything.recursive = true;
        for (const SafeFileEntry &e :
             SafeFile::list(NativePath(m_working), everything).value_or(QList<SafeFileEntry>())) {
            if (e.type == SafeFileEntryType::Regular)
                elsewhere.append(e.path);
        }
        const KeptStaging::Sweep sweep = KeptStaging::clear(keptFolders, elsewhere);
        m_result.removedKeptFolders = sweep.removed;
        for (const KeptStaging::Kept &k : sweep.kept)
            m_result.earlierKept.append({k.folder, k.reason});
    }
    if (!m_result.earlierKept.isEmpty()) {
        QStringList folders;
        for (const CardCopyRun::Skip &k : std::as_const(m_result.earlierKept))
            folders.append(k.name + u" ("_s + k.reason + u')');
        m_earlierNote = u"\n\nPhotos that an earlier import kept are still in:\n"_s + folders.join(u'\n')
            + u"\nThey may be the only copies: once each is safe elsewhere, remove the folder."_s;
    }
    return true;
}

bool CardImportPhases::checkRoom()
{
    QList<NativePath> places {m_staging};
    if (NearestExistingFolder::deviceOf(m_staging) != m_workingDevice)
        places.append(NativePath(m_working));
    for (const NativePath &place : std::as_const(places)) {
        qint64 blockSize = 4096;
        const std::optional<qint64> room = freeBytes(place, &blockSize);
        const qint64 needed = roomNeeded(m_plan, blockSize);
        if (room && *room < needed) {
            dropStaging();
            m_result.message = u"There is not enough room for the card's photos: they need %1, and only %2 is free "
                               "where %3 goes.\n\nNothing was copied; the working folder was left as it was."_s.arg(
                                   megabytes(needed), megabytes(*room), place.toString())
                + m_earlierNote;
            return finish(Outcome::Refused);
        }
    }
    return true;
}

bool CardImportPhases::stage()
{
    std::function<void(const Planned &)> staged;
    if (BarcodeCache *barcodes = m_options.barcodes) {
        // Read while it is still in the page cache; transfer() keeps its name in the working folder.
        const NativePath working(m_working);
        staged = [barcodes, working](const Planned &item) {
            barcodes->readLater(item.staged, working.child(item.staged.fileNameBytes()));
        };
    }
    const QList<FileResult> outcomes =
        StagingCopy::copyAll(m_plan, m_options.copyThreads, m_progress, m_report, &m_result.copySeconds, staged);
    for (qsizetype i = 0; i < m_plan.size(); ++i) {
        const FileResult &r = outcomes.at(i);
        if (r) {
            ++m_result.staged;
            m_result.bytes += m_plan.at(i).size;
            m_staged.append(m_plan.at(i).staged);
        } else {
            m_result.failed.append({m_plan.at(i).entry.path.toString(), r.text()});
        }
    }
    logLine(u"CardCopyRun.... staged %1 of %2 photos (%3 bytes) in %4 s"_s.arg(m_result.staged)
                .arg(m_plan.size())
                .arg(m_result.bytes)
                .arg(m_result.copySeconds, 0, 'f', 2));

    Outcome stop = Outcome::Transferred;
    if (!m_result.failed.isEmpty()) {
        stop = Outcome::StagingIncomplete;
        m_result.message =
            u"Only %1 of %2 photos could be copied from the card:\n"_s.arg(m_result.staged).arg(m_plan.size())
            + listText(m_result.failed);
    } else if (!m_result.walkErrors.isEmpty()) {
        stop = Outcome::StagingIncomplete;
        QStringList shown = m_result.walkErrors.mid(0, 5);
        m_result.message = u"Part of the card could not be read, so photos may be missing:\n"_s + shown.join(u'\n');
    } else if (m_result.photos == 0) {
        stop = Outcome::NoPhotos;
        m_result.message = u"No photos were found on the card at "_s + m_options.cardFolder + u'.';
    }
    if (stop != Outcome::Transferred) {
        m_result.message += u"\n\nThe working folder was left as it was. The card was not ejected."_s + m_earlierNote;
        m_result.outcome = stop;
        m_report.status(m_result.summary());
        dropStaging();
        return finish(stop);
    }
    m_report.status(u"Done - Copying Files from Card..."_s);
    return true;
}

bool CardImportPhases::clearWorkingFolder()
{
    m_filingLock.emplace(RunLock::filingPath(m_working));
    m_filingLock->takeOrWait(
        [this] { m_report.status(u"Waiting for the filing run on the working folder to finish..."_s); });
    StagingFolder::removeKilledLeftovers(NativePath(m_working));
    const qsizetype photosNow = CardCopyRun::photosInFolder(m_working);
    QString refusal;
    if (photosNow > 0 && !m_options.discardWorkingFolder) {
        refusal = u"it now holds "_s + CardCopyRun::photosText(photosNow)
            + u", and nobody agreed to move them to the trash"_s;
    } else if (!FolderClearing::empty(m_working, {m_stagingPath, m_card, m_options.destinationFolder}, &refusal)) {
        refusal = u"it could not be cleared: "_s + refusal;
    }
    if (refusal.isEmpty())
        return true;
    m_result.message = u"The working folder "_s + m_working + u" was not filled: "_s + refusal
        + u".\n\nNothing was copied into it; what was cleared from it is in the trash. The card was not "
          "ejected and still holds every photo."_s
        + m_earlierNote;
    dropStaging();
    return stopWithSummary(Outcome::WorkingFolderRefused);
}

void CardImportPhases::ejectCard()
{
    if (!m_options.ejectPath.isEmpty()) {
        if (m_options.eject)
            m_options.eject(m_options.ejectPath);
        else
            VolumeEjector::unmountAndEjectDeviceAtPath(m_options.ejectPath);
        m_result.ejected = true;
    }
    m_report.status(u"Done - Copying Files from Card..."_s);
    if (m_options.settleMs > 0)
        QThread::msleep(ulong(m_options.settleMs));
}

void CardImportPhases::recordNames()
{
    QStringList importedNames;
    for (const NativePath &from : std::as_const(m_staged))
        importedNames.append(NativePath::decode(from.fileNameBytes()));
    if (const FileResult recorded = PhotoNameRecord::recordImport(m_working, importedNames); !recorded)
        logLine(u"CardCopyRun.... the imported names are not recorded: "_s + recorded.text());
    if (!PhotoNameRecord::agreedPartCount(importedNames) && !importedNames.isEmpty()) {
        m_result.mixedNames = namingExamples(importedNames);
        logLine(u"CardCopyRun.... the card mixes naming styles ("_s + m_result.mixedNames
                + u"); its photos are told by the names imported, not by their count of \"_\" parts"_s);
    }
}

bool CardImportPhases::transfer()
{
    const NativePath workingFolder(m_working);
    SafeFileCopyOptions moveOptions;
    moveOptions.syncFolders = false;
    for (const NativePath &from : std::as_const(m_staged)) {
        const QByteArray name = from.fileNameBytes();
        m_report.status(u"Transferring Photo: "_s + QString::fromUtf8(name));
        if (const FileResult r = SafeFile::move(from, workingFolder.child(name), moveOptions); !r) {
            logLine(u"oops somethingwrong with transfer "_s + r.text());
            m_result.failed.append({QString::fromUtf8(name), r.text()});
            continue;
        }
        ++m_result.transferred;
    }
    for (const NativePath &folder : {workingFolder, m_staging}) {
        if (FileResult r = SafeFile::syncFolder(folder); !r)
            logLine(u"CardCopyRun.... "_s + r.text());
    }

    if (!m_result.failed.isEmpty()) {
        // These photos may exist nowhere else now: out of the way of every later run.
        m_result.keptFolder = StagingFolder::keepAside(m_staging);
        const QString kept = m_result.keptFolder.isEmpty() ? m_stagingPath : m_result.keptFolder;
        m_result.message = u"The working folder was cleared, but %1 of %2 photos could not be put there:\n"_s
                               .arg(m_result.failed.size())
                               .arg(m_staged.size())
            + listText(m_result.failed) + u"\n\nThose photos are kept in "_s + kept + u'.'
            + (m_result.ejected ? QString() : u" The card was not ejected."_s) + m_earlierNote;
        if (m_result.keptFolder.isEmpty())
            m_result.keptFolder = m_stagingPath;
        return stopWithSummary(Outcome::TransferIncomplete);
    }
    if (::rmdir(m_staging.c_str()) != 0)
        logLine(u"CardCopyRun.... "_s + FileResult::failure(u"remove folder"_s, m_staging, errno).text());
    else if (FileResult r = SafeFile::syncFolder(m_staging.parent()); !r)
        logLine(u"CardCopyRun.... "_s + r.text());
    if (!m_result.mixedNames.isEmpty())
        m_result.message = u"The card mixes naming styles ("_s + m_result.mixedNames
            + u"), so the number of \"_\" in a name cannot tell whether it carries a barcode. The names the card "
              "brought in are kept: a photo carries a barcode once one is put in front of its name."_s;
    m_result.message = QString(m_result.message + m_earlierNote).trimmed();
    logLine(u"CardCopyRun.... transferred %1 photos into %2"_s.arg(m_result.transferred).arg(m_working));
    finish(Outcome::Transferred);
    return true;
}

void CardImportPhases::planNames(const QList<SafeFileEntry> &entries)
{
    // Which photos go where. Every photo keeps its name where no earlier one (in the
    // order above) has it; the others take the first free numbered name, as filing
    // does. Names differing only in case count as one: staging or the working folder
    // may be on a file system (exFAT) that does not tell them apart.
    QList<qsizetype> repeated;
    QSet<QString> taken;
    const auto nameKey = [](const QByteArray &name) { return NativePath::decode(name).toCaseFolded(); };
    const auto planCopy = [&](const SafeFileEntry &entry, const QByteArray &name) {
        taken.insert(nameKey(name));
        struct stat info = {};
        const qint64 size = ::lstat(entry.path.c_str(), &info) == 0 ? qint64(info.st_size) : 0;
        m_plan.append({entry, size, m_staging.child(name)});
        m_progress.bytesTotal += size;
    };
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const SafeFileEntry &entry = entries.at(i);
        if (entry.type != SafeFileEntryType::Regular)
            continue;
        ++m_result.entries;
        m_cardFiles.append(entry.path);
        if (!CardImportPhases::isImage(entry))
            continue;
        ++m_result.photos;
        if (taken.contains(nameKey(entry.name)))
            repeated.append(i);
        else
            planCopy(entry, entry.name);
    }
    for (const qsizetype i : std::as_const(repeated)) {
        const SafeFileEntry &entry = entries.at(i);
        std::optional<QByteArray> freeName;
        for (int number = 2; number <= NumberedName::cMostNumbers && !freeName; ++number) {
            const std::optional<QByteArray> candidate = NumberedName::make(entry.name, number);
            if (!candidate)
                break;
            if (!taken.contains(nameKey(*candidate)))
                freeName = candidate;
        }
        if (!freeName) {
            m_result.failed.append({entry.path.toString(),
                                    u"another photo of the card has its name, and no numbered name is free for it"_s});
            continue;
        }
        logLine(u"CardCopyRun.... "_s + entry.path.displayString() + u" is imported as "_s
                + NativePath::forDisplay(NativePath::decode(*freeName))
                + u": an earlier photo of the card has its name"_s);
        m_result.numbered.append({entry.path.toString(), NativePath::decode(*freeName)});
        planCopy(entry, *freeName);
    }
    m_progress.filesTotal = m_plan.size();
    m_result.planned = m_plan.size();
}

bool CardImportPhases::finish(Outcome outcome)
{
    m_result.outcome = outcome;
    m_result.seconds = m_timer.nsecsElapsed() / 1e9;
    if (!m_result.message.isEmpty())
        logLine(u"CardCopyRun.... "_s + m_result.message);
    return false;
}

bool CardImportPhases::stopWithSummary(Outcome outcome)
{
    m_result.outcome = outcome;
    m_report.status(m_result.summary());
    return finish(outcome);
}

bool CardImportPhases::refuse(const QString &message)
{
    m_result.message = message + u"\n\nNothing was copied; the working folder was left as it was."_s;
    return finish(Outcome::Refused);
}

void CardImportPhases::dropStaging()
{
    if (FileResult r = StagingFolder::removeCopies(m_staging); !r)
        logLine(u"CardCopyRun.... "_s + r.text());
}

bool CardImportPhases::isImage(const SafeFileEntry &entry)
{
    return ImageTypes::isImageFile(entry.path.toString());
}
