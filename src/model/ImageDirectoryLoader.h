#pragma once

#include "FileIdentity.h"
#include "ImageFile.h"
#include "IndexPath.h"
#include "PhotoNameRecord.h"
#include "support/NativePath.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QUrl>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The model of one folder of photos: its image files in display order, cut into
// sections, one per run of consecutive photos with the same barcode id. The
// browser, the command-line tool and the tests all turn folders into sections
// through this class.
class ThumbnailCache;
class ThumbnailScheduler;

class ImageDirectoryLoader : public QObject
{
    Q_OBJECT

public:
    static const QString cLocalizedNameSortKey; // "NSURLLocalizedNameKey": sort by name
    // "NSURLCreationDateKey": by shooting time, the camera's EXIF time where the photo
    // has one and the file's time (creationDate) otherwise.
    static const QString cCreationDateSortKey;

    // The thumbnail cache defaults to the program's own (memory and disk).
    explicit ImageDirectoryLoader(QObject *parent = nullptr, ThumbnailCache *cache = nullptr);
    ~ImageDirectoryLoader() override;

    void doMyInitStuff();
    void setupDataForUrls(const std::optional<QList<QUrl>> &urls);
    qsizetype numberOfItemsInSection(qsizetype section) const;
    qsizetype numberOfItems() const;
    ImageFilePtr imageFileForIndexPath(const IndexPath &indexPath) const;
    void loadDataForFolderWithUrl(const QUrl &folderURL);
    std::optional<QString> barcodeidForSection(qsizetype section) const;

    qsizetype numberOfSections() const { return m_numberOfSections; }
    void setNumberOfSections(qsizetype n) { m_numberOfSections = n; }
    bool singleSectionMode() const { return m_singleSectionMode; }
    void setSingleSectionMode(bool on) { m_singleSectionMode = on; }
    const std::optional<QList<QUrl>> &fSortedUrls() const { return m_fSortedUrls; }
    void setFSortedUrls(const std::optional<QList<QUrl>> &urls) { m_fSortedUrls = urls; }

    // The same load without making anyone wait: the folder is listed and sorted on a
    // background thread; the records (with the thumbnails already known) and the
    // sections replace the old ones on this thread (folderListed); the other
    // thumbnails follow (thumbnailsArrived), those asked for by prioritize() first.
    // With onlyIfChanged, a listing identical to the one shown changes nothing.
    void beginLoadingFolder(const QUrl &folderURL, bool onlyIfChanged = false);
    void prioritize(const QList<qsizetype> &indices);
    bool isLoading() const { return m_listing || m_thumbnailsPending; }
    // The position of the record of this file in display order, or -1.
    qsizetype indexOfIdentity(const FileIdentity &identity) const;
    std::optional<FileIdentity> identityAt(qsizetype index) const;
    // Position in display order of an index path, and back.
    qsizetype indexForIndexPath(const IndexPath &indexPath) const;
    std::optional<IndexPath> indexPathForIndex(qsizetype index) const;

    // All records in display order, and the first photo of a section.
    const QList<ImageFilePtr> &imageFiles() const { return m_imageFiles; }
    qsizetype sectionOffset(qsizetype section) const;

    // The image files of a folder in display order, without making any record
    // (nothing when the folder cannot be listed at all).
    static std::optional<QList<QUrl>> sortedUrlsOfFolder(const QUrl &folderURL);

    // The sort key chosen in the settings, and the comparison it stands for.
    static QString configuredSortKey();
    // When the photo was taken: the earlier of the file's birth time (where the file
    // system records one) and its modification time, since a copy from the card is
    // born at copy time but keeps the shooting time as its modification time.
    static std::optional<QDateTime> creationDate(const QString &path);

    // At most this many threads list folders in the background (tests limit it).
    static void setMaxListingThreads(int count);
    // Waits until no listing is under way; false when the time ran out.
    static bool waitForListings(int timeoutMs = -1);

Q_SIGNALS:
    void aboutToReplaceRecords();
    void folderListed();
    void thumbnailsArrived(const QList<qsizetype> &indices);
    void thumbnailsFinished();

private:
    // What each name of the last listing meant, and the rule it was read by: a reload after a
    // correction reads again only the names that are new, unless the rule changed meanwhile.
    struct SectionMemo
    {
        PhotoNameRecord record;
        qint64 partCountSetting = 0;
        QHash<QString, QString> sectionIdOfName;
    };
    using Memo = std::shared_ptr<const SectionMemo>;
    struct Listed
    {
        QList<QUrl> urls;
        QList<std::optional<FileIdentity>> identities;
        QList<QString> sectionIds; // the barcode id each name stands for, in the same order
        QList<QString> names;
        Memo memo;
    };
    struct Found
    {
        QUrl url;
        NativePath path;
        QString name;
    };
    // Asked while a listing runs: true once a newer load has started (the listing stops early).
    using Superseded = std::function<bool()>;
    static std::optional<Listed> listAndSort(const QUrl &folderURL, const Superseded &superseded = {},
                                             const Memo &previous = {});
    quint64 nextLoad();
    void applyListing(const Listed &listed, bool onlyIfChanged);

    struct SectionAttributes
    {
        qsizetype sectionOffset = 0;
        qsizetype sectionLength = 0;
    };

    static std::optional<QList<Found>> getFilesURLFromFolder(const QUrl &folderURL);
    void createImageFilesForUrls(const QList<QUrl> &sortedUrls, const QList<QString> &sectionIds = {},
                                 const QList<QString> &names = {});
    void setupDataForSingleSectionMode();
    void setupDataForMultiSectionMode();
    void setupDataForListing(const Listed &listed);
    static Listed sortedByKey(const QList<Found> &found, const QString &sortKey, const Superseded &superseded,
                              const Memo &previous);

    QList<ImageFilePtr> m_imageFiles;
    qsizetype m_numberOfSections = 1;
    bool m_singleSectionMode = false;
    QList<qsizetype> m_sectionLengthArray;
    QList<SectionAttributes> m_sectionsAttributesArray;
    QVariantMap m_curinfo;
    QList<QVariantMap> m_sectionLengthArray2;
    std::optional<QList<QUrl>> m_fSortedUrls;

    ThumbnailCache *m_cache = nullptr;
    ThumbnailScheduler *m_scheduler = nullptr;
    QList<std::optional<FileIdentity>> m_identities;
    QHash<FileIdentity, qsizetype> m_indexOfIdentity;
    Memo m_memo;
    quint64 m_loadGeneration = 0;
    // The generation of the newest load, for listings on other threads to see.
    std::shared_ptr<std::atomic<quint64>> m_latestLoad;
    bool m_listing = false;
    bool m_thumbnailsPending = false;
    bool m_progressive = false;
};
