#include "ImageDirectoryLoader.h"

#include "FileNameConvention.h"
#include "ImageTypes.h"
#include "PhotoNameRule.h"
#include "ShootingTime.h"
#include "ThumbnailCache.h"
#include "ThumbnailScheduler.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "settings/SharedConstants.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace Qt::StringLiterals;

const QString ImageDirectoryLoader::cLocalizedNameSortKey = u"NSURLLocalizedNameKey"_s;
const QString ImageDirectoryLoader::cCreationDateSortKey = u"NSURLCreationDateKey"_s;

namespace {
QThreadPool &listingPool();

void waitForListings()
{
    ImageDirectoryLoader::waitForListings();
}

// Listing runs beside the thumbnail work, never behind a long filing run on the global pool.
// A listing waits for the photos' metadata, read on a pool of its own whose work never waits
// for anything: with one pool, two listings at once took both threads and each waited for
// work queued behind the other, for ever.
QThreadPool &listingPool()
{
    static QThreadPool pool;
    // A listing still going when the program ends would read the MIME database after
    // the application had torn it down: the application waits for it first.
    static const bool waitsAtExit = (qAddPostRoutine(waitForListings), true);
    Q_UNUSED(waitsAtExit);
    return pool;
}

QThreadPool &metadataPool()
{
    static QThreadPool pool;
    return pool;
}
} // namespace

void ImageDirectoryLoader::setMaxListingThreads(int count)
{
    listingPool().setMaxThreadCount(count);
    metadataPool().setMaxThreadCount(count);
}

bool ImageDirectoryLoader::waitForListings(int timeoutMs)
{
    return listingPool().waitForDone(timeoutMs);
}

ImageDirectoryLoader::ImageDirectoryLoader(QObject *parent, ThumbnailCache *cache)
    : QObject(parent)
    , m_cache(cache ? cache : &ThumbnailCache::standard())
    , m_scheduler(new ThumbnailScheduler(*m_cache, this))
    , m_latestLoad(std::make_shared<std::atomic<quint64>>(0))
{
    connect(m_scheduler, &ThumbnailScheduler::arrived, this, &ImageDirectoryLoader::thumbnailsArrived);
    connect(m_scheduler, &ThumbnailScheduler::finished, this, [this] {
        m_thumbnailsPending = false;
        Q_EMIT thumbnailsFinished();
    });
}

ImageDirectoryLoader::~ImageDirectoryLoader()
{
    nextLoad(); // a listing still under way stops reading
}

quint64 ImageDirectoryLoader::nextLoad()
{
    m_latestLoad->store(++m_loadGeneration);
    return m_loadGeneration;
}

void ImageDirectoryLoader::doMyInitStuff()
{
    NotificationCenter::defaultCenter().addObserver(this, NotificationNames::myCustomId, [](const Notification &n) {
        logLine(u"ImageDirectoryLoader -> doNotificationForButton.... command="_s
                + n.userInfo.value(NotificationKeys::command).toString() + u" sectionid="_s
                + n.userInfo.value(NotificationKeys::sectionid).toString());
    });
}

namespace {
struct FileFacts
{
    std::optional<FileIdentity> identity;
    std::optional<qint64> createdMs;
};

// One statx per photo gives both what the sort needs and what the thumbnail cache keys on.
FileFacts factsOf(const NativePath &path)
{
    struct statx info = {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MTIME | STATX_BTIME | STATX_INO | STATX_SIZE, &info) != 0)
        return {};
    const auto toMs = [](const statx_timestamp &t) { return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000; };
    qint64 ms = toMs(info.stx_mtime);
    if ((info.stx_mask & STATX_BTIME) != 0)
        ms = std::min(ms, toMs(info.stx_btime));
    const FileIdentity identity {quint64(makedev(info.stx_dev_major, info.stx_dev_minor)), quint64(info.stx_ino),
                                 qint64(info.stx_size),
                                 qint64(info.stx_mtime.tv_sec) * 1000000000 + info.stx_mtime.tv_nsec};
    return {identity, ms};
}
} // namespace

std::optional<QDateTime> ImageDirectoryLoader::creationDate(const QString &path)
{
    const std::optional<qint64> ms = factsOf(path).createdMs;
    return ms ? std::optional<QDateTime>(QDateTime::fromMSecsSinceEpoch(*ms)) : std::nullopt;
}

