#include "BarcodeReadings.h"

using namespace Qt::StringLiterals;

BarcodeReadings::BarcodeReadings(BarcodeCache &cache, QObject *parent)
    : QObject(parent)
    , m_scanner(cache)
{
    connect(&m_scanner, &BarcodeScanScheduler::arrived, this,
            [this](const QList<BarcodeScanScheduler::Result> &results) {
                for (const BarcodeScanScheduler::Result &result : results) {
                    QStringList codes;
                    for (const BarcodeReader::Code &code : result.reading.codes)
                        codes.append(code.text);
                    m_readings.insert(result.path.toString(), codes);
                }
                Q_EMIT changed();
            });
}

void BarcodeReadings::start(const QList<ImageFilePtr> &files)
{
    m_readings.clear();
    QList<NativePath> paths;
    for (const ImageFilePtr &file : files)
        paths.append(NativePath(file->fileurl().toLocalFile()));
    m_scanner.start(paths);
    Q_EMIT changed();
}

QString BarcodeReadings::badgeText(const QStringList &codes)
{
    if (codes.isEmpty())
        return {};
    return codes.size() == 1 ? codes.first() : codes.first() + u" +"_s + QString::number(codes.size() - 1);
}

BarcodeReadings::Found BarcodeReadings::find(const QList<ImageFilePtr> &files, bool reverse,
                                             const std::function<bool(qsizetype)> &leaveOut) const
{
    Found found;
    enum class Group
    {
        None,
        Read,
        Unread,
        LeftOut
    } group = Group::None;
    QList<qsizetype> members; // of the group being walked while it is read through
    QList<qsizetype> grouped;
    const auto close = [&] {
        if (group == Group::Read)
            grouped.append(members);
        members.clear();
    };
    for (qsizetype n = 0; n < files.size(); ++n) {
        const qsizetype i = reverse ? files.size() - 1 - n : n;
        const auto reading = m_readings.constFind(files.at(i)->fileurl().toLocalFile());
        if (reading == m_readings.cend()) {
            ++found.unread;
            if (group == Group::Read)
                found.waiting += members.size();
            members.clear();
            group = Group::Unread;
            ++found.waiting;
        } else if (leaveOut && leaveOut(i)) {
            close();
            group = Group::LeftOut;
            ++found.leftOut;
        } else if (!reading->isEmpty()) {
            close();
            group = Group::Read;
            members.append(i);
        } else if (group == Group::Read) {
            members.append(i);
        } else if (group == Group::Unread) {
            ++found.waiting;
        }
    }
    close();
    if (reverse)
        std::reverse(grouped.begin(), grouped.end());
    for (const qsizetype i : std::as_const(grouped)) {
        const QUrl url = files.at(i)->fileurl();
        found.groupedPhotos.append(url);
        const QStringList codes = m_readings.value(url.toLocalFile());
        if (!codes.isEmpty()) {
            found.barcodePhotos.append(url);
            found.codesOf.insert(url.toLocalFile(), codes);
        }
    }
    return found;
}
