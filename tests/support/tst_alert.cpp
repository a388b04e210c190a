#include "TestMain.h"
#include "support/Alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

// The real message box, not the test answers: keys must pick the careful button.
class TestAlert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keysAnswerWithTheFirstButton_data();
    void keysAnswerWithTheFirstButton();
};

void TestAlert::keysAnswerWithTheFirstButton_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Return") << int(Qt::Key_Return);
}

void TestAlert::keysAnswerWithTheFirstButton()
{
    QFETCH(int, key);
    QWidget window;
    window.show();
    int answer = 0;
    Alert::beginSheet(&window,
                      {Alert::Style::Warning,
                       u"DELETE All the Marked Photos?"_s,
                       u"There are 2 items marked"_s,
                       {u"NO - Do Nothing"_s, u"YES DELETE"_s}},
                      [&](int response) { answer = response; });
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = window.findChild<QMessageBox *>()) && box->isVisible());
    QCOMPARE(box->text(), u"DELETE All the Marked Photos?"_s);
    QTest::keyClick(box, Qt::Key(key));
    QTRY_COMPARE(answer, Alert::cFirstButtonReturn);
}

LUMISORT_GUI_TEST_MAIN(TestAlert)
#include "tst_alert.moc"