QString ImageDirectoryLoader::configuredSortKey()
{
    const SettingsStore &store = SettingsStore::standard();
    const QVariantList choices = store.arrayForKey(cPrefInputFolderSortKeyList).value_or(QVariantList());
    qint64 index = store.integerForKey(cPrefInputFolderSortKeySelectedIndex);
    if (index < 0 || index >= choices.size())
        index = 0;
    if (choices.isEmpty())
        return cLocalizedNameSortKey;
    const QVariant key = choices.at(index).toMap().value(u"key"_s);
    return key.typeId() == QMetaType::QString ? key.toString() : cLocalizedNameSortKey;
}

ImageDirectoryLoader::Listed ImageDirectoryLoader::sortedByKey(const QList<Found> &found, const QString &sortKey,
                                                               const Superseded &superseded, const Memo &previous)
{
    struct Item
    {
        const Found *found = nullptr;
        std::optional<qint64> shotMs;
        std::optional<FileIdentity> identity;
        QString sectionId;
    };
    const bool byName = sortKey == cLocalizedNameSortKey;
    QList<Item> items;
    items.reserve(found.size());
    for (const Found &f : found)
        items.append({&f, std::nullopt, std::nullopt, QString()});
    // What each name means is read here, off the window's thread and on both cores, with the
    // file's identity; a name the last listing read under the same rule means what it meant.
    auto memo = std::make_shared<SectionMemo>();
    if (!found.isEmpty())
        memo->record = PhotoNameRecord::load(found.first().path.parent().toString());
    memo->partCountSetting = SettingsStore::standard().integerForKey(cPrefOriginalNameFormatTag);
    const PhotoNameRule rule(memo->record);
    const bool sameRule = previous && previous->partCountSetting == memo->partCountSetting
        && previous->record.folder == memo->record.folder && previous->record.nameParts == memo->record.nameParts
        && previous->record.originals == memo->record.originals && previous->record.given == memo->record.given;
    const QHash<QString, QString> known = sameRule ? previous->sectionIdOfName : QHash<QString, QString>();
    const auto sectionIdOf = [&rule, &known](const QString &name) {
        const auto it = known.constFind(name);
        return it != known.cend() ? *it : rule.sectionId(name);
    };
    if (byName) {
        QtConcurrent::blockingMap(&metadataPool(), items, [&sectionIdOf](Item &item) {
            item.identity = factsOf(item.found->path).identity;
            item.sectionId = sectionIdOf(item.found->name);
        });
    } else {
        // The metadata is read only for this order, once per file content, on both cores:
        // a folder listed again after a correction reads nothing.
        const QTimeZone localZone = QTimeZone::systemTimeZone();
        QtConcurrent::blockingMap(&metadataPool(), items, [&localZone, &superseded, &sectionIdOf](Item &item) {
            if (superseded && superseded())
                return; // nobody will see this order
            const NativePath &path = item.found->path;
            const FileFacts facts = factsOf(path);
            item.identity = facts.identity;
            const std::optional<QDateTime> shot = facts.identity ? ShootingTime::of(path, *facts.identity, localZone)
                                                                 : ShootingTime::read(path, localZone);
            item.shotMs = shot ? std::optional<qint64>(shot->toMSecsSinceEpoch()) : facts.createdMs;
            item.sectionId = sectionIdOf(item.found->name);
        });
        ShootingTime::flush();
    }
    // Plain comparison by character code, no locale, no numeric ordering.
    const auto less = [byName](const Item &a, const Item &b) {
        if (byName)
            return a.found->name.compare(b.found->name, Qt::CaseSensitive) < 0;
        if (!a.shotMs || !b.shotMs)
            return false;
        if (*a.shotMs != *b.shotMs)
            return *a.shotMs < *b.shotMs;
        return a.found->name.compare(b.found->name, Qt::CaseSensitive) < 0;
    };
    // Stable, and safe with the "cannot tell" answers of unreadable files.
    std::stable_sort(items.begin(), items.end(), less);
    Listed listed;
    listed.urls.reserve(items.size());
    listed.identities.reserve(items.size());
    listed.sectionIds.reserve(items.size());
    listed.names.reserve(items.size());
    memo->sectionIdOfName.reserve(items.size());
    for (const Item &item : std::as_const(items)) {
        listed.urls.append(item.found->url);
        listed.identities.append(item.identity);
        listed.sectionIds.append(item.sectionId);
        listed.names.append(item.found->name);
        memo->sectionIdOfName.insert(item.found->name, item.sectionId);
    }
    listed.memo = std::move(memo);
    return listed;
}

