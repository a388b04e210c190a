#pragma once

#include "support/Notification.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <optional>

class NoticeBar;
class QDialog;
class QWidget;

// Puts the other workflows' sheets over the browser's window, and offers what the
// card import leaves to the operator (a card put in, copies kept from a cut-short
// import) in the bars above the grid.
class SheetPresenter : public QObject
{
    Q_OBJECT

public:
    SheetPresenter(NoticeBar *cardOfferBar, NoticeBar *keptStagingBar, QWidget *browser);

    // The context becomes properties of the sheet before it is shown (the card sheet
    // reads "offeredCard": the card the operator chose to import from the notice bar).
    QDialog *performSegue(const QString &identifier, const QVariantMap &context = {});
    QList<QDialog *> presentedSheets() const;
    // The reassignment sheet, handed the photos, the folder's whole sorted list and
    // the codes read in the photos, if any.
    void presentReassignSheet(const QList<QUrl> &urlstochange, const std::optional<QList<QUrl>> &fullSortedList,
                              const QVariantMap &detectedCodes = {});

    void offerCard(const Notification &notification);
    void withdrawCard(const Notification &notification);
    void showKeptStaging(const Notification &notification);

Q_SIGNALS:
    void sheetPresented(const QString &identifier, QDialog *sheet);
    void sheetFinished();

private:
    QWidget *m_browser;
    NoticeBar *m_cardOfferBar;
    NoticeBar *m_keptStagingBar;
    // Held as plain objects: a sheet is asked for while it is being destroyed (its
    // destroyed() signal), when it is no dialog any more and must not be taken for one.
    QList<QPointer<QObject>> m_sheets;
};
