// How well and how fast barcodes are read from 24 MP photos as they come out of
// a camera: every format, small and large, turned, blurred, dim, and scenes with
// no code at all; beside the browser's thumbnail pass over the same photos.
// Generates the photos into WORKDIR, reads them on every core, prints a table.
#define ZX_USE_UTF8 1

#include "barcodes/BarcodeCache.h"
#include "barcodes/BarcodeReader.h"
#include "model/ThumbnailMaker.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QtConcurrent>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace Qt::StringLiterals;
using F = ZXing::BarcodeFormat;

namespace {

constexpr QSize cPhotoSize(6000, 4000);

struct Variant
{
    QString name;
    F format = F::None; // None: a scene without a code
    double width = 0; // of the code without its quiet zone, as a share of the photo's width
    double angle = 0; // degrees, either way
    int blurRadius = 0; // of three box blurs in photo pixels over the label (sigma about 1.2 x radius)
    double brightness = 1; // 1 as shot, 0.25 a quarter of the light (with sensor noise)
};

struct Sample
{
    int variant = 0;
    QString path;
    QString text; // empty on scenes
};

QList<Variant> variants()
{
    QList<Variant> list;
    const auto add = [&](const QString &name, F format, double width, double angle = 0, int blur = 0,
                         double brightness = 1) {
        if (std::none_of(list.cbegin(), list.cend(), [&](const Variant &v) { return v.name == name; }))
            list.append({name, format, width, angle, blur, brightness});
    };
    add(u"Code 128 15%"_s, F::Code128, 0.15);
    add(u"Code 39 15%"_s, F::Code39, 0.15);
    add(u"EAN-13 15%"_s, F::EAN13, 0.15);
    add(u"EAN-8 10%"_s, F::EAN8, 0.10);
    add(u"UPC-A 15%"_s, F::UPCA, 0.15);
    add(u"ITF 20%"_s, F::ITF, 0.20);
    add(u"QR 10%"_s, F::QRCode, 0.10);
    add(u"Data Matrix 8%"_s, F::DataMatrix, 0.08);
    for (const double width : {0.05, 0.10, 0.20, 0.40}) {
        add(u"Code 128 %1%"_s.arg(qRound(width * 100)), F::Code128, width);
        add(u"EAN-13 %1%"_s.arg(qRound(width * 100)), F::EAN13, width);
        add(u"QR %1%"_s.arg(qRound(width * 100)), F::QRCode, width);
        add(u"Data Matrix %1%"_s.arg(qRound(width * 100)), F::DataMatrix, width);
    }
    for (const double angle : {10.0, 20.0, 30.0})
        add(u"Code 128 15% at %1 deg"_s.arg(angle), F::Code128, 0.15, angle);
    add(u"EAN-13 15% at 30 deg"_s, F::EAN13, 0.15, 30);
    add(u"QR 10% at 30 deg"_s, F::QRCode, 0.10, 30);
    add(u"Data Matrix 8% at 30 deg"_s, F::DataMatrix, 0.08, 30);
    add(u"Code 128 5% at 30 deg"_s, F::Code128, 0.05, 30);
    for (const int blur : {2, 4}) {
        const QString sigma = QString::number(std::sqrt(((2 * blur + 1) * (2 * blur + 1) - 1) / 4.0), 'f', 1);
        add(u"Code 128 15% blur %1 px"_s.arg(sigma), F::Code128, 0.15, 0, blur);
        add(u"EAN-13 15% blur %1 px"_s.arg(sigma), F::EAN13, 0.15, 0, blur);
        add(u"QR 10% blur %1 px"_s.arg(sigma), F::QRCode, 0.10, 0, blur);
    }
    add(u"Code 128 10% blur 2.4 px"_s, F::Code128, 0.10, 0, 2);
    for (const double light : {0.35, 0.15}) {
        add(u"Code 128 15% light %1"_s.arg(light), F::Code128, 0.15, 0, 0, light);
        add(u"QR 10% light %1"_s.arg(light), F::QRCode, 0.10, 0, 0, light);
    }
    add(u"Code 128 8% 20 deg blur 2.4 px light 0.35"_s, F::Code128, 0.08, 20, 2, 0.35);
    add(u"scene, no code"_s, F::None, 0);
    add(u"scene, no code, light 0.35"_s, F::None, 0, 0, 0, 0.35);
    add(u"scene, no code, blur 2.4 px"_s, F::None, 0, 0, 2);
    return list;
}

QString digitsWithCheck(QRandomGenerator &random, int digits, QChar first)
{
    QString text(first);
    while (text.size() < digits - 1)
        text += QChar(u'0' + random.bounded(10));
    int sum = 0;
    for (int i = 0; i < text.size(); ++i)
        sum += (text.at(text.size() - 1 - i).unicode() - u'0') * (i % 2 == 0 ? 3 : 1);
    return text + QChar(u'0' + (10 - sum % 10) % 10);
}

QString textFor(F format, QRandomGenerator &random)
{
    const QString number = QString::number(10000 + random.bounded(90000));
    switch (format) {
    case F::Code128:
        return u"LS-"_s + number + u"a"_s;
    case F::Code39:
        return u"LS-"_s + number;
    case F::EAN13: // a leading 0 would read as UPC-A
        return digitsWithCheck(random, 13, u'2');
    case F::EAN8:
        return digitsWithCheck(random, 8, u'2');
    case F::UPCA:
        return digitsWithCheck(random, 12, u'0');
    case F::ITF:
        return digitsWithCheck(random, 14, u'1');
    case F::QRCode:
        return u"Studio 42 client "_s + number;
    default:
        return u"DM-"_s + number;
    }
}

// The code printed black on white with its quiet zone, the modules on whole photo pixels as a camera
// close to the label would see them.
QImage labelFor(F format, const QString &text, double widthShare)
{
    const bool linear = ZXing::BarcodeFormats(F::LinearCodes).testFlag(format);
    const ZXing::BitMatrix modules = ZXing::MultiFormatWriter(format).setMargin(0).encode(text.toStdString(), 0, 0);
    const double module = cPhotoSize.width() * widthShare / modules.width();
    const double quiet = module * (linear ? 10 : 4);
    const double width = module * modules.width();
    const double height = linear ? width * 0.5 : module * modules.height();
    QImage label(qCeil(width + 2 * quiet), qCeil(height + 2 * quiet), QImage::Format_RGB32);
    label.fill(Qt::white);
    QPainter p(&label);
    for (int y = 0; y < (linear ? 1 : modules.height()); ++y)
        for (int x = 0; x < modules.width(); ++x)
            if (modules.get(x, y))
                p.fillRect(QRectF(quiet + module * x, quiet + module * y, module, linear ? height : module), Qt::black);
    return label;
}

// Three box blurs, about a Gaussian: a lens not quite focused on the label.
void blur(QImage &image, const QRect &area, int radius)
{
    const QRect r = area.intersected(image.rect());
    std::vector<int> line;
    const auto pass = [&](int count, int length, auto pixel) {
        for (int i = 0; i < count; ++i) {
            for (int channel = 0; channel < 3; ++channel) {
                line.assign(size_t(length), 0);
                for (int k = 0; k < length; ++k)
                    line[size_t(k)] = (*pixel(i, k) >> (8 * channel)) & 0xff;
                int sum = 0;
                for (int k = -radius; k <= radius; ++k)
                    sum += line[size_t(std::clamp(k, 0, length - 1))];
                for (int k = 0; k < length; ++k) {
                    QRgb *p = pixel(i, k);
                    *p = (*p & ~(0xffu << (8 * channel))) | (uint(sum / (2 * radius + 1)) << (8 * channel));
                    sum += line[size_t(std::min(k + radius + 1, length - 1))] - line[size_t(std::max(k - radius, 0))];
                }
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(r.height(), r.width(),
             [&](int y, int x) { return reinterpret_cast<QRgb *>(image.scanLine(r.top() + y)) + r.left() + x; });
        pass(r.width(), r.height(),
             [&](int x, int y) { return reinterpret_cast<QRgb *>(image.scanLine(r.top() + y)) + r.left() + x; });
    }
}

// The sensor's grain, stronger the less light there is: it is also what gives a camera's
// JPEG its size, and so its decoding time.
void expose(QImage &image, double brightness, quint32 seed)
{
    quint32 state = seed | 1;
    const int grain = brightness < 1 ? 10 : 7;
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = (int(state & 15) + int((state >> 4) & 15) - 15) * grain / 8;
            const auto level = [&](int v) { return std::clamp(int(v * brightness) + noise, 0, 255); };
            row[x] = qRgb(level(qRed(row[x])), level(qGreen(row[x])), level(qBlue(row[x])));
        }
    }
}

// A 24 MP landscape from a real photo: a random part of it, scaled up.
QImage background(const QImage &source, QRandomGenerator &random)
{
    const double aspect = double(cPhotoSize.width()) / cPhotoSize.height();
    QSize crop = source.width() / aspect <= source.height() ? QSize(source.width(), qRound(source.width() / aspect))
                                                            : QSize(qRound(source.height() * aspect), source.height());
    crop *= 0.7 + 0.3 * random.generateDouble();
    const QRect area(random.bounded(source.width() - crop.width() + 1),
                     random.bounded(source.height() - crop.height() + 1), crop.width(), crop.height());
    return source.copy(area)
        .scaled(cPhotoSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

Sample makePhoto(const QList<QImage> &sources, const Variant &variant, int variantIndex, int number,
                 const QString &folder)
{
    QRandomGenerator random(quint32(variantIndex * 1000 + number + 1));
    Sample sample {variantIndex, folder + u"/IMG_%1_%2.JPG"_s.arg(variantIndex, 2, 10, QChar(u'0')).arg(number), {}};
    QImage photo = background(sources.at((variantIndex + number) % sources.size()), random);
    QRect touched(QPoint(0, 0), cPhotoSize);
    if (variant.format != F::None) {
        sample.text = textFor(variant.format, random);
        const QImage label = labelFor(variant.format, sample.text, variant.width);
        const double angle = variant.angle * (random.bounded(2) ? 1 : -1);
        const QRectF turned = QTransform().rotate(angle).mapRect(QRectF(QPointF(0, 0), label.size()));
        const double margin = 40;
        const auto place = [&](double room, double extent) {
            return extent / 2 + margin + random.generateDouble() * std::max(0.0, room - extent - 2 * margin);
        };
        const QPointF centre(place(cPhotoSize.width(), turned.width()), place(cPhotoSize.height(), turned.height()));
        QPainter p(&photo);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.translate(centre);
        p.rotate(angle);
        p.drawImage(QPointF(-label.width() / 2.0, -label.height() / 2.0), label);
        p.end();
        touched = QRectF(centre - QPointF(turned.width() / 2, turned.height() / 2), turned.size())
                      .toAlignedRect()
                      .adjusted(-50, -50, 50, 50);
    }
    if (variant.blurRadius > 0)
        blur(photo, variant.format == F::None ? QRect(1500, 1000, 3000, 2000) : touched, variant.blurRadius);
    expose(photo, variant.brightness, quint32(variantIndex * 7919 + number));
    if (!photo.save(sample.path, "JPEG", 90))
        sample.path.clear();
    return sample;
}

struct Row
{
    int photos = 0;
    int read = 0; // the printed text found
    int falseCodes = 0; // any other code
    int firstPass = 0;
    int secondPass = 0;
    int pieces = 0;
    qint64 readMs = 0; // wall, both cores
    qint64 thumbMs = 0; // wall, both cores
    QStringList missed;
};

Row measure(const QList<Sample> &samples)
{
    Row row;
    QList<NativePath> paths;
    for (const Sample &sample : samples)
        paths.append(NativePath(sample.path));
    QElapsedTimer timer;
    timer.start();
    BarcodeCache cache;
    const QList<BarcodeReader::Reading> readings = cache.readAll(paths);
    row.readMs = timer.elapsed();
    timer.restart();
    QtConcurrent::blockingMap(paths, [](const NativePath &path) { ThumbnailMaker::make(path); });
    row.thumbMs = timer.elapsed();
    row.photos = int(samples.size());
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const BarcodeReader::Reading &reading = readings.at(i);
        bool found = false;
        for (const BarcodeReader::Code &code : reading.codes) {
            if (!samples.at(i).text.isEmpty() && code.text == samples.at(i).text)
                found = true;
            else
                ++row.falseCodes;
        }
        row.read += found;
        row.firstPass += reading.pass == 1;
        row.secondPass += reading.pass == 2;
        row.pieces += reading.pieces;
        if (!found && !samples.at(i).text.isEmpty())
            row.missed << QFileInfo(samples.at(i).path).fileName() + u" ("_s + QString::number(reading.pieces)
                    + u" pieces)"_s;
        for (const BarcodeReader::Code &code : reading.codes)
            if (code.text != samples.at(i).text)
                row.missed << QFileInfo(samples.at(i).path).fileName() + u": false "_s + code.format + u" \""_s
                        + code.text + u'"';
    }
    return row;
}

void printRow(const QString &name, const Row &row, bool withCode)
{
    const double readPerPhoto = double(row.readMs) / std::max(1, row.photos);
    const double thumbPerPhoto = double(row.thumbMs) / std::max(1, row.photos);
    std::printf("%-40s %3d  %9s  %5d  %3d/%-3d %6.1f  %7.1f  %7.1f  %5.1fx\n", qPrintable(name), row.photos,
                withCode ? qPrintable(u"%1/%2"_s.arg(row.read).arg(row.photos)) : "-", row.falseCodes, row.firstPass,
                row.secondPass, double(row.pieces) / std::max(1, row.photos), readPerPhoto, thumbPerPhoto,
                readPerPhoto / std::max(0.1, thumbPerPhoto));
    for (const QString &miss : row.missed)
        std::printf("    %s\n", qPrintable(miss));
}

QList<QImage> loadSources(const QStringList &files)
{
    QList<QImage> sources;
    for (const QString &file : files) {
        QImageReader reader(file);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        if (!image.isNull() && std::min(image.width(), image.height()) >= 1000)
            sources.append(image);
    }
    return sources;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(u"WORKDIR"_s, u"where the photos are written"_s);
    parser.addOption({u"per-variant"_s, u"photos per variant"_s, u"N"_s, u"4"_s});
    parser.addOption({u"scenes"_s, u"photos per variant without a code"_s, u"N"_s, u"12"_s});
    parser.addOption({u"only"_s, u"only the variants whose name contains TEXT"_s, u"TEXT"_s});
    parser.addOption({u"background"_s, u"a real photo to build scenes from (repeatable)"_s, u"FILE"_s});
    parser.addOption({u"real"_s, u"a folder of real photos read as they are (repeatable)"_s, u"DIR"_s});
    parser.addHelpOption();
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        parser.showHelp(2);
    }
    const QString work = QDir(parser.positionalArguments().first()).absolutePath();
    const int perVariant = parser.value(u"per-variant"_s).toInt();
    const int scenes = parser.value(u"scenes"_s).toInt();
    ThumbnailMaker::initializeLibraries();
    QImageReader::setAllocationLimit(0);
    const QList<QImage> sources = loadSources(parser.values(u"background"_s));
    if (sources.isEmpty()) {
        std::fprintf(stderr, "no usable --background photo (at least 1000 px each way)\n");
        return 2;
    }

    const QList<Variant> all = variants();
    struct Job
    {
        int variant;
        int number;
    };
    QList<Job> jobs;
    for (int v = 0; v < all.size(); ++v) {
        if (parser.isSet(u"only"_s) && !all.at(v).name.contains(parser.value(u"only"_s)))
            continue;
        for (int n = 0; n < (all.at(v).format == F::None ? scenes : perVariant); ++n)
            jobs.append({v, n});
    }
    const QString folder = work + u"/variants"_s;
    QDir().mkpath(folder);
    QElapsedTimer timer;
    timer.start();
    const QList<Sample> samples = QtConcurrent::blockingMapped<QList<Sample>>(
        jobs, [&](const Job &job) { return makePhoto(sources, all.at(job.variant), job.variant, job.number, folder); });
    if (std::any_of(samples.cbegin(), samples.cend(), [](const Sample &s) { return s.path.isEmpty(); })) {
        std::fprintf(stderr, "could not write the photos into %s\n", qPrintable(folder));
        return 1;
    }
    std::printf("generated %lld photos of %dx%d in %.1f s; threads: %d\n", qlonglong(samples.size()),
                cPhotoSize.width(), cPhotoSize.height(), timer.elapsed() / 1000.0,
                QThreadPool::globalInstance()->maxThreadCount());
    std::printf("%-40s %3s  %9s  %5s  %7s %6s  %7s  %7s  %6s\n", "variant", "n", "read", "false", "pass1/2", "pieces",
                "ms/photo", "thumb ms", "ratio");

    Row codes;
    Row without;
    for (int v = 0; v < all.size(); ++v) {
        QList<Sample> mine;
        for (const Sample &sample : samples)
            if (sample.variant == v)
                mine.append(sample);
        if (mine.isEmpty())
            continue;
        const Row row = measure(mine);
        printRow(all.at(v).name, row, all.at(v).format != F::None);
        Row &total = all.at(v).format == F::None ? without : codes;
        total.photos += row.photos;
        total.read += row.read;
        total.falseCodes += row.falseCodes;
        total.firstPass += row.firstPass;
        total.secondPass += row.secondPass;
        total.pieces += row.pieces;
        total.readMs += row.readMs;
        total.thumbMs += row.thumbMs;
    }
    std::printf("%s\n", std::string(110, '-').c_str());
    printRow(u"all photos with a code"_s, codes, true);
    printRow(u"all photos without a code"_s, without, false);

    // Real photos read as they are: none is known to show a code, so whatever is found is listed.
    for (const QString &dir : parser.values(u"real"_s)) {
        QList<Sample> real;
        for (const QFileInfo &info : QDir(dir).entryInfoList(QDir::Files, QDir::Name))
            if (!info.fileName().endsWith(u".md"_s) && info.fileName() != u"LICENSE"_s)
                real.append({-1, info.absoluteFilePath(), {}});
        printRow(u"real photos in "_s + QDir(dir).dirName() + u" (own size)"_s, measure(real), false);
    }
    return 0;
}
