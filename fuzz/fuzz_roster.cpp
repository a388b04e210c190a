// A roster is whatever the operator picks: a school system's export in any encoding, a
// spreadsheet saved oddly, or a file that is no roster at all. Reading must never crash,
// every subject kept must carry an id a photo can be named by, found again by that id, and
// the report written for a spreadsheet must read back as the same subjects.
#include "FuzzSupport.h"
#include "model/BarcodeText.h"
#include "roster/Roster.h"
#include "roster/RosterReport.h"

#include <QDir>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {
void requireSound(const Roster &roster)
{
    QSet<QString> ids;
    for (const RosterSubject &subject : roster.subjects()) {
        FUZZ_REQUIRE(!BarcodeText::problem(subject.id), subject.id);
        FUZZ_REQUIRE(roster.find(subject.id) == &subject, subject.id);
        FUZZ_REQUIRE(!ids.contains(subject.id.toCaseFolded()), u"a second subject has the id "_s + subject.id);
        ids.insert(subject.id.toCaseFolded());
        FUZZ_REQUIRE(subject.line > 0, subject.id);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::bytes(data, size);
    const QString path = FuzzSupport::writeScratchFile(u"roster/list.csv"_s, bytes);
    Roster roster = Roster::load(NativePath(path));
    if (roster.status() == Roster::Status::NeedsIdColumn)
        roster = Roster::load(NativePath(path), 0, Roster::Header::None);
    requireSound(roster);
    if (roster.status() != Roster::Status::Loaded || roster.subjects().isEmpty())
        return 0;

    const QString empty = FuzzSupport::sandbox() + u"/roster/no photos"_s;
    QDir().mkpath(empty);
    const RosterReport report = RosterReport::make(roster, {{u"Today"_s, empty}}, 1);
    report.toText();
    report.toJson();
    FUZZ_REQUIRE(report.missingCount() == roster.subjects().size(), QString::number(report.missingCount()));
    const QString again = FuzzSupport::writeScratchFile(u"roster/report.csv"_s, report.toCsv());
    const Roster reread = Roster::load(NativePath(again));
    FUZZ_REQUIRE(reread.status() == Roster::Status::Loaded, reread.error());
    FUZZ_REQUIRE(reread.subjects().size() == roster.subjects().size(),
                 QString::number(reread.subjects().size()) + u" of "_s + QString::number(roster.subjects().size()));
    for (const RosterSubject &subject : roster.subjects())
        FUZZ_REQUIRE(reread.find(subject.id), subject.id);
    return 0;
}
