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
#include <QSpinBox>
#include <memory>

using namespace Qt::StringLiterals;

using Pane = PreferencesViewController;

namespace {
SettingsStore &store()
{
    return SettingsStore::standard();
}

// What a control shows and how the operator changes it, whatever its kind.
QString shownBy(QWidget *control)
{
    if (auto *box = qobject_cast<QCheckBox *>(control))
        return QVariant(box->isChecked()).toString();
    if (auto *popUp = qobject_cast<QComboBox *>(control))
        return popUp->currentData().isValid() ? popUp->currentData().toString()
                                              : QString::number(popUp->currentIndex());
    if (auto *spin = qobject_cast<QSpinBox *>(control))
        return QString::number(spin->value());
    return qobject_cast<QLineEdit *>(control)->text();
}

void change(QWidget *control, const QVariant &to)
{
    if (auto *box = qobject_cast<QCheckBox *>(control))
        box->click();
    else if (auto *popUp = qobject_cast<QComboBox *>(control))
        popUp->setCurrentIndex(popUp->findData(to) >= 0 ? popUp->findData(to) : to.toInt());
    else if (auto *spin = qobject_cast<QSpinBox *>(control))
        spin->setValue(to.toInt());
    else
        qobject_cast<QLineEdit *>(control)->setText(to.toString());
}

QVariant orNone(const QString &text)
{
    return text.isNull() ? QVariant() : QVariant(text);
}

// The executable name decides whether this is the standalone build.
void pretendExecutable(const QString &name)
{
    QVariantMap info = BundleInfo::infoDictionary();
    info.insert(u"CFBundleExecutable"_s, name);
    BundleInfo::setInfoDictionaryForTesting(info);
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

private Q_SLOTS:
    void initTestCase();
    void init();
    void reassignmentMode_data();
    void reassignmentMode();
    void datePattern_data();
    void datePattern();
    void refusedDatePattern_data();
    void refusedDatePattern();
    void folderChoice_data();
    void folderChoice();
    void reveal_data();
    void reveal();
    void boundControl_data();
    void boundControl();
    void settingsWithoutEffectSayWhy_data();
    void settingsWithoutEffectSayWhy();
    void openedByTheBrowsersSegue();

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

void TestPreferencesViewController::initTestCase()
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

void TestPreferencesViewController::init()
{
    const QStringList keys = store().storedValues().keys();
    for (const QString &key : keys)
        store().removeObjectForKey(key);
    for (const QString &path : {LogPaths::logFile(), LogPaths::oldLogFile(), CompanionSettings::preferencesFilePath()})
        QFile::remove(path);
    Alert::resetForTesting();
    m_sourceChanges.clear();
}

void TestPreferencesViewController::reassignmentMode_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("afterQuery");
    QTest::newRow("nothing stored") << QVariant() << 200 << 200;
    QTest::newRow("201 shown until a query") << QVariant(201) << 201 << 200;
    QTest::newRow("202") << QVariant(202) << 202 << 202;
    QTest::newRow("unknown tag") << QVariant(7) << 200 << 200;
    QTest::newRow("202 stored as text") << QVariant(u"202"_s) << 202 << 202;
}

void TestPreferencesViewController::reassignmentMode()
{
    QFETCH(QVariant, stored);
    QFETCH(int, shown);
    QFETCH(int, afterQuery);
    store().setObject(stored, cPrefRadioSet1SelectedTag);
    const auto pane = openPane();
    QCOMPARE(store().integerForKey(cPrefRadioSet1SelectedTag), shown);
    QCOMPARE(pane->ibRadioSet1->checkedId(), shown);
    QCOMPARE(Pane::isAutoReassignMode(), afterQuery == 202);
    QCOMPARE(store().integerForKey(cPrefRadioSet1SelectedTag), afterQuery);
    const int other = shown == 202 ? 200 : 202;
    pane->radioButtonWithTag(other)->click();
    QCOMPARE(store().integerForKey(cPrefRadioSet1SelectedTag), other);
    QCOMPARE(pane->ibRadioSet1->checkedId(), other);
}

void TestPreferencesViewController::datePattern_data()
{
    // Before the pane opens: the stored choice, pattern and own pattern (null: not stored);
    // then the operator picks items in order, or types into the own-pattern field.
    QTest::addColumn<int>("storedTag");
    QTest::addColumn<QString>("storedPattern");
    QTest::addColumn<QString>("ownPattern");
    QTest::addColumn<QList<int>>("picks");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pattern"); // null: removed
    QTest::addColumn<QString>("example"); // "<medium>"/"<long>": that date style
    const QString none;
    QTest::newRow("own pattern of spaces")
        << 1 << none << u"   "_s << QList<int> {6} << none << u"yyyyMMdd"_s << u"20261206"_s;
    QTest::newRow("own pattern trimmed") << 1 << none << u" yyyy-MM "_s << QList<int> {6} << none << u"yyyy-MM"_s
                                         << u"2026-12"_s;
    QTest::newRow("no daily folder") << 1 << u"yyyy"_s << none << QList<int> {0} << none << none
                                     << u"< NOT Creating SubFolder>"_s;
    QTest::newRow("medium after 1") << 0 << none << none << QList<int> {1, 3} << none << u"MM-dd-yyyy"_s
                                    << u"<medium>"_s;
    QTest::newRow("style keeps stored pattern")
        << 2 << u"yyyy"_s << none << QList<int> {4} << none << u"yyyy"_s << u"<long>"_s;
    QTest::newRow("1 from nothing") << 0 << none << none << QList<int> {1} << none << u"MM-dd-yyyy"_s
                                    << u"12-06-2026"_s;
    QTest::newRow("own pattern on opening") << 6 << none << u"yy"_s << QList<int> {} << none << u"yy"_s << u"26"_s;
    QTest::newRow("typing a pattern") << 6 << none << none << QList<int> {} << u"dd.MM."_s << u"dd.MM."_s
                                      << u"06.12."_s;
}

void TestPreferencesViewController::datePattern()
{
    QFETCH(int, storedTag);
    QFETCH(QString, storedPattern);
    QFETCH(QString, ownPattern);
    QFETCH(QList<int>, picks);
    QFETCH(QString, typed);
    QFETCH(QString, pattern);
    QFETCH(QString, example);
    store().setInteger(storedTag, cPrefDateFormatterTag);
    store().setObject(orNone(storedPattern), cPrefDailyFolderDateFormat);
    store().setObject(orNone(ownPattern), cPrefUserDefinedDateFormatter);
    const auto pane = openPane();
    for (int tag : picks)
        change(pane->ibDateFormatterPopUp, tag);
    if (!typed.isNull())
        pane->ibUserDefinedDateFormatterField->setText(typed);

    using Style = DestinationPathRules::DateStyle;
    if (example == u"<medium>"_s || example == u"<long>"_s)
        example = DestinationPathRules::formatDate(m_moment, example == u"<medium>"_s ? Style::Medium : Style::Long);
    const int chosen = picks.isEmpty() ? storedTag : picks.constLast();
    QCOMPARE(store().objectForKey(cPrefDailyFolderDateFormat), orNone(pattern));
    QCOMPARE(store().stringForKey(cPrefDailyFolderDateFormatExample).value_or(QString()), example);
    QCOMPARE(pane->ibDateFormatExampleLabel->text(), example);
    QCOMPARE(store().integerForKey(cPrefDateFormatterTag), chosen);
    QCOMPARE(store().boolForKey(cPrefEnableUserDefinedDateFormatter), chosen != 6);
    QCOMPARE(pane->ibUserDefinedDateFormatterField->isEnabled(), chosen == 6);
}

void TestPreferencesViewController::refusedDatePattern_data()
{
    // A pattern whose folder would not be a folder of its own below the destination is shown
    // as refused and never stored; "stored" is an own pattern set before the pane opened.
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed"); // null: the own pattern is picked from the pop-up
    QTest::addColumn<QString>("reason");
    QTest::newRow("typed quoted ..") << u"yyyy"_s << u"'..'"_s << u"folder above the destination"_s;
    QTest::newRow("typed ..") << u"yyyy"_s << u".."_s << u"folder above the destination"_s;
    QTest::newRow("typed .") << u"yyyy"_s << u"."_s << u"directly in the destination"_s;
    QTest::newRow("typed pattern giving no name") << u"yyyy"_s << u"j"_s << u"no folder name"_s;
    QTest::newRow("picked while stored as ..") << u"'..'"_s << QString() << u"folder above the destination"_s;
}

void TestPreferencesViewController::refusedDatePattern()
{
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(QString, reason);
    store().setInteger(typed.isNull() ? 1 : 6, cPrefDateFormatterTag);
    store().setString(u"yyyy"_s, cPrefDailyFolderDateFormat);
    store().setString(stored, cPrefUserDefinedDateFormatter);
    const auto pane = openPane();
    QVERIFY(pane->ibDateFormatProblemLabel->isHidden());
    if (typed.isNull())
        change(pane->ibDateFormatterPopUp, 6);
    else
        pane->ibUserDefinedDateFormatterField->setText(typed);
    QCOMPARE(store().stringForKey(cPrefDailyFolderDateFormat),
             std::optional<QString>(typed.isNull() ? u"MM-dd-yyyy"_s : u"yyyy"_s));
    QCOMPARE(store().stringForKey(cPrefUserDefinedDateFormatter), std::optional<QString>(stored));
    QVERIFY(!pane->ibDateFormatProblemLabel->isHidden());
    QVERIFY2(pane->ibDateFormatProblemLabel->text().contains(reason),
             qPrintable(pane->ibDateFormatProblemLabel->text()));

    // A good pattern is taken at once and the warning goes.
    pane->ibUserDefinedDateFormatterField->setText(u"yyyy-MM"_s);
    QCOMPARE(store().stringForKey(cPrefDailyFolderDateFormat), std::optional<QString>(u"yyyy-MM"_s));
    QVERIFY(pane->ibDateFormatProblemLabel->isHidden());
}

void TestPreferencesViewController::folderChoice_data()
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

void TestPreferencesViewController::folderChoice()
{
    QFETCH(QString, route);
    QFETCH(bool, answered);
    QFETCH(bool, stored);
    QFETCH(int, posts);
    QFETCH(QString, refused);
    const bool destination = route == u"destination"_s;
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
    const bool companion = route.startsWith(u"companion"_s);
    if (companion) {
        const QVariantMap node {{u"savepath"_s, folder}};
        if (answered)
            QVERIFY(writeFile(CompanionSettings::preferencesFilePath(),
                              PlistCodec::toXml(QVariantMap {{u"/"_s, QVariantMap {{u"Mainstay/"_s, node}}}})));
        store().setBool(route == u"companion off"_s, cPrefAlwaysUseMainstayAsSourcePath);
    } else {
        FolderPanel::queueAnswerForTesting(answered ? std::optional<QString>(folder) : std::nullopt);
    }
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
        if (!refused.isEmpty())
            QVERIFY(Alert::shownForTesting().constFirst().informativeText.contains(refused));
        for (const QString &key : {pathKey, aliasKey, validKey})
            QVERIFY2(!store().objectForKey(key).isValid(), qPrintable(key));
    }
    QCOMPARE(m_sourceChanges, QList<bool>(posts, false));
}