std::optional<QList<QUrl>> ImageDirectoryLoader::sortedUrlsOfFolder(const QUrl &folderURL)
{
    const std::optional<Listed> listed = listAndSort(folderURL);
    return listed ? std::optional<QList<QUrl>>(listed->urls) : std::nullopt;
}

std::optional<ImageDirectoryLoader::Listed>
ImageDirectoryLoader::listAndSort(const QUrl &folderURL, const Superseded &superseded, const Memo &previous)
{
    if (superseded && superseded())
        return std::nullopt;
    const std::optional<QList<Found>> found = getFilesURLFromFolder(folderURL);
    if (!found)
        return std::nullopt;
    return sortedByKey(*found, configuredSortKey(), superseded, previous);
}

std::optional<QList<ImageDirectoryLoader::Found>> ImageDirectoryLoader::getFilesURLFromFolder(const QUrl &folderURL)
{
    if (!folderURL.isValid() || !folderURL.isLocalFile() || folderURL.toLocalFile().isEmpty())
        return std::nullopt;
    QString folder = folderURL.toLocalFile();
    const QString resolved = QFileInfo(folder).canonicalFilePath();
    if (!resolved.isEmpty() && resolved != folder)
        folder = resolved;

    FileResult error;
    QList<FileResult> errors;
    const auto entries = SafeFile::list(NativePath(folder), {}, &error, &errors);
    if (!entries) {
        logLine(u"`directoryEnumerator` error: "_s + error.text() + u"."_s);
        return QList<Found>();
    }
    for (const FileResult &e : errors)
        logLine(u"`directoryEnumerator` error: "_s + e.text() + u"."_s);
    // Names become URLs on both cores: for thousands of photos this is much of a reload.
    // Each keeps its path as listed, for the statx and the names, so it goes through no URL again.
    QList<Found> candidates;
    candidates.reserve(entries->size());
    for (const SafeFileEntry &entry : *entries) {
        if (entry.type == SafeFileEntryType::Regular)
            candidates.append({QUrl(), entry.path, QString()});
    }
    QtConcurrent::blockingMap(&metadataPool(), candidates, [](Found &candidate) {
        const QString path = candidate.path.toString();
        if (!ImageTypes::isImageFile(path))
            return;
        candidate.url = QUrl::fromLocalFile(path);
        candidate.name = path.mid(path.lastIndexOf(u'/') + 1);
    });
    candidates.removeIf([](const Found &candidate) { return candidate.url.isEmpty(); });
    return candidates;
}

void ImageDirectoryLoader::loadDataForFolderWithUrl(const QUrl &folderURL)
{
    nextLoad(); // a progressive load still on its way is overtaken
    m_listing = false;
    const std::optional<Listed> listed = listAndSort(folderURL, {}, m_memo);
    if (!listed) {
        logLine(u"Inside loadDataForFolderWithUrl.. folderURL is NIL?????"_s);
        return;
    }
    m_progressive = false;
    setupDataForListing(*listed);
}

void ImageDirectoryLoader::setupDataForListing(const Listed &listed)
{
    m_identities = listed.identities;
    m_fSortedUrls = listed.urls;
    m_memo = listed.memo;
    m_sectionsAttributesArray.clear();
    createImageFilesForUrls(listed.urls, listed.sectionIds, listed.names);
    m_numberOfSections = 1;
    if (m_singleSectionMode)
        setupDataForSingleSectionMode();
    else
        setupDataForMultiSectionMode();
}

void ImageDirectoryLoader::beginLoadingFolder(const QUrl &folderURL, bool onlyIfChanged)
{
    // A newer load supersedes this one: what it would show is of no use any more.
    const quint64 generation = nextLoad();
    m_listing = true;
    QPointer<ImageDirectoryLoader> self(this);
    const std::shared_ptr<const std::atomic<quint64>> latest = m_latestLoad;
    listingPool().start([self, folderURL, generation, onlyIfChanged, latest, memo = m_memo] {
        std::optional<Listed> listed = listAndSort(
            folderURL, [&latest, generation] { return *latest != generation; }, memo);
        Dispatch::onMain(self, [self, listed = std::move(listed), generation, onlyIfChanged] {
            if (!self || generation != self->m_loadGeneration)
                return;
            self->m_listing = false;
            if (!listed) {
                logLine(u"Inside loadDataForFolderWithUrl.. folderURL is NIL?????"_s);
                return;
            }
            self->applyListing(*listed, onlyIfChanged);
        });
    });
}

