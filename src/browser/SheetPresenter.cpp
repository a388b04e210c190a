#include "SheetPresenter.h"

#include "NoticeBar.h"
#include "support/DesktopOpener.h"
#include "support/NativePath.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/SheetRegistry.h"
#include "support/SystemLog.h"

#include <QDialog>
#include <QWidget>

using namespace Qt::StringLiterals;

SheetPresenter::SheetPresenter(NoticeBar *cardOfferBar, NoticeBar *keptStagingBar, QWidget *browser)
    : QObject(browser)
    , m_browser(browser)
    , m_cardOfferBar(cardOfferBar)
    , m_keptStagingBar(keptStagingBar)
{ }

QDialog *SheetPresenter::performSegue(const QString &identifier, const QVariantMap &context)
{
    logLine(u"ViewController -> performSegue.... "_s + identifier);
    QDialog *sheet = SheetRegistry::make(identifier, m_browser->window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    for (auto it = context.cbegin(); it != context.cend(); ++it)
        sheet->setProperty(it.key().toUtf8().constData(), it.value());
    connect(sheet, &QDialog::finished, this, &SheetPresenter::sheetFinished);
    // A card offered while a sheet was up is not offered any more: the sheet saw it.
    m_cardOfferBar->dismiss();
    m_sheets.removeAll(nullptr);
    m_sheets.append(sheet);
    sheet->open();
    Q_EMIT sheetPresented(identifier, sheet);
    return sheet;
}

QList<QDialog *> SheetPresenter::presentedSheets() const
{
    QList<QDialog *> sheets;
    for (const QPointer<QObject> &sheet : m_sheets) {
        QDialog *dialog = qobject_cast<QDialog *>(sheet.data());
        if (dialog && dialog->isVisible())
            sheets.append(dialog);
    }
    return sheets;
}

void SheetPresenter::presentReassignSheet(const QList<QUrl> &urlstochange,
                                          const std::optional<QList<QUrl>> &fullSortedList,
                                          const QVariantMap &detectedCodes)
{
    // The sheet registers for the hand-over as it loads.
    performSegue(u"dummyButtonSegue1"_s);
    QVariantMap info {
        {NotificationKeys::command, NotificationValues::dosomething},
        {NotificationKeys::urlstochange, QVariant::fromValue(urlstochange)},
        {NotificationKeys::fulSortedlUrlList, fullSortedList ? QVariant::fromValue(*fullSortedList) : QVariant()}};
    if (!detectedCodes.isEmpty())
        info.insert(NotificationKeys::detectedCodes, detectedCodes);
    NotificationCenter::defaultCenter().post(NotificationNames::myReassignId, info);
}

void SheetPresenter::offerCard(const Notification &notification)
{
    const QString card = notification.userInfo.value(NotificationKeys::NSDevicePath).toString();
    QString name = notification.userInfo.value(NotificationKeys::volumename).toString();
    if (name.isEmpty())
        name = card;
    // A sheet that is open handles cards itself (the card sheet) or must not be interrupted.
    if (card.isEmpty() || !presentedSheets().isEmpty())
        return;
    logLine(u"ViewController -> card offered: "_s + card);
    m_cardOfferBar->setProperty("card", card);
    m_cardOfferBar->offer(u"A camera card, “"_s + NativePath::forDisplay(name) + u"”, was put in."_s,
                          u"Import card "_s + NativePath::forDisplay(name), [this, card] {
                              performSegue(u"dummyButtonSegue3"_s, {{u"offeredCard"_s, card}});
                          });
}

void SheetPresenter::withdrawCard(const Notification &notification)
{
    if (notification.userInfo.value(NotificationKeys::NSDevicePath).toString()
        == m_cardOfferBar->property("card").toString())
        m_cardOfferBar->dismiss();
}

void SheetPresenter::showKeptStaging(const Notification &notification)
{
    const QStringList kept = notification.userInfo.value(NotificationKeys::folders).toStringList();
    if (kept.isEmpty()) {
        m_keptStagingBar->dismiss();
        return;
    }
    QStringList shown;
    for (const QString &folder : kept)
        shown << NativePath::forDisplay(folder);
    m_keptStagingBar->offer(u"A card import was cut short and some of its copies are on neither the card nor the "
                            u"working folder. They were kept in "_s
                                + shown.join(u", "_s) + u": look through them before deleting."_s,
                            u"Show in Files"_s, [kept] { DesktopOpener::revealInFileManager(kept); });
}
