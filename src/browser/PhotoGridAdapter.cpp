#include "PhotoGridAdapter.h"

#include "HeaderView.h"
#include "PhotoGridView.h"
#include "model/ImageDirectoryLoader.h"
#include "model/PhotoListModel.h"
#include "roster/RosterSource.h"
#include "settings/SettingsQueries.h"
#include "support/DesktopOpener.h"
#include "support/Plural.h"
#include "support/SystemLog.h"

#include <QLabel>
#include <QMimeData>
#include <QPushButton>

using namespace Qt::StringLiterals;

PhotoGridAdapter::PhotoGridAdapter(ImageDirectoryLoader *loader, PhotoGridView *view, QObject *parent)
    : QObject(parent)
    , m_loader(loader)
    , m_view(view)
{
    // The place is taken before the model starts its reset and given back after the
    // grid has laid out the new listing.
    connect(loader, &ImageDirectoryLoader::aboutToReplaceRecords, this, &PhotoGridAdapter::rememberPlace);
    m_model = new PhotoListModel(loader, this);
    connect(loader, &ImageDirectoryLoader::folderListed, this, [this] {
        m_badgesInView.clear();
        restorePlace();
        prioritizeVisible();
    });
    view->setModel(m_model);
    view->setHeaderFiller([this](HeaderView *header, const QModelIndex &section) { fillHeader(header, section); });
    connect(view, &PhotoGridView::visibleItemsChanged, this, &PhotoGridAdapter::prioritizeVisible);
    // The names on the headers follow the roster as it is opened or saved again.
    connect(&RosterSource::shared(), &RosterSource::changed, this, [this] { m_view->refillHeaders(); });
    connect(view, &PhotoGridView::doubleClicked, this, &PhotoGridAdapter::openPhoto);
}

void PhotoGridAdapter::reload()
{
    m_model->reload();
}

void PhotoGridAdapter::setBadgeSource(std::function<QString(const QString &)> source)
{
    m_model->setBadgeSource(std::move(source));
}

void PhotoGridAdapter::badgesChanged()
{
    // Readings come in small batches all through a folder's reading, mostly of photos
    // out of view: repainting the whole view for each would take the time of the operator.
    QHash<IndexPath, QString> shown;
    for (const IndexPath &path : m_view->indexPathsForVisibleItems()) {
        const QString badge = m_model->indexForPath(path).data(PhotoListModel::BadgeRole).toString();
        const auto was = m_badgesInView.constFind(path);
        if (was == m_badgesInView.cend() || *was != badge)
            m_model->badgeChanged(path);
        shown.insert(path, badge);
    }
    m_badgesInView = std::move(shown);
}

void PhotoGridAdapter::writeItems(const QSet<IndexPath> &paths, QMimeData *data) const
{
    QModelIndexList indexes;
    for (const IndexPath &path : paths)
        indexes.append(m_model->indexForPath(path));
    const std::unique_ptr<QMimeData> names(m_model->mimeData(indexes));
    data->setText(names->text());
}

void PhotoGridAdapter::fillHeader(HeaderView *header, const QModelIndex &section) const
{
    header->sectionTitle->setText(section.data().toString());
    header->imageCount->setText(
        Plural::count(section.data(PhotoListModel::CountRole).toLongLong(), u"Item"_s, u"Items"_s));
    header->sectionid = section.row();
    const RosterSource::Lookup subject =
        RosterSource::shared().lookUp(section.data(PhotoListModel::SectionBarcodeRole).toString());
    header->showSubject(subject.text, subject.kind == RosterSource::Lookup::Kind::Unlisted);
    header->applyButton->setVisible(SettingsQueries::isAutoReassignMode());
}

void PhotoGridAdapter::openPhoto(const QModelIndex &index) const
{
    const ImageFilePtr file = index.data(PhotoListModel::FileRole).value<ImageFilePtr>();
    if (!file)
        return;
    const QString path = file->fileurl().toLocalFile();
    logLine(u"CollectionViewItem -> mouseDown.... opening "_s + path);
    DesktopOpener::openFile(path);
}

void PhotoGridAdapter::rememberPlace()
{
    m_place.clear();
    const qreal top = m_view->contentOffset().y();
    for (const IndexPath &path : m_view->indexPathsForVisibleItems()) {
        if (const auto id = m_loader->identityAt(m_loader->indexForIndexPath(path)))
            m_place.append({*id, m_view->frameForItem(path).top() - top});
    }
    m_keptSelection.clear();
    if (m_keepSelection) {
        for (const IndexPath &path : m_view->selectionIndexPaths()) {
            if (const auto id = m_loader->identityAt(m_loader->indexForIndexPath(path)))
                m_keptSelection.insert(*id);
        }
    }
}

void PhotoGridAdapter::restorePlace()
{
    // The first photo that was in view and still exists stays where it was on screen,
    // so the section being worked on does not jump away after a correction.
    for (const auto &[identity, fromTop] : std::as_const(m_place)) {
        if (const auto path = m_loader->indexPathForIndex(m_loader->indexOfIdentity(identity))) {
            m_view->setContentOffset(QPointF(0, m_view->frameForItem(*path).top() - fromTop));
            break;
        }
    }
    m_place.clear();
    // Positions moved: the marks follow the photos, not the places.
    QSet<IndexPath> reselect;
    if (m_keepSelection) {
        for (const FileIdentity &identity : std::as_const(m_keptSelection)) {
            if (const auto path = m_loader->indexPathForIndex(m_loader->indexOfIdentity(identity)))
                reselect.insert(*path);
        }
    }
    m_view->deselectAll();
    m_view->selectItems(reselect);
    m_keepSelection = false;
    m_keptSelection.clear();
}

void PhotoGridAdapter::prioritizeVisible()
{
    // What is on screen first, then the screenful below it.
    QList<qsizetype> wanted;
    for (const IndexPath &path : m_view->indexPathsForVisibleItems())
        wanted.append(m_loader->indexForIndexPath(path));
    if (!wanted.isEmpty()) {
        const qsizetype last = wanted.constLast();
        const qsizetype screen = wanted.size();
        for (qsizetype i = 1; i <= screen; ++i)
            wanted.append(last + i);
    }
    m_loader->prioritize(wanted);
    Q_EMIT visibleWanted(wanted);
}
