#include "SectionCommands.h"

#include "PhotoGridView.h"
#include "SheetPresenter.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsQueries.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/Plural.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"
#include "support/TrashOrKeep.h"

#include <QFileInfo>
#include <QPointer>
#include <QWidget>
#include <algorithm>

using namespace Qt::StringLiterals;

SectionCommands::SectionCommands(PhotoGridView *grid, ImageDirectoryLoader *loader, SheetPresenter *sheets,
                                 QWidget *browser)
    : QObject(browser)
    , m_grid(grid)
    , m_loader(loader)
    , m_sheets(sheets)
    , m_browser(browser)
{ }

QString SectionCommands::sectionTitle(const ImageDirectoryLoader &loader, qsizetype section)
{
    if (loader.singleSectionMode())
        return {};
    const QString barcode = loader.barcodeidForSection(section).value_or(u"Unknown!"_s);
    return u"ID["_s + QString::number(section) + u"] = "_s + barcode;
}

QList<IndexPath> SectionCommands::markedInOrder() const
{
    const QSet<IndexPath> selection = m_grid->selectionIndexPaths();
    QList<IndexPath> ordered(selection.cbegin(), selection.cend());
    std::sort(ordered.begin(), ordered.end());
    return ordered;
}

void SectionCommands::headerButtonPressed(const Notification &notification)
{
    SettingsStore &store = SettingsStore::standard();
    const bool promptDue = SettingsQueries::isStandaloneApp() ? store.boolForKey(cPrefAlwaysPromptForReassignmentMode)
                                                              : store.boolForKey(cPrefMainstayDisableScan);
    if (promptDue) {
        store.removeObjectForKey(cPrefLastUserInfo);
        if (notification.hasUserInfo)
            store.setObject(notification.userInfo, cPrefLastUserInfo);
        m_sheets->performSegue(u"dummyButtonSegue4"_s);
        return;
    }
    if (notification.hasUserInfo) {
        NotificationCenter::defaultCenter().post(NotificationNames::myCustomId, notification.userInfo);
    } else {
        NotificationCenter::defaultCenter().post(NotificationNames::myCustomId,
                                                 {{NotificationKeys::title, NotificationValues::UnknownSectionTitle},
                                                  {NotificationKeys::sectionid, u"0"_s},
                                                  {NotificationKeys::command, NotificationValues::dosomethingBAD}});
    }
}

void SectionCommands::reassignSection(const Notification &notification)
{
    const QString command = notification.userInfo.value(NotificationKeys::command).toString();
    const QString sectionid = notification.userInfo.value(NotificationKeys::sectionid).toString();
    const QString nothing = notification.userInfo.value(NotificationKeys::nothing).toString();
    const QString title = notification.userInfo.value(NotificationKeys::title).toString();
    logLine(u"ViewController -> doNotificationForButton.... command="_s + command + u" sectionid="_s + sectionid
            + u" nothing="_s + nothing + u" title="_s + title);

    if (SettingsQueries::isAutoReassignMode() && m_grid->selectionIndexPaths().isEmpty())
        m_grid->selectAll();
    const QList<IndexPath> ordered = markedInOrder();
    if (ordered.isEmpty()) {
        showNothingSelectedAlert(sectionid);
        return;
    }
    bool isNumber = false;
    const qsizetype section = sectionid.toLongLong(&isNumber);
    QList<QUrl> urlstochange;
    for (const IndexPath &path : ordered) {
        const ImageFilePtr file = m_loader->imageFileForIndexPath(path);
        if (!file)
            continue;
        if (isNumber && path.section == section)
            urlstochange.append(file->fileurl());
        else
            logLine(u"Ignoring selected item #"_s + QString::number(path.item) + u" in DIFFERENT section "_s
                    + QString::number(path.section));
    }
    if (urlstochange.isEmpty()) {
        showNothingSelectedAlert(sectionid);
        return;
    }
    m_sheets->presentReassignSheet(urlstochange, m_loader->fSortedUrls());
}

void SectionCommands::showNothingSelectedAlert(const QString &sectionid)
{
    QPointer<QWidget> browser(m_browser);
    Dispatch::onMain(this, [browser, sectionid] {
        if (browser)
            Alert::beginSheet(browser->window(),
                              {Alert::Style::Warning,
                               u"NOTHING SELECTED INSIDE THIS SECTION"_s,
                               u"You did NOT select any item that is inside this current section="_s + sectionid,
                               {u"OK"_s}});
    });
}

