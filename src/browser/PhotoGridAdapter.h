#pragma once

#include "model/FileIdentity.h"
#include "model/IndexPath.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <functional>

class HeaderView;
class ImageDirectoryLoader;
class PhotoGridView;
class PhotoListModel;
class QMimeData;
class QModelIndex;

// Puts the loader's folder on the grid: the photo model the grid shows, the header
// bands filled from its sections, the thumbnails on screen asked for first, and the
// operator's place (and, after another program changed the folder, the marks) kept
// across each new listing.
class PhotoGridAdapter : public QObject
{
    Q_OBJECT

public:
    PhotoGridAdapter(ImageDirectoryLoader *loader, PhotoGridView *view, QObject *parent = nullptr);

    PhotoListModel *model() const { return m_model; }
    // The loader's records changed outside a listing (the section mode).
    void reload();
    // Where the badges come from; badgesChanged() when the readings changed: only the
    // photos in view whose badge reads differently are painted again.
    void setBadgeSource(std::function<QString(const QString &path)> source);
    void badgesChanged();
    // The next listing keeps the marks on the photos that are still there.
    void keepMarksThroughNextListing() { m_keepSelection = true; }
    // The dragged photos' names, one a line, in reading order.
    void writeItems(const QSet<IndexPath> &paths, QMimeData *data) const;
    // The thumbnails on screen and the screenful below asked for first; told by visibleWanted too.
    void prioritizeVisible();

Q_SIGNALS:
    // The loader's indices of the photos on screen, then of those below them.
    void visibleWanted(const QList<qsizetype> &indices);

private:
    void fillHeader(HeaderView *header, const QModelIndex &section) const;
    // The photos in view (by file identity, which a rename keeps) and how far from
    // the top each one was.
    void rememberPlace();
    void restorePlace();
    void openPhoto(const QModelIndex &index) const;

    ImageDirectoryLoader *m_loader;
    PhotoGridView *m_view;
    PhotoListModel *m_model = nullptr;
    QList<QPair<FileIdentity, qreal>> m_place;
    QSet<FileIdentity> m_keptSelection;
    bool m_keepSelection = false;
    QHash<IndexPath, QString> m_badgesInView; // as last painted
};
