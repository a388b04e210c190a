#include "TestMain.h"
#include "reassign/ReassignRunText.h"

using namespace Qt::StringLiterals;

class TestReassignRunText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void summary()
    {
        // Fourteen groups of a barcode photo and one photo each, the first barcode photo not accepted.
        QList<RenamePlan::Step> plan;
        QHash<QString, QString> barcodes {{u"/w/bc0"_s, QString()}};
        for (int i = 1; i < 15; ++i) {
            const QString code = u"C%1"_s.arg(i);
            barcodes.insert(u"/w/bc%1"_s.arg(i), code);
            plan << RenamePlan::Step {u"/w/bc%1"_s.arg(i), u"/w/"_s + code + u"_bc%1"_s.arg(i)}
                 << RenamePlan::Step {u"/w/p%1"_s.arg(i), u"/w/"_s + code + u"_p%1"_s.arg(i)};
        }
        const ReassignRunText::Message message = ReassignRunText::automaticRunSummary(plan, barcodes, 31);
        QCOMPARE(message.title, u"Reassign 14 Photos to 14 Barcodes?"_s);
        const QStringList lines = message.body.split(u'\n');
        QCOMPARE(lines.first(), u"C1: 1 photo"_s);
        QCOMPARE(lines.at(12), u"… and 2 more barcodes"_s);
        QCOMPARE(
            lines.last(),
            u"3 photos keep their names (1 barcode photo without a barcode begins a group that stays as it is)."_s);

        // Nothing to rename: nothing to confirm either.
        const ReassignRunText::Message nothing = ReassignRunText::automaticRunSummary({}, {}, 2);
        QVERIFY(nothing.informational);
        QCOMPARE(nothing.buttons.size(), 1);
        // The sheet shows the plural; one photo is no "Photo(s)".
        QCOMPARE(ReassignRunText::unknownTitle(u"Mark [val1] Photo(s) as UNKNOWN"_s, 1), u"Mark 1 Photo as UNKNOWN"_s);
    }
    void afterRun()
    {
        ReassignRun::Report report;
        report.started = true;
        QCOMPARE(ReassignRunText::afterRun(report).has_value(), false);
        report.journalError = u"disk full"_s;
        QCOMPARE(ReassignRunText::afterRun(report)->title, u"! THE REASSIGNMENT WAS NOT RECORDED !"_s);
        report.renames << RenamePlan::Outcome {u"/w/a.jpg"_s, u"/w/1_a.jpg"_s, u"/w/a.jpg"_s, false, u"exists"_s};
        report.kept << u"/w/bc.jpg"_s;
        const std::optional<ReassignRunText::Message> kept = ReassignRunText::afterRun(report);
        QCOMPARE(kept->title, u"! 2 PHOTOS KEPT THEIR NAMES !"_s);
        QVERIFY(kept->body.startsWith(u"a.jpg: exists\nbc.jpg: a barcode photo the trash would not take"_s));
    }
};

LUMISORT_CORE_TEST_MAIN(TestReassignRunText)
#include "tst_reassignruntext.moc"
