#include "TestMain.h"
#include "filing/DestinationPathRules.h"
#include "settings/BundleInfo.h"
#include "settings/CompanionSettings.h"
#include "settings/LogPaths.h"
#include "settings/MyAliasKit.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "shell/AppPaths.h"
#include "shell/PreferencesViewController.h"
#include "support/Alert.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/PlistCodec.h"
#include "support/SheetRegistry.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <memory>

using namespace Qt::StringLiterals;

using Pane = PreferencesViewController;

namespace {
SettingsStore &store()
{
    return SettingsStore::standard();
}

QVariant orNone(const QString &text)
{
    return text.isNull() ? QVariant() : QVariant(text);
}

// The executable name decides whether this is the standalone build; the guard puts it back.
auto pretendExecutable(const QString &name)
{
    QVariantMap info = BundleInfo::infoDictionary();
    info.insert(u"CFBundleExecutable"_s, name);
    BundleInfo::setInfoDictionaryForTesting(info);
    return qScopeGuard([] { BundleInfo::resetInfoDictionaryForTesting(); });
}

QString resolved(const QString &aliasKey)
{
    QString path;
    const std::optional<QByteArray> data = store().dataForKey(aliasKey);
    return data && MyAliasKit::resolveAliasFromData(*data, &path) ? path : QString();
}
} // namespace

// The preferences pane as the operator meets it: each control over its setting,
// the folder choices, the companion's folder and the reveal buttons.
class TestPreferencesViewController : public QObject
{
    Q_OBJECT

    // Before the pane opens: the stored choice, pattern and own pattern (null: not stored); then the
    // operator picks items in order, or types into the own-pattern field.
    struct DateRow
    {
        int storedTag;
        QString storedPattern, ownPattern;
        QList<int> picks;
        QString typed, pattern; // pattern null: removed
        QString example; // "<medium>"/"<long>": that date style; null: whatever the label says
        QString refused; // part of the reason shown; the own pattern is never stored
    };

private Q_SLOTS:
    void initTestCase()
    {
        FolderPanel::setTestMode(true);
        DesktopOpener::setTestMode(true);
        Alert::setTestMode(true);
        DestinationPathRules::setClockForTesting([this] { return m_moment; });
        NotificationCenter::defaultCenter().addObserver(
            &m_receiver, NotificationNames::vimoNotificationChangedSourcePath,
            [this](const Notification &n) { m_sourceChanges << n.hasUserInfo; });
        m_window.resize(800, 600);
        m_window.show();
    }

    void init()
    {
        for (const QString &key : store().storedValues().keys())
            store().removeObjectForKey(key);
        for (const QString &path :
             {LogPaths::logFile(), LogPaths::oldLogFile(), CompanionSettings::preferencesFilePath()})
            QFile::remove(path);
        Alert::resetForTesting();
        m_sourceChanges.clear();
    }