void ImageDirectoryLoader::applyListing(const Listed &listed, bool onlyIfChanged)
{
    if (onlyIfChanged && m_fSortedUrls == listed.urls && m_identities == listed.identities)
        return;
    Q_EMIT aboutToReplaceRecords();
    m_progressive = true;
    setupDataForListing(listed);
    Q_EMIT folderListed();
}

void ImageDirectoryLoader::prioritize(const QList<qsizetype> &indices)
{
    m_scheduler->prioritize(indices);
}

qsizetype ImageDirectoryLoader::indexOfIdentity(const FileIdentity &identity) const
{
    return m_indexOfIdentity.value(identity, -1);
}

qsizetype ImageDirectoryLoader::indexForIndexPath(const IndexPath &indexPath) const
{
    return sectionOffset(indexPath.section) + indexPath.item;
}

std::optional<IndexPath> ImageDirectoryLoader::indexPathForIndex(qsizetype index) const
{
    if (index < 0 || index >= m_imageFiles.size())
        return std::nullopt;
    // Sections are contiguous and in order: the last one starting at or before the index.
    const auto after = std::upper_bound(m_sectionsAttributesArray.cbegin(), m_sectionsAttributesArray.cend(), index,
                                        [](qsizetype i, const SectionAttributes &s) { return i < s.sectionOffset; });
    if (after == m_sectionsAttributesArray.cbegin())
        return std::nullopt;
    const qsizetype section = (after - m_sectionsAttributesArray.cbegin()) - 1;
    const SectionAttributes &attributes = m_sectionsAttributesArray.at(section);
    if (index >= attributes.sectionOffset + attributes.sectionLength)
        return std::nullopt;
    return IndexPath {section, index - attributes.sectionOffset};
}

std::optional<FileIdentity> ImageDirectoryLoader::identityAt(qsizetype index) const
{
    return m_identities.value(index);
}

void ImageDirectoryLoader::createImageFilesForUrls(const QList<QUrl> &sortedUrls, const QList<QString> &sectionIds,
                                                   const QList<QString> &names)
{
    m_imageFiles.clear();
    m_sectionLengthArray.clear();
    m_sectionLengthArray2.clear();
    QString previous = u"_previous_"_s; // holds the separator, so no barcode id can equal it
    qsizetype runningCount = 0;
    qsizetype sectionCounter = 0;
    m_imageFiles.reserve(sortedUrls.size());
    // Sections follow the rule filing follows: a photo shown with no barcode yet stays when filed.
    const auto pathOf = [](const QUrl &url) {
        return url.isLocalFile() ? url.toLocalFile() : url.path(QUrl::FullyDecoded);
    };
    const bool sectionsKnown = sectionIds.size() == sortedUrls.size();
    const PhotoNameRule rule = sortedUrls.isEmpty() || sectionsKnown
        ? PhotoNameRule()
        : PhotoNameRule(NativePath(pathOf(sortedUrls.first())).parent().toString());
    for (qsizetype i = 0; i < sortedUrls.size(); ++i) {
        const QUrl &url = sortedUrls.at(i);
        const QString barcode = sectionsKnown ? sectionIds.at(i) : rule.sectionId(pathOf(url));
        if (m_singleSectionMode) {
            ++runningCount;
            sectionCounter = 1;
            if (m_sectionLengthArray.isEmpty())
                m_sectionLengthArray.append(runningCount);
            m_sectionLengthArray[0] = runningCount;
            m_curinfo.insert(u"barcodeid"_s, u"singleMode"_s);
            if (m_sectionLengthArray2.isEmpty())
                m_sectionLengthArray2.append(m_curinfo);
        } else if (barcode != previous) {
            previous = barcode;
            runningCount = 1;
            ++sectionCounter;
            m_sectionLengthArray.append(1);
            m_curinfo.insert(u"barcodeid"_s, barcode);
            m_sectionLengthArray2.append(m_curinfo);
        } else {
            ++runningCount;
        }
        m_sectionLengthArray[sectionCounter - 1] = runningCount;
        ImageFilePtr file = ImageFile::pending(url, names.value(i));
        file->setBasecode(barcode);
        m_imageFiles.append(std::move(file));
    }
    if (m_identities.size() != m_imageFiles.size())
        m_identities = QList<std::optional<FileIdentity>>(m_imageFiles.size());
    m_indexOfIdentity.clear();
    QSet<FileIdentity> shown;
    for (qsizetype i = 0; i < m_identities.size(); ++i) {
        if (m_identities.at(i)) {
            m_indexOfIdentity.insert(*m_identities.at(i), i);
            shown.insert(*m_identities.at(i));
        }
    }

    m_scheduler->cancel();
    if (!m_progressive) {
        // The caller waits: every core makes thumbnails until all are there.
        ThumbnailScheduler::fillNow(*m_cache, m_imageFiles);
        m_thumbnailsPending = false;
    } else {
        // What is already in memory (a reload after a correction: all of it) shows at once.
        QList<qsizetype> missing;
        for (qsizetype i = 0; i < m_imageFiles.size(); ++i) {
            const std::optional<CompactThumbnail> known =
                m_identities.at(i) ? m_cache->findInMemory(*m_identities.at(i)) : std::nullopt;
            if (known)
                m_imageFiles.at(i)->setCompactThumbnail(*known);
            else
                missing.append(i);
        }
        m_thumbnailsPending = !missing.isEmpty();
        m_scheduler->start(m_imageFiles, missing);
    }
    // Thumbnails of other folders need not stay in memory; the disk keeps them.
    m_cache->retainInMemoryOnly(shown);
}

