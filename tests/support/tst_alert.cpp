#include "TestMain.h"
#include "support/Alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

using namespace Qt::StringLiterals;

// The real message box, not the test answers: keys must pick the careful button.
class TestAlert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keysAnswerWithTheCarefulButton_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("careful"); // index into buttons
        QTest::addColumn<int>("answer");
        const QStringList deleting {u"NO - Do Nothing"_s, u"YES DELETE"_s};
        const QStringList card {u"Eject Card"_s, u"Use This Card"_s, u"Do Nothing"_s};
        for (const auto &[name, key] : {std::pair {"Escape", Qt::Key_Escape}, std::pair {"Return", Qt::Key_Return}}) {
            QTest::addRow("%s, careful first", name) << int(key) << deleting << 0 << Alert::cFirstButtonReturn;
            QTest::addRow("%s, careful last", name) << int(key) << card << 2 << Alert::cThirdButtonReturn;
            QTest::addRow("%s, careful out of range", name) << int(key) << deleting << 5 << Alert::cFirstButtonReturn;
        }
    }
    void keysAnswerWithTheCarefulButton()
    {
        QFETCH(int, key);
        QFETCH(QStringList, buttons);
        QFETCH(int, careful);
        QFETCH(int, answer);
        QWidget window;
        window.show();
        Alert::Content content {Alert::Style::Warning, u"Are you sure?"_s, u"Something may change."_s, buttons};
        content.carefulButton = careful;
        int answered = 0;
        Alert::beginSheet(&window, content, [&](int response) { answered = response; });
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = window.findChild<QMessageBox *>()) && box->isVisible());
        QCOMPARE(box->buttons().size(), buttons.size());
        QTest::keyClick(box, Qt::Key(key));
        QTRY_COMPARE(answered, answer);

        // Without a queued answer a test gets what Return would have given.
        Alert::setTestMode(true);
        QCOMPARE(Alert::runModal(content), answer);
        Alert::setTestMode(false);
    }
};

LUMISORT_GUI_TEST_MAIN(TestAlert)
#include "tst_alert.moc"
