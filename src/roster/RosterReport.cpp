#include "RosterReport.h"

#include "model/BarcodeText.h"
#include "model/FileNameConvention.h"
#include "model/ImageTypes.h"
#include "model/PhotoNameRule.h"
#include "support/FileResult.h"
#include "support/Plural.h"
#include "support/SafeFile.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <algorithm>
#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

// The barcode ids of the photos at the top level of a folder, one entry per photo.
// Nothing when the folder exists but cannot be listed; a folder not made yet has no photos.
std::optional<QStringList> photoIds(const RosterReport::Folder &folder, QString *problem)
{
    FileResult error;
    // Links count as what they point at: a photo linked into a folder is filed there for the operator.
    const auto entries = SafeFile::list(NativePath(folder.path), {true, false, true}, &error);
    if (!entries) {
        if (error.errorNumber() == ENOENT)
            return QStringList();
        *problem = u"The folder “%1” (%2) could not be read: %3."_s.arg(
            folder.label, NativePath(folder.path).displayString(), FileResult::describeErrno(error.errorNumber()));
        return std::nullopt;
    }
    // The one rule the browser and filing use: a folder's record of its imported names tells
    // a camera's "IMG_0001.JPG" from a barcoded "12345_0001.JPG" where the name alone cannot.
    const PhotoNameRule rule(folder.path);
    QStringList ids;
    for (const SafeFileEntry &entry : *entries) {
        if (entry.type != SafeFileEntryType::Regular || !ImageTypes::isImageFile(entry.path.toString()))
            continue;
        // Judged by its part count alone, a filed "12345_DSCN0020.JPG" would pass for a camera's own name.
        QString barcode;
        if (folder.filed) {
            if (!FileNameConvention::isUnknownPhoto(entry.displayName))
                barcode = FileNameConvention::barcodeIdForName(entry.displayName);
        } else if (const PhotoNameRule::Reading reading = rule.read(entry.displayName);
                   reading.kind == PhotoNameRule::Kind::Barcoded) {
            barcode = reading.barcode;
        }
        if (barcode.isEmpty() || barcode == FileNameConvention::cOriginalFileNameMarker
            || BarcodeText::problem(barcode))
            continue;
        ids.append(barcode);
    }
    return ids;
}

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes.prepend('"');
        bytes.append('"');
    }
    return bytes;
}

void appendCsvLine(QByteArray &csv, const QStringList &fields)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            csv.append(',');
        csv.append(csvField(fields[i]));
    }
    csv.append("\r\n");
}

QString countsText(const QList<RosterReport::Folder> &folders, const QList<int> &counts)
{
    QStringList parts;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        if (counts.value(i) > 0)
            parts.append(folders[i].label + u": "_s + QString::number(counts.value(i)));
    }
    return parts.join(u", "_s);
}

QString jsonStatus(RosterReport::Mark mark)
{
    switch (mark) {
    case RosterReport::Mark::Enough:
        return u"enough"_s;
    case RosterReport::Mark::Missing:
        return u"missing"_s;
    case RosterReport::Mark::Short:
        break;
    }
    return u"short"_s;
}

QJsonArray jsonCounts(const QList<int> &counts)
{
    QJsonArray array;
    for (int count : counts)
        array.append(count);
    return array;
}

} // namespace