void TestPreferencesViewController::reveal_data()
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
    QTest::newRow("destination") << 101 << u"folder"_s << QStringList {u"open:$folder"_s};
    QTest::newRow("temporary folder") << 102 << u"folder"_s << QStringList {u"open:$folder"_s};
}

void TestPreferencesViewController::reveal()
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
        store().setString(folder, tag == 101 ? cPrefDestinationPath : cPrefSourcePath);
    if (present == u"both"_s)
        QVERIFY(writeFile(LogPaths::logFile(), "log line\n"));
    if (present == u"old"_s || present == u"both"_s)
        QVERIFY(writeFile(LogPaths::oldLogFile(), "log line\n"));
    const qsizetype openedBefore = DesktopOpener::openedForTesting().size();
    const qsizetype revealedBefore = DesktopOpener::revealedForTesting().size();
    const auto pane = openPane();
    for (QPushButton *button : pane->findChildren<QPushButton *>()) {
        if (button->property("tag") == tag)
            button->click();
    }

    QStringList actual;
    for (const QString &path : DesktopOpener::openedForTesting().mid(openedBefore))
        actual << u"open:"_s + path;
    for (const QString &path : DesktopOpener::revealedForTesting().mid(revealedBefore))
        actual << u"reveal:"_s + path;
    handedOver.replaceInStrings(u"$folder"_s, folder);
    handedOver.replaceInStrings(u"$log"_s, LogPaths::logFile());
    QCOMPARE(actual, handedOver.replaceInStrings(u"$old"_s, LogPaths::oldLogFile()));
    QCOMPARE(Alert::beepsForTesting(), tag == 103 && handedOver.isEmpty() ? 1 : 0);
}