void ImageDirectoryLoader::setupDataForUrls(const std::optional<QList<QUrl>> &urls)
{
    m_sectionsAttributesArray.clear();
    if (urls)
        createImageFilesForUrls(*urls);
    m_sectionsAttributesArray.clear();
    m_numberOfSections = 1;
    if (m_singleSectionMode)
        setupDataForSingleSectionMode();
    else
        setupDataForMultiSectionMode();
}

void ImageDirectoryLoader::setupDataForSingleSectionMode()
{
    m_sectionsAttributesArray.append({0, m_imageFiles.size()});
}

void ImageDirectoryLoader::setupDataForMultiSectionMode()
{
    const qsizetype photos = m_imageFiles.size();
    if (m_sectionLengthArray.size() < 2 || photos <= m_sectionLengthArray.first()) {
        m_sectionsAttributesArray.append({0, photos});
        return;
    }
    m_sectionsAttributesArray.append({0, m_sectionLengthArray.first()});
    for (qsizetype i = 1; i < m_sectionLengthArray.size(); ++i) {
        ++m_numberOfSections;
        const SectionAttributes &last = m_sectionsAttributesArray.constLast();
        const qsizetype offset = last.sectionOffset + last.sectionLength;
        if (photos <= offset + m_sectionLengthArray.at(i)) {
            m_sectionsAttributesArray.append({offset, photos - offset});
            break;
        }
        m_sectionsAttributesArray.append({offset, m_sectionLengthArray.at(i)});
    }
}

qsizetype ImageDirectoryLoader::numberOfItemsInSection(qsizetype section) const
{
    if (section < 0 || section >= m_sectionsAttributesArray.size())
        return 0;
    return m_sectionsAttributesArray.at(section).sectionLength;
}

qsizetype ImageDirectoryLoader::numberOfItems() const
{
    return m_imageFiles.size();
}

qsizetype ImageDirectoryLoader::sectionOffset(qsizetype section) const
{
    if (section < 0 || section >= m_sectionsAttributesArray.size())
        return 0;
    return m_sectionsAttributesArray.at(section).sectionOffset;
}

ImageFilePtr ImageDirectoryLoader::imageFileForIndexPath(const IndexPath &indexPath) const
{
    if (indexPath.section < 0 || indexPath.section >= m_sectionsAttributesArray.size() || indexPath.item < 0)
        return nullptr;
    const qsizetype position = m_sectionsAttributesArray.at(indexPath.section).sectionOffset + indexPath.item;
    if (position >= m_imageFiles.size())
        return nullptr;
    return m_imageFiles.at(position);
}

std::optional<QString> ImageDirectoryLoader::barcodeidForSection(qsizetype section) const
{
    if (section < 0 || section >= m_sectionLengthArray2.size())
        return std::nullopt;
    const QVariant code = m_sectionLengthArray2.at(section).value(u"barcodeid"_s);
    if (code.typeId() != QMetaType::QString)
        return std::nullopt;
    return code.toString();
}
