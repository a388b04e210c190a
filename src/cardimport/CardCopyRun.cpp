#include "CardCopyRun.h"

#include "CardImportPhases.h"
#include "CardRunReport.h"
#include "FolderClearing.h"
#include "KeptStaging.h"
#include "StagingCopy.h"
#include "StagingFolder.h"
#include "VolumeEjector.h"
#include "filing/FilingRun.h"
#include "model/ImageTypes.h"
#include "model/PhotoNameRecord.h"
#include "model/PhotoNameRule.h"
#include "settings/BundleInfo.h"
#include "settings/FolderSettings.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/AbandonedLock.h"
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

QString CardCopyRun::photosText(qsizetype n)
{
    return n == 1 ? u"1 photo"_s : u"%1 photos"_s.arg(n);
}

QString CardCopyRun::Result::summary() const
{
    const QString copied = u"%1 of %2 photos copied from the card"_s.arg(staged).arg(planned);
    switch (outcome) {
    case Outcome::Transferred:
        return u"Done - %1 imported"_s.arg(photosText(transferred))
            + (numbered.isEmpty() ? QString()
                                  : u", %1 of them under a numbered name (another photo of the card had theirs)"_s.arg(
                                      numbered.size()))
            + (mixedNames.isEmpty() ? QString() : u"; the card mixes naming styles"_s);
    case Outcome::CardUnreadable:
        return u"Stopped - the card cannot be read; nothing was copied"_s;
    case Outcome::Refused:
        return u"Stopped - nothing was copied"_s;
    case Outcome::StagingIncomplete:
        return u"Stopped - only "_s + copied + u"; the working folder was left as it was"_s;
    case Outcome::NoPhotos:
        return u"Stopped - no photos on the card"_s;
    case Outcome::NoWorkingFolder:
        return u"Stopped - no working folder; nothing was copied"_s;
    case Outcome::WorkingFolderRefused:
        return u"Stopped - "_s + copied + u", but the working folder could not be cleared"_s;
    case Outcome::TransferIncomplete:
        return u"Stopped - only %1 of %2 photos were put in the working folder"_s.arg(transferred).arg(staged);
    }
    return {};
}

QString CardCopyRun::stagingFolderFor(const QString &workingFolder)
{
    return StagingFolder::folderFor(workingFolder);
}

QStringList CardCopyRun::keptStagingFolders(const QString &workingFolder)
{
    return StagingFolder::keptFolders(workingFolder);
}

qsizetype CardCopyRun::photosInFolder(const QString &folder)
{
    SafeFileListOptions walk;
    walk.recursive = true;
    qsizetype photos = 0;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(NativePath(folder), walk);
    for (const SafeFileEntry &entry : entries.value_or(QList<SafeFileEntry>())) {
        if (entry.type == SafeFileEntryType::Regular && CardImportPhases::isImage(entry))
            ++photos;
    }
    return photos;
}

qsizetype CardCopyRun::unfiledBarcodedPhotos(const QString &folder)
{
    // Filing takes the photos at the top of the folder, by the folder's name rule.
    const PhotoNameRule rule(folder);
    qsizetype barcoded = 0;
    for (const SafeFileEntry &entry : SafeFile::list(NativePath(folder)).value_or(QList<SafeFileEntry>())) {
        if (entry.type == SafeFileEntryType::Regular && CardImportPhases::isImage(entry)
            && rule.read(entry.path.toString()).kind == PhotoNameRule::Kind::Barcoded)
            ++barcoded;
    }
    return barcoded;
}

QString CardCopyRun::leftOverText(qsizetype photos, qsizetype barcoded)
{
    if (barcoded <= 0)
        return photosText(photos);
    const QString which = barcoded == 1 && photos == 1 ? u"it carries a barcode and was never filed"_s
        : barcoded == photos                           ? u"all of them carry a barcode and were never filed"_s
        : barcoded == 1                                ? u"1 of them carries a barcode and was never filed"_s
                        : u"%1 of them carry a barcode and were never filed"_s.arg(barcoded);
    return photosText(photos) + u" ("_s + which + u')';
}

SerialQueue &CardCopyRun::queue()
{
    static SerialQueue runs(u"card import runs"_s);
    return runs;
}

CardCopyRun::Options CardCopyRun::Options::fromSettings(const QString &cardFolder)
{
    SettingsStore &store = SettingsStore::standard();
    Options o;
    o.cardFolder = cardFolder;
    o.workingFolder = PathUtils::expandTilde(store.stringForKey(cPrefSourcePath).value_or(QString()));
    o.stagingFolder = StagingFolder::folderFor(o.workingFolder);
    o.destinationFolder = PathUtils::expandTilde(store.stringForKey(cPrefDestinationPath).value_or(QString()));
    o.ejectPath = store.stringForKey(cPrefTempMountVolume).value_or(QString());
    return o;
}

std::optional<QString> CardCopyRun::refusalToEmpty(const QString &path, const QStringList &alsoProtected,
                                                   const ProtectedRoots &roots)
{
    return FolderClearing::refusal(path, alsoProtected, roots);
}

bool CardCopyRun::removeFolderAtPath(const QString &path, const QStringList &alsoProtected, QString *reason)
{
    return FolderClearing::empty(path, alsoProtected, reason);
}

bool CardCopyRun::removeFolderAtPath(const QString &path, const QStringList &alsoProtected, QString *reason,
                                     const ProtectedRoots &roots)
{
    return FolderClearing::empty(path, alsoProtected, reason, roots);
}

CardCopyRun::Result CardCopyRun::run(const Options &options)
{
    CardImportPhases run(options);
    if (run.listCard() && run.checkWorkingFolder() && run.prepareStaging() && run.checkRoom() && run.stage()
        && run.clearWorkingFolder()) {
        run.ejectCard();
        run.recordNames();
        run.transfer();
    }
    return run.result();
}