void TestPreferencesViewController::boundControl_data()
{
    // Stored before opening and shown by the control named after the key; then the operator
    // changes the control and the key follows: one key for each kind of control.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("written");
    const auto row = [](const QString &key, const QVariant &stored, const QVariant &written) {
        QTest::newRow(qPrintable(key)) << key << stored << written;
    };
    row(cPrefReassignedBarcodeRequiredLength, 13, 8);
    row(cPrefInputFolderSortKeySelectedIndex, 1, 0);
    row(cPrefDoUnassignedProcess, true, false);
    row(cPrefCameraCardFolderNames, u"DCIM,PRIVATE"_s, u"DCIM"_s);
}

void TestPreferencesViewController::boundControl()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, written);
    store().setObject(
        QVariantList {QVariantMap {{u"title"_s, u"File name"_s}}, QVariantMap {{u"title"_s, u"Shooting time"_s}}},
        cPrefInputFolderSortKeyList);
    store().setObject(stored, key);
    pretendExecutable(u"vimoLumisort"_s); // every control takes input
    const auto restore = qScopeGuard([] { BundleInfo::resetInfoDictionaryForTesting(); });
    const auto pane = openPane();
    auto *control = pane->findChild<QWidget *>(key);
    QVERIFY(control);
    QCOMPARE(shownBy(control), stored.toString());
    change(control, written);
    QCOMPARE(store().objectForKey(key).toString(), written.toString());
    QCOMPARE(shownBy(control), written.toString());
}

