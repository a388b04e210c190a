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

BarcodeReadings::Found BarcodeReadings::find(const QList<ImageFilePtr> &files) const
{
    Found found;
    for (const ImageFilePtr &file : files) {
        const QString path = file->fileurl().toLocalFile();
        const auto reading = m_readings.constFind(path);
        if (reading == m_readings.cend()) {
            ++found.unread;
        } else if (!reading->isEmpty()) {
            found.barcodePhotos.append(file->fileurl());
            found.codesOf.insert(path, *reading);
        }
    }
    return found;
}
