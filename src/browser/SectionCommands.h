#pragma once

#include "model/ImageDirectoryLoader.h"
#include "support/Notification.h"

#include <QList>
#include <QObject>
#include <QUrl>

class PhotoGridView;
class SheetPresenter;
class QWidget;

// What the operator does to the marked photos: reassign those of one section (a
// header's button in two stages, or the menu command) and delete them to the trash.
class SectionCommands : public QObject
{
    Q_OBJECT

public:
    SectionCommands(PhotoGridView *grid, ImageDirectoryLoader *loader, SheetPresenter *sheets, QWidget *browser);

    // "ID[2] = 2000000000015", as the section's header shows it; empty in single-section mode.
    static QString sectionTitle(const ImageDirectoryLoader &loader, qsizetype section);

    // The first stage: the mode prompt when it is due, else straight to the second.
    void headerButtonPressed(const Notification &notification);
    // The second: the marked photos of the section the notification names.
    void reassignSection(const Notification &notification);
    // The section of the marked photos, or with none marked the section in view.
    void reassignMarked();

    void deleteMarked();
    void deleteURLS(const QList<QUrl> &urls, const QList<IndexPath> &indexPaths);

Q_SIGNALS:
    // Photos went: the folder must be read again.
    void refreshNeeded();

private:
    void showNothingSelectedAlert(const QString &sectionid);
    // For photos the trash refused: the operator decides, Cancel being the default.
    void askToDeletePermanently(const QStringList &paths, const QString &why);
    QList<IndexPath> markedInOrder() const;

    PhotoGridView *m_grid;
    ImageDirectoryLoader *m_loader;
    SheetPresenter *m_sheets;
    QWidget *m_browser;
};