RosterReport RosterReport::make(const Roster &roster, const QList<Folder> &folders, int minimumPhotos)
{
    RosterReport report;
    report.m_folders = folders;
    report.m_minimumPhotos = std::max(1, minimumPhotos);

    const QList<RosterSubject> &subjects = roster.subjects();
    QList<QList<int>> counts(subjects.size(), QList<int>(folders.size(), 0));
    // Strays gather in either case, as subjects do; the spelling shown is the first in code-point order.
    QHash<QString, Stray> strays;
    for (qsizetype f = 0; f < folders.size(); ++f) {
        QString problem;
        const std::optional<QStringList> ids = photoIds(folders[f], &problem);
        if (!ids) {
            report.m_problems.append(problem);
            continue;
        }
        for (const QString &id : *ids) {
            if (const RosterSubject *subject = roster.find(id)) {
                ++counts[subject - subjects.constData()][f];
                continue;
            }
            Stray &stray = strays[id.toCaseFolded()];
            if (stray.counts.isEmpty()) {
                stray.id = id;
                stray.counts = QList<int>(folders.size(), 0);
            } else if (id < stray.id) {
                stray.id = id;
            }
            ++stray.counts[f];
            ++stray.total;
        }
    }

    const QList<qsizetype> order = roster.byClassThenName();
    report.m_rows.reserve(order.size());
    for (qsizetype at : order) {
        Row row {subjects[at], counts[at]};
        for (int count : row.counts)
            row.total += count;
        row.mark = row.total == 0 ? Mark::Missing : row.total < report.m_minimumPhotos ? Mark::Short : Mark::Enough;
        report.m_rows.append(row);
    }
    report.m_strays = strays.values();
    std::sort(report.m_strays.begin(), report.m_strays.end(), [](const Stray &a, const Stray &b) {
        const int c = a.id.compare(b.id, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.id < b.id;
    });
    return report;
}

int RosterReport::missingCount() const
{
    return int(std::ranges::count(m_rows, Mark::Missing, &Row::mark));
}

int RosterReport::shortCount() const
{
    return int(std::ranges::count(m_rows, Mark::Short, &Row::mark));
}

QString RosterReport::markText(Mark mark, int minimumPhotos)
{
    switch (mark) {
    case Mark::Enough:
        return u"OK"_s;
    case Mark::Missing:
        return u"No photos"_s;
    case Mark::Short:
        break;
    }
    return minimumPhotos > 1 ? u"Fewer than %1"_s.arg(minimumPhotos) : u"Too few"_s;
}

QByteArray RosterReport::toCsv() const
{
    QByteArray csv("\xEF\xBB\xBF");
    QStringList header {u"Id"_s, u"Name"_s, u"Class"_s, u"Teacher"_s};
    for (const Folder &folder : m_folders)
        header.append(folder.label);
    header << u"Total"_s << u"Status"_s;
    appendCsvLine(csv, header);
    const auto numbers = [](const QList<int> &counts, int total) {
        QStringList fields;
        for (int count : counts)
            fields.append(QString::number(count));
        fields.append(QString::number(total));
        return fields;
    };
    for (const Row &row : m_rows) {
        appendCsvLine(csv,
                      QStringList {row.subject.id, row.subject.displayName, row.subject.className, row.subject.teacher}
                          + numbers(row.counts, row.total) + QStringList {markText(row.mark, m_minimumPhotos)});
    }
    for (const Stray &stray : m_strays) {
        appendCsvLine(csv,
                      QStringList {stray.id, QString(), QString(), QString()} + numbers(stray.counts, stray.total)
                          + QStringList {u"Not on the roster"_s});
    }
    return csv;
}

QByteArray RosterReport::toJson() const
{
    QJsonArray folders;
    for (const Folder &folder : m_folders)
        folders.append(QJsonObject {{u"label"_s, folder.label}, {u"path"_s, folder.path}});
    QJsonArray subjects;
    for (const Row &row : m_rows) {
        subjects.append(QJsonObject {{u"id"_s, row.subject.id},
                                     {u"name"_s, row.subject.displayName},
                                     {u"class"_s, row.subject.className},
                                     {u"teacher"_s, row.subject.teacher},
                                     {u"counts"_s, jsonCounts(row.counts)},
                                     {u"total"_s, row.total},
                                     {u"status"_s, jsonStatus(row.mark)}});
    }
    QJsonArray strays;
    for (const Stray &stray : m_strays) {
        strays.append(
            QJsonObject {{u"id"_s, stray.id}, {u"counts"_s, jsonCounts(stray.counts)}, {u"total"_s, stray.total}});
    }
    const QJsonObject root {{u"folders"_s, folders},
                            {u"minimum"_s, m_minimumPhotos},
                            {u"subjects"_s, subjects},
                            {u"notOnRoster"_s, strays},
                            {u"missing"_s, missingCount()},
                            {u"short"_s, shortCount()},
                            {u"problems"_s, QJsonArray::fromStringList(m_problems)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString RosterReport::toText() const
{
    QString text;
    // Grouped by class in card order, so that the operator walks to each room once.
    QString currentClass;
    bool first = true;
    for (const Row &row : m_rows) {
        if (row.mark == Mark::Enough)
            continue;
        if (first || row.subject.className != currentClass) {
            currentClass = row.subject.className;
            QString heading = currentClass.isEmpty() ? u"No class"_s : currentClass;
            if (!row.subject.teacher.isEmpty())
                heading += u" (" + row.subject.teacher + u')';
            text += (first ? QString() : u"\n"_s) + heading + u'\n';
            first = false;
        }
        QString line = u"  "_s + row.subject.id.leftJustified(12) + u' ' + row.subject.displayName.leftJustified(30)
            + u' ' + markText(row.mark, m_minimumPhotos);
        if (row.mark == Mark::Short)
            line += u" (" + countsText(m_folders, row.counts) + u')';
        text += line + u'\n';
    }
    if (!m_strays.isEmpty()) {
        text += (first ? QString() : u"\n"_s) + u"Not on the roster\n"_s;
        for (const Stray &stray : m_strays) {
            text += u"  "_s + stray.id.leftJustified(12) + u' ' + Plural::count(stray.total, u"photo"_s, u"photos"_s)
                + u" (" + countsText(m_folders, stray.counts) + u")\n";
        }
        first = false;
    }
    const int missing = missingCount();
    const int shortOnes = shortCount();
    const qsizetype enough = m_rows.size() - missing - shortOnes;
    if (!first)
        text += u'\n';
    text += Plural::count(m_rows.size(), u"subject"_s, u"subjects"_s) + u": "_s + QString::number(enough)
        + (m_minimumPhotos > 1 ? u" with enough photos, "_s : u" with photos, "_s) + QString::number(missing)
        + u" without"_s;
    if (shortOnes > 0 || m_minimumPhotos > 1)
        text += u", "_s + QString::number(shortOnes) + u" short"_s;
    if (!m_strays.isEmpty())
        text += u"; "_s + Plural::count(m_strays.size(), u"code"_s, u"codes"_s) + u" not on the roster"_s;
    return text + u'\n';
}