    void reassignmentMode_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("afterQuery");
        // Where the companion's setting decides, "always ask" is off and a line says why.
        QTest::addColumn<bool>("standalone");
        QTest::newRow("nothing stored") << QVariant() << 200 << 200 << false;
        QTest::newRow("201 shown until a query") << QVariant(201) << 201 << 200 << true;
        QTest::newRow("202") << QVariant(202) << 202 << 202 << false;
        QTest::newRow("unknown tag") << QVariant(7) << 200 << 200 << true;
        QTest::newRow("202 stored as text") << QVariant(u"202"_s) << 202 << 202 << false;
    }

    void reassignmentMode()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, shown);
        QFETCH(int, afterQuery);
        QFETCH(bool, standalone);
        store().setObject(stored, cPrefRadioSet1SelectedTag);
        const auto restore = pretendExecutable(standalone ? u"vimoLumisort"_s : u"lumisort"_s);
        const auto pane = openPane();
        QCOMPARE(store().integerForKey(cPrefRadioSet1SelectedTag), shown);
        QCOMPARE(pane->ibRadioSet1->checkedId(), shown);
        QCOMPARE(Pane::isAutoReassignMode(), afterQuery == 202);
        QCOMPARE(store().integerForKey(cPrefRadioSet1SelectedTag), afterQuery);
        const int other = shown == 202 ? 200 : 202;
        pane->radioButtonWithTag(other)->click();
        QCOMPARE(store().integerForKey(cPrefRadioSet1SelectedTag), other);
        QCOMPARE(pane->ibRadioSet1->checkedId(), other);
        auto *box = pane->findChild<QCheckBox *>(cPrefAlwaysPromptForReassignmentMode);
        QVERIFY(box && !box->isChecked());
        QCOMPARE(box->isEnabled(), standalone);
        box->click(); // a disabled box takes no click
        QCOMPARE(store().boolForKey(cPrefAlwaysPromptForReassignmentMode), standalone);
        QCOMPARE(pane->ibAlwaysPromptNoteLabel->isHidden(), standalone);
        // The automatic-by-section choice names the one it works as.
        QVERIFY(!pane->ibMode201NoteLabel->isHidden());
        QVERIFY(pane->ibMode201NoteLabel->text().contains(pane->radioButtonWithTag(200)->text()));
    }

    void datePattern_data()
    {
        QTest::addColumn<DateRow>("row");
        const QString none, y = u"yyyy"_s, above = u"folder above the destination"_s;
        const auto row = [](const char *name, const DateRow &r) { QTest::newRow(name) << r; };
        row("own pattern of spaces", {1, none, u"   "_s, {6}, none, u"yyyyMMdd"_s, u"20261206"_s, none});
        row("own pattern trimmed", {1, none, u" yyyy-MM "_s, {6}, none, u"yyyy-MM"_s, u"2026-12"_s, none});
        row("no daily folder", {1, y, none, {0}, none, none, none, none});
        row("medium after 1", {0, none, none, {1, 3}, none, u"MM-dd-yyyy"_s, u"<medium>"_s, none});
        row("style keeps stored pattern", {2, y, none, {4}, none, y, u"<long>"_s, none});
        row("own pattern on opening", {6, none, u"yy"_s, {}, none, u"yy"_s, u"26"_s, none});
        row("typing a pattern", {6, none, none, {}, u"dd.MM."_s, u"dd.MM."_s, u"06.12."_s, none});
        // A pattern whose folder would not be a folder of its own below the destination.
        row("typed quoted ..", {6, y, y, {}, u"'..'"_s, y, none, above});
        row("typed ..", {6, y, y, {}, u".."_s, y, none, above});
        row("typed .", {6, y, y, {}, u"."_s, y, none, u"directly in the destination"_s});
        row("typed pattern giving no name", {6, y, y, {}, u"j"_s, y, none, u"no folder name"_s});
        row("picked while stored as ..", {1, y, u"'..'"_s, {6}, none, u"MM-dd-yyyy"_s, none, above});
    }

    void datePattern()
    {
        QFETCH(DateRow, row);
        store().setInteger(row.storedTag, cPrefDateFormatterTag);
        store().setObject(orNone(row.storedPattern), cPrefDailyFolderDateFormat);
        store().setObject(orNone(row.ownPattern), cPrefUserDefinedDateFormatter);
        const auto pane = openPane();
        QLabel *problem = pane->ibDateFormatProblemLabel;
        QVERIFY(problem->isHidden());
        QComboBox *popUp = pane->ibDateFormatterPopUp;
        for (int tag : row.picks)
            popUp->setCurrentIndex(popUp->findData(tag) >= 0 ? popUp->findData(tag) : tag);
        if (!row.typed.isNull())
            pane->ibUserDefinedDateFormatterField->setText(row.typed);
        QCOMPARE(store().objectForKey(cPrefDailyFolderDateFormat), orNone(row.pattern));
        QCOMPARE(problem->isHidden(), row.refused.isEmpty());
        if (!row.refused.isEmpty()) {
            QVERIFY2(problem->text().contains(row.refused), qPrintable(problem->text()));
            QCOMPARE(store().stringForKey(cPrefUserDefinedDateFormatter), row.ownPattern);
            // A good pattern is taken at once and the warning goes.
            pane->ibUserDefinedDateFormatterField->setText(u"yyyy-MM"_s);
            QCOMPARE(store().stringForKey(cPrefDailyFolderDateFormat), u"yyyy-MM"_s);
            QVERIFY(problem->isHidden());
            return;
        }
        using Style = DestinationPathRules::DateStyle;
        if (row.example == u"<medium>"_s || row.example == u"<long>"_s)
            row.example =
                DestinationPathRules::formatDate(m_moment, row.example == u"<medium>"_s ? Style::Medium : Style::Long);
        const int chosen = row.picks.isEmpty() ? row.storedTag : row.picks.constLast();
        const QString example = store().stringForKey(cPrefDailyFolderDateFormatExample).value_or(QString());
        QVERIFY(row.example.isNull() || example == row.example);
        QCOMPARE(pane->ibDateFormatExampleLabel->text(), example);
        QCOMPARE(store().integerForKey(cPrefDateFormatterTag), chosen);
        QCOMPARE(store().boolForKey(cPrefEnableUserDefinedDateFormatter), chosen != 6);
        QCOMPARE(pane->ibUserDefinedDateFormatterField->isEnabled(), chosen == 6);
    }

    void folderChoice_data()
    {
        // route: the folder panel of either folder, or the companion check box switched on or off.
        // answered: the panel's OK (else Cancel), or the companion has a folder.
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<int>("posts");
        QTest::addColumn<QString>("refused"); // the folder answered is the home folder or in the trash
        QTest::newRow("working folder, OK") << u"working"_s << true << true << 1 << QString();
        QTest::newRow("working folder, Cancel") << u"working"_s << false << false << 0 << QString();
        QTest::newRow("working folder in the trash") << u"working"_s << true << false << 0 << u"in the trash"_s;
        QTest::newRow("destination, OK") << u"destination"_s << true << true << 0 << QString();
        QTest::newRow("destination, Cancel") << u"destination"_s << false << false << 0 << QString();
        QTest::newRow("destination, the home folder") << u"destination"_s << true << false << 0 << u"home folder"_s;
        QTest::newRow("companion switched off") << u"companion off"_s << true << false << 1 << QString();
        QTest::newRow("companion without folder") << u"companion on"_s << false << false << 1 << QString();
        QTest::newRow("companion folder") << u"companion on"_s << true << true << 1 << QString();
    }

    void folderChoice()
    {
        QFETCH(QString, route);
        QFETCH(bool, answered);
        QFETCH(bool, stored);
        QFETCH(int, posts);
        QFETCH(QString, refused);
        const bool destination = route == u"destination"_s, companion = route.startsWith(u"companion"_s);
        const QString pathKey = destination ? cPrefDestinationPath : cPrefSourcePath;
        const QString aliasKey = destination ? cPrefDestinationPathAliasData : cPrefSourcePathAliasData;
        const QString validKey = destination ? cPrefDestinationPathIsValid : cPrefSourcePathIsValid;
        TestSandbox &sandbox = TestSandbox::instance();
        QString folder = sandbox.makeFolder(u"chosen"_s);
        if (!refused.isEmpty())
            folder = destination ? sandbox.home() : sandbox.dataHome() + u"/Trash/files"_s;
        // The panel opens in the folder chosen before, else in the working folder, else at home.
        const QString opensIn = destination ? sandbox.makeFolder(u"working"_s) : QDir::homePath();
        if (destination)
            store().setString(opensIn, cPrefSourcePath);
        if (companion && answered)
            QVERIFY(writeFile(CompanionSettings::preferencesFilePath(),
                              PlistCodec::toXml(QVariantMap {
                                  {u"/"_s, QVariantMap {{u"Mainstay/"_s, QVariantMap {{u"savepath"_s, folder}}}}}})));
        if (companion)
            store().setBool(route == u"companion off"_s, cPrefAlwaysUseMainstayAsSourcePath);
        else
            FolderPanel::queueAnswerForTesting(answered ? std::optional<QString>(folder) : std::nullopt);
        const auto pane = openPane();
        if (companion) {
            pane->ibAlwaysUseMainstayCheckBox->click();
            QCOMPARE(store().boolForKey(cPrefAlwaysUseMainstayAsSourcePath), route == u"companion on"_s);
        } else {
            (destination ? pane->ibChooseDestinationButton : pane->ibChooseSourceButton)->click();
            const std::optional<FolderPanel::Options> shown = FolderPanel::lastShownForTesting();
            QVERIFY(shown && shown->canCreateDirectories && !shown->showsHiddenFiles);
            QCOMPARE(shown->startFolder, opensIn);
        }

        if (stored) {
            QTRY_COMPARE(store().stringForKey(pathKey).value_or(QString()), folder);
            QCOMPARE(resolved(aliasKey), QFileInfo(folder).canonicalFilePath());
            QCOMPARE(store().objectForKey(validKey), QVariant(true));
            QCOMPARE((destination ? pane->ibDestinationPathField : pane->ibSourcePathField)->text(), folder);
        } else {
            QTest::qWait(50);
            QCOMPARE(Alert::shownForTesting().size(), refused.isEmpty() ? 0 : 1);
            QVERIFY(refused.isEmpty() || Alert::shownForTesting().constFirst().informativeText.contains(refused));
            for (const QString &key : {pathKey, aliasKey, validKey})
                QVERIFY2(!store().objectForKey(key).isValid(), qPrintable(key));
        }
        QCOMPARE(m_sourceChanges, QList<bool>(posts, false));
    }

    void reveal_data()
    {
        // present: what exists beforehand: the button's stored folder ("folder", or "gone" when
        // stored but missing) or the log files ("old", "both"). A log button handing nothing over beeps.
        QTest::addColumn<int>("tag"); // of the button clicked
        QTest::addColumn<QString>("present");
        QTest::addColumn<QStringList>("handedOver"); // "open:" or "reveal:" with "$folder", "$log", "$old"
        QTest::newRow("logs, only old") << 103 << u"old"_s << QStringList {u"reveal:$old"_s};
        QTest::newRow("logs, both") << 103 << u"both"_s << QStringList {u"reveal:$log"_s, u"reveal:$old"_s};
        QTest::newRow("logs, none") << 103 << QString() << QStringList();
        QTest::newRow("working folder gone") << 100 << u"gone"_s << QStringList();
        QTest::newRow("working folder") << 100 << u"folder"_s << QStringList {u"open:$folder"_s};
        QTest::newRow("temporary folder") << 102 << u"folder"_s << QStringList {u"open:$folder"_s};
    }

    void reveal()
    {
        QFETCH(int, tag);
        QFETCH(QString, present);
        QFETCH(QStringList, handedOver);
        QString folder =
            tag == 102 ? AppPaths::temporaryDirectoryForThisApp() : TestSandbox::instance().makeFolder(u"reveal"_s);
        QVERIFY(QDir().mkpath(folder));
        if (present == u"gone"_s)
            folder += u"/gone"_s;
        if (present == u"folder"_s || present == u"gone"_s)
            store().setString(folder, cPrefSourcePath);
        if (present == u"both"_s)
            QVERIFY(writeFile(LogPaths::logFile(), "log line\n"));
        if (present == u"old"_s || present == u"both"_s)
            QVERIFY(writeFile(LogPaths::oldLogFile(), "log line\n"));
        const qsizetype openedBefore = DesktopOpener::openedForTesting().size();
        const qsizetype revealedBefore = DesktopOpener::revealedForTesting().size();
        const auto pane = openPane();
        for (QPushButton *button : pane->findChildren<QPushButton *>())
            if (button->property("tag") == tag)
                button->click();

        QStringList actual;
        for (const QString &path : DesktopOpener::openedForTesting().mid(openedBefore))
            actual << u"open:"_s + path;
        for (const QString &path : DesktopOpener::revealedForTesting().mid(revealedBefore))
            actual << u"reveal:"_s + path;
        handedOver.replaceInStrings(u"$folder"_s, folder).replaceInStrings(u"$log"_s, LogPaths::logFile());
        QCOMPARE(actual, handedOver.replaceInStrings(u"$old"_s, LogPaths::oldLogFile()));
        QCOMPARE(Alert::beepsForTesting(), tag == 103 && handedOver.isEmpty() ? 1 : 0);
    }

    void openedByTheBrowsersSegue()
    {
        PreferencesViewController::registerSheet();
        const std::unique_ptr<QDialog> sheet(SheetRegistry::make(u"dummyButtonSegue2"_s, &m_window));
        QVERIFY(qobject_cast<PreferencesViewController *>(sheet.get()));
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    }

private:
    std::unique_ptr<Pane> openPane()
    {
        auto pane = std::make_unique<Pane>(&m_window);
        pane->open();
        return pane;
    }
    QWidget m_window;
    QObject m_receiver;
    QList<bool> m_sourceChanges; // one entry per post: whether it carried user information
    const QDateTime m_moment {QDate(2026, 12, 6), QTime(18, 32)};
};

LUMISORT_GUI_TEST_MAIN(TestPreferencesViewController)
#include "tst_preferencesviewcontroller.moc"
