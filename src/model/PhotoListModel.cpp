#include "PhotoListModel.h"

#include "ImageDirectoryLoader.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"

#include <QMimeData>
#include <algorithm>

using namespace Qt::StringLiterals;

PhotoListModel::PhotoListModel(ImageDirectoryLoader *loader, QObject *parent)
    : QAbstractItemModel(parent)
    , m_loader(loader)
{
    // The loader replaces its records between these two signals, with nothing in between:
    // persistent indexes and views never see records that changed under them.
    connect(loader, &ImageDirectoryLoader::aboutToReplaceRecords, this, [this] {
        if (!m_resetting) {
            m_resetting = true;
            beginResetModel();
        }
    });
    connect(loader, &ImageDirectoryLoader::folderListed, this, [this] {
        if (!m_resetting)
            beginResetModel();
        m_resetting = false;
        m_sectionCount = countSections();
        endResetModel();
    });
    connect(loader, &ImageDirectoryLoader::thumbnailsArrived, this, &PhotoListModel::thumbnailsArrived);
    m_sectionCount = countSections();
}

void PhotoListModel::setBadgeSource(std::function<QString(const QString &)> source)
{
    m_badgeSource = std::move(source);
    badgesChanged();
}

void PhotoListModel::reload()
{
    // A listing under way resets the model when it ends.
    if (m_resetting)
        return;
    beginResetModel();
    m_sectionCount = countSections();
    endResetModel();
}

void PhotoListModel::badgesChanged()
{
    const int sections = rowCount();
    for (int s = 0; s < sections; ++s) {
        const int count = rowCount(index(s, 0));
        if (count > 0)
            Q_EMIT dataChanged(index(0, 0, index(s, 0)), index(count - 1, 0, index(s, 0)), {BadgeRole});
    }
}

void PhotoListModel::badgeChanged(const IndexPath &path)
{
    const QModelIndex photo = indexForPath(path);
    if (photo.isValid())
        Q_EMIT dataChanged(photo, photo, {BadgeRole});
}

void PhotoListModel::thumbnailsArrived(const QList<qsizetype> &indices)
{
    // Neighbours arrive together: one change per run of adjacent photos of a section.
    QList<IndexPath> paths;
    paths.reserve(indices.size());
    for (const qsizetype i : indices) {
        if (const std::optional<IndexPath> path = m_loader->indexPathForIndex(i))
            paths.append(*path);
    }
    std::sort(paths.begin(), paths.end());
    const QList<int> roles {Qt::DecorationRole};
    for (qsizetype first = 0; first < paths.size();) {
        qsizetype last = first;
        while (last + 1 < paths.size() && paths.at(last + 1).section == paths.at(first).section
               && paths.at(last + 1).item <= paths.at(last).item + 1)
            ++last;
        Q_EMIT dataChanged(indexForPath(paths.at(first)), indexForPath(paths.at(last)), roles);
        first = last + 1;
    }
}

QModelIndex PhotoListModel::indexForPath(const IndexPath &path) const
{
    if (path.section < 0 || path.section >= rowCount() || path.item < 0
        || path.item >= m_loader->numberOfItemsInSection(path.section))
        return {};
    return createIndex(int(path.item), 0, quintptr(path.section + 1));
}

std::optional<IndexPath> PhotoListModel::pathForIndex(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this || index.internalId() == 0)
        return std::nullopt;
    return IndexPath {qsizetype(index.internalId() - 1), index.row()};
}

QModelIndex PhotoListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0 || row >= rowCount(parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, 0, quintptr(0));
    return createIndex(row, 0, quintptr(parent.row() + 1));
}

QModelIndex PhotoListModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || child.internalId() == 0)
        return {};
    return createIndex(int(child.internalId() - 1), 0, quintptr(0));
}

int PhotoListModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_sectionCount;
    return isSection(parent) ? int(m_loader->numberOfItemsInSection(parent.row())) : 0;
}

int PhotoListModel::countSections() const
{
    // Before a folder's first listing arrives the loader has no records but still one
    // section: shown, it would flash an empty "Unknown!" section before the photos.
    // Counted only on a reset: the loader's loading state changes without one.
    if (m_loader->isLoading() && m_loader->numberOfItems() == 0)
        return 0;
    return int(m_loader->numberOfSections());
}

int PhotoListModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QString PhotoListModel::sectionTitle(qsizetype section) const
{
    if (m_loader->singleSectionMode())
        return {};
    return u"ID["_s + QString::number(section) + u"] = "_s
        + m_loader->barcodeidForSection(section).value_or(u"Unknown!"_s);
}

QVariant PhotoListModel::data(const QModelIndex &index, int role) const
{
    if (isSection(index)) {
        if (role == Qt::DisplayRole)
            return sectionTitle(index.row());
        if (role == CountRole)
            return qlonglong(m_loader->numberOfItemsInSection(index.row()));
        if (role == SectionBarcodeRole)
            return m_loader->singleSectionMode() ? QString()
                                                 : m_loader->barcodeidForSection(index.row()).value_or(QString());
        return {};
    }
    const std::optional<IndexPath> path = pathForIndex(index);
    const ImageFilePtr file = path ? m_loader->imageFileForIndexPath(*path) : ImageFilePtr();
    if (!file)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return NativePath::forDisplay(PathUtils::baseName(file->fileName()));
    case Qt::ToolTipRole:
        return NativePath::forDisplay(file->fileName());
    case Qt::DecorationRole:
        return file->thumbnail();
    case FileRole:
        return QVariant::fromValue(file);
    case BadgeRole:
        return m_badgeSource ? m_badgeSource(file->fileurl().toLocalFile()) : QString();
    default:
        return {};
    }
}

Qt::ItemFlags PhotoListModel::flags(const QModelIndex &index) const
{
    if (isSection(index))
        return Qt::ItemIsEnabled;
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled : Qt::NoItemFlags;
}

QStringList PhotoListModel::mimeTypes() const
{
    return {u"text/plain"_s};
}

QMimeData *PhotoListModel::mimeData(const QModelIndexList &indexes) const
{
    QList<IndexPath> paths;
    for (const QModelIndex &index : indexes) {
        if (const std::optional<IndexPath> path = pathForIndex(index))
            paths.append(*path);
    }
    std::sort(paths.begin(), paths.end());
    QStringList names;
    for (const IndexPath &path : std::as_const(paths)) {
        if (const ImageFilePtr file = m_loader->imageFileForIndexPath(path))
            names << file->fileName();
    }
    auto *data = new QMimeData;
    data->setText(names.join(u'\n'));
    return data;
}