void TestPreferencesViewController::settingsWithoutEffectSayWhy_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<bool>("standalone");
    QTest::newRow("companion build: Mainstay decides") << u"lumisort"_s << false;
    QTest::newRow("standalone build") << u"vimoLumisort"_s << true;
}

void TestPreferencesViewController::settingsWithoutEffectSayWhy()
{
    QFETCH(QString, executable);
    QFETCH(bool, standalone);
    pretendExecutable(executable);
    const auto restore = qScopeGuard([] { BundleInfo::resetInfoDictionaryForTesting(); });
    store().setBool(false, cPrefAlwaysPromptForReassignmentMode);
    const auto pane = openPane();
    QCOMPARE(pane->ibAlwaysPromptCheckBox->isEnabled(), standalone);
    QCOMPARE(pane->ibAlwaysPromptNoteLabel->isHidden(), standalone);
    pane->ibAlwaysPromptCheckBox->click();
    QCOMPARE(store().boolForKey(cPrefAlwaysPromptForReassignmentMode), standalone);
    // The automatic-by-section choice names the one it works as.
    QVERIFY(!pane->ibMode201NoteLabel->isHidden());
    QVERIFY(pane->ibMode201NoteLabel->text().contains(pane->radioButtonWithTag(200)->text()));
}

void TestPreferencesViewController::openedByTheBrowsersSegue()
{
    PreferencesViewController::registerSheet();
    const std::unique_ptr<QDialog> sheet(SheetRegistry::make(u"dummyButtonSegue2"_s, &m_window));
    auto *pane = qobject_cast<PreferencesViewController *>(sheet.get());
    QVERIFY(pane);
    QCOMPARE(pane->windowModality(), Qt::WindowModal);
}

LUMISORT_GUI_TEST_MAIN(TestPreferencesViewController)
#include "tst_preferencesviewcontroller.moc"
