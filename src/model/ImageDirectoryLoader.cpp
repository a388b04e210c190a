#include "ImageDirectoryLoader.h"

#include "FileNameConvention.h"
#include "ImageTypes.h"
#include "ThumbnailMaker.h"
#include "browser/NotificationNames.h"
#include "shell/SettingsKeys.h"
#include "shell/SettingsStore.h"
#include "shell/SharedConstants.h"
#include "support/NotificationCenter.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDir>
#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

const QString ImageDirectoryLoader::cLocalizedNameSortKey = u"NSURLLocalizedNameKey"_s;
const QString ImageDirectoryLoader::cCreationDateSortKey = u"NSURLCreationDateKey"_s;

namespace {
// Decoding thumbnails is the whole cost of a load; it gets a pool of its own so
// that long background runs on the global pool (a filing run) cannot starve it.
QThreadPool &thumbnailPool()
{
    static QThreadPool pool;
    return pool;
}
} // namespace

ImageDirectoryLoader::ImageDirectoryLoader(QObject *parent)
    : QObject(parent)
{ }

void ImageDirectoryLoader::doMyInitStuff()
{
    NotificationCenter::defaultCenter().addObserver(this, NotificationNames::myCustomId, [](const Notification &n) {
        logLine(u"ImageDirectoryLoader -> doNotificationForButton.... command="_s
                + n.userInfo.value(NotificationKeys::command).toString() + u" sectionid="_s
                + n.userInfo.value(NotificationKeys::sectionid).toString());
    });
}

std::optional<QDateTime> ImageDirectoryLoader::creationDate(const QString &path)
{
    struct statx info = {};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_BTIME, &info)
        != 0)
        return std::nullopt;
    const auto toMs = [](const statx_timestamp &t) { return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000; };
    qint64 ms = toMs(info.stx_mtime);
    if ((info.stx_mask & STATX_BTIME) != 0)
        ms = std::min(ms, toMs(info.stx_btime));
    return QDateTime::fromMSecsSinceEpoch(ms);
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

QList<QUrl> ImageDirectoryLoader::sortedByKey(const QList<QUrl> &urls, const QString &sortKey)
{
    struct Item
    {
        QUrl url;
        QString name;
        std::optional<QDateTime> created;
    };
    const bool byName = sortKey == cLocalizedNameSortKey;
    QList<Item> items;
    items.reserve(urls.size());
    for (const QUrl &url : urls)
        items.append({url, url.fileName(), byName ? std::nullopt : creationDate(url.toLocalFile())});
    // Plain comparison by character code, no locale, no numeric ordering.
    const auto less = [byName](const Item &a, const Item &b) {
        if (byName)
            return a.name.compare(b.name, Qt::CaseSensitive) < 0;
        if (!a.created || !b.created)
            return false;
        if (*a.created != *b.created)
            return *a.created < *b.created;
        return a.name.compare(b.name, Qt::CaseSensitive) < 0;
    };
    // Stable, and safe with the "cannot tell" answers of unreadable files.
    std::stable_sort(items.begin(), items.end(), less);
    QList<QUrl> sorted;
    sorted.reserve(items.size());
    for (const Item &item : std::as_const(items))
        sorted.append(item.url);
    return sorted;
}

std::optional<QList<QUrl>> ImageDirectoryLoader::getFilesURLFromFolder(const QUrl &folderURL) const
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
        return QList<QUrl>();
    }
    for (const FileResult &e : errors)
        logLine(u"`directoryEnumerator` error: "_s + e.text() + u"."_s);
    QList<QUrl> urls;
    for (const SafeFileEntry &entry : *entries) {
        if (entry.type != SafeFileEntryType::Regular)
            continue;
        const QString path = entry.path.toString();
        if (ImageTypes::isImageFile(path))
            urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

void ImageDirectoryLoader::loadDataForFolderWithUrl(const QUrl &folderURL)
{
    const std::optional<QList<QUrl>> urls = getFilesURLFromFolder(folderURL);
    if (!urls) {
        logLine(u"Inside loadDataForFolderWithUrl.. folderURL is NIL?????"_s);
        return;
    }
    const QList<QUrl> sorted = sortedByKey(*urls, configuredSortKey());
    m_fSortedUrls = sorted;
    setupDataForUrls(sorted);
}

void ImageDirectoryLoader::createImageFilesForUrls(const QList<QUrl> &sortedUrls)
{
    m_imageFiles.clear();
    m_sectionLengthArray.clear();
    m_sectionLengthArray2.clear();
    QString previous = u"_previous_"_s; // holds the separator, so no barcode id can equal it
    qsizetype runningCount = 0;
    qsizetype sectionCounter = 0;
    QList<QString> barcodes;
    barcodes.reserve(sortedUrls.size());
    for (const QUrl &url : sortedUrls) {
        const QString barcode = FileNameConvention::barcodeIdForUrl(url);
        barcodes.append(barcode);
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
    }

    // The thumbnails are the cost: make them on every core, keep the order.
    ThumbnailMaker::initializeLibraries();
    const QList<ImageFilePtr> files = QtConcurrent::blockingMapped<QList<ImageFilePtr>>(
        &thumbnailPool(), sortedUrls, [](const QUrl &url) { return std::make_shared<ImageFile>(url); });
    m_imageFiles.reserve(files.size());
    for (qsizetype i = 0; i < files.size(); ++i) {
        files.at(i)->setBasecode(barcodes.at(i));
        m_imageFiles.append(files.at(i));
    }
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
