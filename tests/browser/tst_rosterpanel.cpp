#include "TestMain.h"
#include "browser/RosterPanel.h"
#include "roster/RosterReport.h"
#include "roster/RosterTableModel.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>

using namespace Qt::StringLiterals;

class TestRosterPanel : public QObject
{
    Q_OBJECT

    Roster m_roster;
    QList<RosterReport::Folder> m_folders;

    static void addPhotos(const QString &folder, const QString &id, int count)
    {
        static int number = 0;
        for (int i = 0; i < count; ++i)
            QVERIFY(writeFile(folder + u"/%1_IMG_%2.JPG"_s.arg(id).arg(++number, 4, 10, QChar(u'0')), {}));
    }
    RosterReport report() const { return RosterReport::make(m_roster, m_folders, 2); }
    static QStringList column(const RosterPanel &panel, int column, int role = Qt::DisplayRole)
    {
        QStringList values;
        const QAbstractItemModel *shown = panel.table->model();
        for (int row = 0; row < shown->rowCount(); ++row)
            values << shown->index(row, column).data(role).toString();
        return values;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString folder = TestSandbox::instance().makeFolder(u"day"_s);
        QVERIFY(writeFile(folder + u"/roster.csv"_s,
                          "id,First Name,Last Name,Class\n101,Ann,Lee,Grade 2\n"
                          "102,Bo,Kim,Grade 2\n103,Cy,Day,Grade 10\n104,Dee,Fox,Grade 10\n"
                          "105,Eve,Ray,Grade 2\n"_ba));
        m_roster = Roster::load(QString(folder + u"/roster.csv"_s));
        QCOMPARE(m_roster.status(), Roster::Status::Loaded);
        m_folders = {{u"Working folder"_s, folder + u"/working"_s}, {u"Today"_s, folder + u"/today"_s}};
        addPhotos(m_folders[0].path, u"101"_s, 10);
        addPhotos(m_folders[0].path, u"103"_s, 1);
        addPhotos(m_folders[0].path, u"777"_s, 1);
        addPhotos(m_folders[0].path, u"888"_s, 1);
        addPhotos(m_folders[1].path, u"103"_s, 1);
        addPhotos(m_folders[1].path, u"102"_s, 1);
    }

    void summary()
    {
        RosterPanel panel;
        panel.show();
        QCOMPARE(panel.summaryLabel->text(), u"No roster open"_s);
        QVERIFY(panel.hintLabel->isVisible());
        QVERIFY(!panel.classFilter->isEnabled());
        panel.setReport(report());
        QCOMPARE(panel.summaryLabel->text(), u"5 subjects · 2 without photos · 1 short · 2 codes not on the roster"_s);
        QVERIFY(!panel.hintLabel->isVisible());
        QCOMPARE(panel.table->model()->headerData(4, Qt::Horizontal).toString(), u"Today"_s);
        panel.clearReport();
        QCOMPARE(panel.table->model()->rowCount(), 0);
        QCOMPARE(panel.summaryLabel->text(), u"No roster open"_s);
    }

    void filters_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<int>("show");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("everyone, in card order")
            << QString() << 0 << QString()
            << QStringList {u"102"_s, u"101"_s, u"105"_s, u"103"_s, u"104"_s, u"777"_s, u"888"_s};
        QTest::newRow("one class") << u"Grade 10"_s << 0 << QString() << QStringList {u"103"_s, u"104"_s};
        QTest::newRow("without enough") << QString() << 1 << QString() << QStringList {u"102"_s, u"105"_s, u"104"_s};
        QTest::newRow("class and without enough") << u"Grade 2"_s << 1 << QString() << QStringList {u"102"_s, u"105"_s};
        QTest::newRow("not on the roster") << QString() << 2 << QString() << QStringList {u"777"_s, u"888"_s};
        QTest::newRow("name in any case") << QString() << 0 << u"rAY"_s << QStringList {u"105"_s};
        QTest::newRow("part of an id") << QString() << 0 << u"88"_s << QStringList {u"888"_s};
    }
    void filters()
    {
        QFETCH(QString, className);
        QFETCH(int, show);
        QFETCH(QString, search);
        QFETCH(QStringList, ids);
        RosterPanel panel;
        panel.setReport(report());
        QCOMPARE(column(panel, 0, Qt::DisplayRole).size(), 7);
        QStringList classes;
        for (int i = 0; i < panel.classFilter->count(); ++i)
            classes << panel.classFilter->itemText(i);
        QCOMPARE(classes, (QStringList {u"All classes"_s, u"Grade 2"_s, u"Grade 10"_s}));
        if (!className.isEmpty())
            panel.classFilter->setCurrentText(className);
        panel.showFilter->setCurrentIndex(show);
        panel.searchField->setText(search);
        QCOMPARE(column(panel, 0, RosterTableModel::IdRole), ids);
    }

    void returnActivatesTheSubject()
    {
        RosterPanel panel;
        panel.show();
        panel.setReport(report());
        QSignalSpy activated(&panel, &RosterPanel::subjectActivated);
        QVERIFY(panel.selectId(u"777"_s));
        panel.table->setFocus();
        QTest::keyClick(panel.table, Qt::Key_Return);
        QCOMPARE(activated.size(), 1);
        QCOMPARE(activated.constFirst().constFirst().toString(), u"777"_s);
    }

    void selectionAndFiltersSurviveANewReport()
    {
        RosterPanel panel;
        panel.setReport(report());
        panel.classFilter->setCurrentText(u"Grade 10"_s);
        QVERIFY(panel.selectId(u"104"_s));
        const QString today = m_folders[1].path;
        addPhotos(today, u"104"_s, 1);
        panel.setReport(report());
        QFile::remove(QDir(today).entryInfoList({u"104_*"_s}).constFirst().filePath());
        QCOMPARE(panel.classFilter->currentText(), u"Grade 10"_s);
        QCOMPARE(panel.selectedId(), u"104"_s);
        QCOMPARE(column(panel, 0), (QStringList {u"103"_s, u"104"_s}));
        QCOMPARE(panel.summaryLabel->text(), u"5 subjects · 1 without photos · 2 short · 2 codes not on the roster"_s);
    }

    // Counts and the numbers in class names sort by value, not as text.
    void sortsNumbersAsNumbers()
    {
        RosterPanel panel;
        panel.setReport(report());
        const int total = panel.table->model()->columnCount() - 2;
        panel.table->sortByColumn(RosterTableModel::ClassColumn, Qt::AscendingOrder);
        QCOMPARE(column(panel, RosterTableModel::ClassColumn),
                 (QStringList {{}, {}, u"Grade 2"_s, u"Grade 2"_s, u"Grade 2"_s, u"Grade 10"_s, u"Grade 10"_s}));
        panel.table->sortByColumn(total, Qt::DescendingOrder);
        QCOMPARE(column(panel, total), (QStringList {u"10"_s, u"2"_s, u"1"_s, u"1"_s, u"1"_s, u"0"_s, u"0"_s}));
    }
};

LUMISORT_GUI_TEST_MAIN(TestRosterPanel)
#include "tst_rosterpanel.moc"
