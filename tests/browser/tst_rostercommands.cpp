#include "BrowserFixture.h"
#include "TestMain.h"
#include "browser/RosterCommands.h"
#include "browser/RosterQuestions.h"
#include "roster/RosterSource.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"

#include <QDockWidget>

using namespace Qt::StringLiterals;

// Picture day in the window, on the fixture's three sections: a roster as a school exports it
// puts names on the headers, the dock counts who has photos, and the file is followed as it is
// saved again or moved.
class TestRosterCommands : public BrowserFixture
{
    Q_OBJECT

    RosterCommands *commands() const { return m_controller->rosterCommands; }
    QString code(int section) const { return *vc()->imageDirectoryLoader->barcodeidForSection(section); }
    QString subjectShown(int section)
    {
        HeaderView *band = header(section);
        return band && !band->subjectLabel->text().isEmpty() ? band->subjectLabel->text() : u"none"_s;
    }
    void open(const QString &path)
    {
        FolderPanel::queueAnswerForTesting(path);
        commands()->openRosterAction->trigger();
    }

private Q_SLOTS:
    void cleanup()
    {
        RosterSource::shared().close();
        m_controller.reset();
    }

    void aSchoolsRosterNamesTheDay()
    {
        RosterQuestions::setTestMode(true);
        const QString folder = TestSandbox::instance().makeFolder(u"office"_s);
        const QString path = folder + u"/class list.csv"_s;
        const auto roster = [&](const QString &firstName) -> QByteArray {
            return "\xEF\xBB\xBFStudent ID;Last Name;First Name;Grade;Teacher\r\n" + code(0).toUtf8()
                + ";\"Lindqvist, Jr.\";" + firstName.toUtf8() + ";Grade 2;Ms Berg\r\n" + code(1).toUtf8()
                + ";N\xC3\xBA\xC3\xB1\x65z;Jos\xC3\xA9;Grade 10;\r\n9990001;Okafor;Chidi;Grade "
                  "2;\r\n../x;Bad;Row;Grade 2;\r\n";
        };
        QVERIFY(writeFile(path, roster(u"Åsa"_s)));
        open(path);
        QTRY_VERIFY(RosterSource::shared().roster());
        QTRY_COMPARE(Alert::shownForTesting().size(), 1); // the row left out, by its line
        QVERIFY(Alert::shownForTesting().first().informativeText.contains(u"Line 5: "_s));
        QCOMPARE(subjectShown(0), u"Åsa Lindqvist, Jr. · Grade 2"_s);
        QCOMPARE(subjectShown(1), u"José Núñez · Grade 10"_s);
        QVERIFY(subjectShown(2).contains(u"Not on the roster"_s));

        QVERIFY(commands()->dock->isVisible());
        QTRY_VERIFY(commands()->report().has_value());
        const RosterReport &report = *commands()->report();
        QCOMPARE(report.missingCount(), 1);
        QCOMPARE(report.rows().size(), 3);
        QCOMPARE(report.rows().first().subject.firstName, u"Åsa"_s); // Grade 2 before Grade 10
        QCOMPARE(report.rows().first().counts.first(), 4);
        QCOMPARE(report.strays().size(), 1);
        QCOMPARE(report.strays().first().id, code(2));
        QVERIFY(commands()->revealBarcode(code(1)));
        QVERIFY(!commands()->revealBarcode(u"9990001"_s));

        // Saved again by a spreadsheet: a new file takes the name.
        QVERIFY(writeFile(folder + u"/.~saving"_s, roster(u"Asa"_s)));
        QVERIFY(QFile::remove(path) && QFile::rename(folder + u"/.~saving"_s, path));
        QTRY_COMPARE(subjectShown(0), u"Asa Lindqvist, Jr. · Grade 2"_s);

        const QString csv = folder + u"/report.csv"_s;
        FolderPanel::queueAnswerForTesting(csv);
        commands()->exportReportAction->trigger();
        QTRY_VERIFY(QFileInfo::exists(csv));
        QVERIFY(readFile(csv).startsWith("\xEF\xBB\xBF"));
        const QString exported = QString::fromUtf8(readFile(csv));
        QVERIFY(exported.split(u"\r\n"_s).filter(u"Okafor"_s).value(0).contains(u"No photos"_s));

        const QString pdf = folder + u"/cards.pdf"_s;
        CameraCardSheet::Options qr;
        qr.format = CameraCardSheet::Format::QrCode;
        RosterQuestions::queueCardOptionsForTesting(qr);
        FolderPanel::queueAnswerForTesting(pdf);
        commands()->printCardsAction->trigger();
        QTRY_VERIFY(readFile(pdf).startsWith("%PDF"));
        QVERIFY(DesktopOpener::openedForTesting().contains(pdf));

        // Moved while the program was closed: found again by its reference.
        const QString moved = TestSandbox::instance().makeFolder(u"kept"_s) + u"/class list (final).csv"_s;
        QVERIFY(QFile::rename(path, moved));
        RosterSource::shared().restore();
        QTRY_COMPARE(RosterSource::shared().path(), moved);
        QCOMPARE(SettingsStore::standard().stringForKey(cPrefRosterPath), moved);
    }

    void aRosterWithoutHeaderOrOfNoUseIsAskedOrRefused()
    {
        RosterQuestions::setTestMode(true);
        const QString folder = TestSandbox::instance().makeFolder(u"office"_s);
        QVERIFY(writeFile(folder + u"/photo.csv"_s, QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11)));
        open(folder + u"/photo.csv"_s);
        QTRY_COMPARE(Alert::shownForTesting().size(), 1);
        QCOMPARE(Alert::shownForTesting().first().messageText, u"This Roster Cannot Be Opened"_s);
        QVERIFY(!RosterSource::shared().roster());
        QCOMPARE(subjectShown(0), u"none"_s);

        // No header: its first row is a subject, as the operator says.
        QVERIFY(
            writeFile(folder + u"/export.csv"_s, "Ana\t" + code(0).toUtf8() + "\r\nBo\t" + code(1).toUtf8() + "\r\n"));
        RosterQuestions::queueIdColumnForTesting(RosterQuestions::IdColumn {1, Roster::Header::None});
        open(folder + u"/export.csv"_s);
        QTRY_VERIFY(RosterSource::shared().roster());
        QCOMPARE(RosterSource::shared().roster()->subjects().size(), 2);
        QVERIFY(subjectShown(0).startsWith(u"Ana"_s));
    }
};

LUMISORT_GUI_TEST_MAIN(TestRosterCommands)
#include "tst_rostercommands.moc"
