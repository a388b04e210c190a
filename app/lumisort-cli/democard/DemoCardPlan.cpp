#include "DemoCardPlan.h"

#include "DemoRandom.h"

using namespace Qt::StringLiterals;

namespace {

int ean13CheckDigit(const QString &twelveDigits)
{
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += twelveDigits.at(i).digitValue() * (i % 2 ? 3 : 1);
    return (10 - sum % 10) % 10;
}

} // namespace

QList<DemoCardPlan::Photo> DemoCardPlan::photos(const DemoCardOptions &options)
{
    QList<Photo> photos;
    const int perGroup = options.photosPerGroup + 1;
    const int total = options.groups * perGroup;
    photos.reserve(total);
    // A school day; no daylight-saving change for weeks either side.
    QDateTime shot(QDate(2026, 5, 12), QTime(9, 0), Qt::LocalTime);
    for (int i = 0; i < total; ++i) {
        Photo photo;
        photo.group = i / perGroup;
        photo.barcodePhoto = i % perGroup == 0;
        const int serial = options.startNumber - 1 + i;
        photo.relativePath = u"DCIM/%1CANON/IMG_%2.JPG"_s.arg(100 + serial / cFilesPerFolder)
                                 .arg(serial % cFilesPerFolder + 1, 4, 10, QChar(u'0'));
        if (photo.barcodePhoto)
            photo.barcode = barcodeForGroup(options.seed, photo.group);
        // A few seconds between shots, a pause while the next pupil comes in.
        if (i > 0) {
            const quint64 h = DemoRandom::hashOf(options.seed, quint64(i), 0x74);
            shot = shot.addSecs(qint64(2 + h % 4 + (photo.barcodePhoto ? 30 + (h >> 8) % 90 : 0)));
        }
        photo.shot = shot;
        photos.append(photo);
    }
    return photos;
}

QString DemoCardPlan::barcodeForGroup(quint64 seed, int group)
{
    const quint64 body = (seed * 100000 + quint64(group) + 1) % 100000000000ULL;
    const QString twelve = u"2"_s + QString::number(body).rightJustified(11, u'0');
    return twelve + QString::number(ean13CheckDigit(twelve));
}
