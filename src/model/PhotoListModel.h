#pragma once

#include "IndexPath.h"

#include <QAbstractItemModel>
#include <QImage>
#include <functional>

class ImageDirectoryLoader;

// The loader's sections and photos as a two-level item model: a top-level row per
// section (its title, and its photo count under CountRole), under it a row per photo
// (name without the last extension, thumbnail, full name as tool tip, the file, and
// the badge of the code read in it). Thumbnails arriving in the background change
// only their own rows, so a folder of thousands of photos never redraws as a whole.
class PhotoListModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Role
    {
        FileRole = Qt::UserRole + 1, // ImageFilePtr
        BadgeRole, // QString, empty for none
        CountRole, // photos in a section
        SectionBarcodeRole, // QString: a section's barcode id as its names carry it (the unknown marker too); empty in
                            // one-section mode
    };

    explicit PhotoListModel(ImageDirectoryLoader *loader, QObject *parent = nullptr);

    // Where badges come from: the codes read in the photo at a path, shown as one text.
    void setBadgeSource(std::function<QString(const QString &path)> source);
    // The loader's records changed outside a listing (a synchronous load, the section mode).
    void reload();
    // Readings changed: every photo's badge is asked for again.
    void badgesChanged();
    // The reading of one photo changed.
    void badgeChanged(const IndexPath &path);

    QModelIndex indexForPath(const IndexPath &path) const;
    // Null for a section row or an invalid index.
    std::optional<IndexPath> pathForIndex(const QModelIndex &index) const;
    static bool isSection(const QModelIndex &index) { return index.isValid() && index.internalId() == 0; }

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Dragged photos travel as their file names, one a line, in reading order.
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

private:
    void thumbnailsArrived(const QList<qsizetype> &indices);
    QString sectionTitle(qsizetype section) const;
    int countSections() const;

    ImageDirectoryLoader *m_loader;
    std::function<QString(const QString &)> m_badgeSource;
    bool m_resetting = false;
    int m_sectionCount = 0;
};