void SectionCommands::reassignMarked()
{
    QSet<qsizetype> sections;
    for (const IndexPath &path : m_grid->selectionIndexPaths())
        sections.insert(path.section);
    if (sections.size() > 1) {
        Alert::beginSheet(m_browser->window(),
                          {Alert::Style::Informational,
                           u"Marked Photos in "_s + Plural::count(sections.size(), u"Section"_s, u"Sections"_s),
                           u"Reassign one section at a time: mark photos of one section only, or use the "
                           "button in that section's header."_s,
                           {u"OK"_s}});
        return;
    }
    // Nothing marked: in automatic mode the section in view, as its header button would.
    qsizetype section = 0;
    if (!sections.isEmpty()) {
        section = *sections.cbegin();
    } else if (const std::optional<qsizetype> inView = m_grid->gridLayout().sectionAt(m_grid->contentOffset().y())) {
        section = *inView;
    }
    NotificationCenter::defaultCenter().post(NotificationNames::myCustomId0,
                                             {{NotificationKeys::title, sectionTitle(*m_loader, section)},
                                              {NotificationKeys::sectionid, QString::number(section)},
                                              {NotificationKeys::command, NotificationValues::dosomething}});
}

void SectionCommands::deleteMarked()
{
    QList<QUrl> urls;
    QList<IndexPath> paths;
    for (const IndexPath &path : markedInOrder()) {
        if (const ImageFilePtr file = m_loader->imageFileForIndexPath(path)) {
            urls.append(file->fileurl());
            paths.append(path);
        }
    }
    if (urls.isEmpty())
        return;
    QPointer<SectionCommands> self(this);
    Dispatch::onMain(this, [self, urls, paths] {
        Alert::beginSheet(self->m_browser->window(),
                          {Alert::Style::Warning,
                           u"DELETE All the Marked Photos?"_s,
                           (urls.size() == 1 ? u"There is "_s : u"There are "_s)
                               + Plural::count(urls.size(), u"photo"_s, u"photos"_s) + u" marked"_s,
                           {u"NO - Do Nothing"_s, u"YES DELETE"_s}},
                          [self, urls, paths](int response) {
                              if (self && response == Alert::cSecondButtonReturn)
                                  self->deleteURLS(urls, paths);
                          });
    });
}

void SectionCommands::deleteURLS(const QList<QUrl> &urls, const QList<IndexPath> &indexPaths)
{
    QList<IndexPath> deleted;
    QStringList notTrashed;
    QString why;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const QString path = urls.at(i).toLocalFile();
        const TrashOrKeep::Outcome discarded = TrashOrKeep::discard(path);
        if (discarded.trashed) {
            deleted.append(indexPaths.value(i));
            continue;
        }
        notTrashed.append(path);
        if (why.isEmpty())
            why = FileResult::describeErrno(discarded.trashFailure.errorNumber());
    }
    // Deleted outright only when the operator, told why the trash refused, says so.
    if (!notTrashed.isEmpty())
        askToDeletePermanently(notTrashed, why);
    if (!deleted.isEmpty())
        Dispatch::onMain(this, [this] { Q_EMIT refreshNeeded(); });
}

void SectionCommands::askToDeletePermanently(const QStringList &paths, const QString &why)
{
    constexpr qsizetype cNamesShown = 10;
    QStringList names;
    for (qsizetype i = 0; i < std::min(paths.size(), cNamesShown); ++i)
        names << NativePath::forDisplay(QFileInfo(paths.at(i)).fileName());
    if (paths.size() > cNamesShown)
        names << u"… and "_s + QString::number(paths.size() - cNamesShown) + u" more"_s;
    const QString count = Plural::count(paths.size(), u"Photo"_s, u"Photos"_s);
    Alert::Content question {
        Alert::Style::Critical,
        u"Delete "_s + count + u" Permanently?"_s,
        Plural::count(paths.size(), u"photo"_s, u"photos"_s) + u" could not be moved to the trash."_s
            + (why.isEmpty() ? QString() : u"\nReason: "_s + why) + u"\n\n"_s + names.join(u'\n')
            + u"\n\nDeleted permanently, they cannot be brought back. Cancel keeps them in the folder."_s,
        {u"Cancel"_s, u"Delete Permanently"_s}};
    question.carefulButton = 0;
    QPointer<SectionCommands> self(this);
    Alert::beginSheet(m_browser->window(), question, [self, paths](int response) {
        if (response != Alert::cSecondButtonReturn) {
            logLine(u"deleteURLS - kept "_s + QString::number(paths.size()) + u" photo(s) the trash refused"_s);
            return;
        }
        QStringList failed;
        for (const QString &path : paths) {
            if (const FileResult removed = SafeFile::remove(path); removed) {
                logLine(u"deleteURLS - deleted permanently, as the operator confirmed: "_s + path);
            } else {
                logLine(u"oops something went wrong with removeItemAtURL  "_s + removed.text());
                failed << NativePath::forDisplay(QFileInfo(path).fileName()) + u": "_s
                        + FileResult::describeErrno(removed.errorNumber());
            }
        }
        if (!self)
            return;
        if (!failed.isEmpty())
            Alert::beginSheet(self->m_browser->window(),
                              {Alert::Style::Warning,
                               Plural::count(failed.size(), u"Photo"_s, u"Photos"_s) + u" Could Not Be Deleted"_s,
                               failed.join(u'\n'),
                               {u"OK"_s}});
        Q_EMIT self->refreshNeeded();
    });
}
