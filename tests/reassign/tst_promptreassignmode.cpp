#include "TestMain.h"
#include "reassign/PromptReassignModeViewController.h"
#include "reassign/ReassignViewController.h"
#include "settings/FactoryDefaults.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/SheetRegistry.h"
#include "support/SystemSound.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

// The mode prompt the browser shows before the reassignment sheet when asked to:
// a choice stores the mode and starts the browser's second stage again.
class TestPromptReassignMode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        SystemSound::setTestMode(true);
        FactoryDefaults::registerInto(SettingsStore::standard());
        ReassignViewController::registerSheets();
        NotificationCenter::defaultCenter().addObserver(&m_receiver, NotificationNames::myCustomId,
                                                        [this](const Notification &n) { m_posted << n.userInfo; });
    }
    void choice_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<bool>("kept"); // the browser kept the header's user information
        QTest::newRow("one barcode") << 200 << true;
        QTest::newRow("barcode photos") << 202 << true;
        QTest::newRow("nothing kept to repost") << 202 << false;
        QTest::newRow("201 is no choice") << 201 << true;
    }
    void choice()
    {
        QFETCH(int, tag);
        QFETCH(bool, kept);
        const bool valid = tag == 200 || tag == 202;
        const int before = tag == 200 ? 202 : 200;
        const QVariantMap header {{u"title"_s, u"ID[1] = 4006381333931"_s}, {u"sectionid"_s, u"1"_s}};
        SettingsStore &store = SettingsStore::standard();
        store.setInteger(before, cPrefRadioSet1SelectedTag);
        store.setObject(kept ? QVariant(header) : QVariant(), cPrefLastUserInfo);
        SystemSound::resetForTesting();
        m_posted.clear();
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QPointer<PromptReassignModeViewController> prompt =
            qobject_cast<PromptReassignModeViewController *>(SheetRegistry::make(u"dummyButtonSegue4"_s, &window));
        QVERIFY(prompt);
        prompt->setAttribute(Qt::WA_DeleteOnClose);
        prompt->open();

        if (valid) {
            QPushButton *button = tag == 200 ? prompt->ibOneBarcodeButton : prompt->ibBarcodePhotosButton;
            button->click();
        } else {
            QObject sender;
            sender.setProperty("tag", tag);
            prompt->ibDoButton(&sender);
        }
        QCOMPARE(store.integerForKey(cPrefRadioSet1SelectedTag), valid ? tag : before);
        QCOMPARE(SystemSound::playedForTesting(), valid ? QList<SystemSound::Sound>() : QList {SystemSound::Beep});
        QCOMPARE(prompt->isVisible(), !valid);
        QVERIFY(m_posted.isEmpty()); // never while the prompt is still closing
        if (valid && kept) {
            QTRY_COMPARE(m_posted.size(), 1);
            QCOMPARE(m_posted.first(), header);
        } else {
            QTest::qWait(300);
            QVERIFY(m_posted.isEmpty());
        }
        delete prompt;
    }

private:
    QList<QVariantMap> m_posted;
    QObject m_receiver;
};

LUMISORT_GUI_TEST_MAIN(TestPromptReassignMode)
#include "tst_promptreassignmode.moc"
