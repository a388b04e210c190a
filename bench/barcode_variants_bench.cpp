// The photos barcode reading is judged on, and the reference reader they are judged against.
//   generate WORKDIR --background FILE...   writes 24 MP photos of printed code cards on real
//       backgrounds (every symbology, 4 to 30% of the frame wide, turned up to 180 degrees, in
//       perspective, blurred, noisy, dim, printed pale) and photos without a code, some plain, some
//       full of stripes, fences, text and grids that look like codes; WORKDIR/manifest.tsv says
//       what each shows. The same seed gives the same photos.
//   zxing FILE...   zxing-cpp alone on each photo (TryHarder, TryRotate, every format), one line each:
//       file, milliseconds without the JPEG decoding, format:text of every code found.
// bench/barcodes runs both, Lumisort's reader and zbarimg on the same photos and prints the table.
#define ZX_USE_UTF8 1

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTextStream>
#include <QThreadPool>
#include <QtConcurrent>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

using namespace Qt::StringLiterals;
using F = ZXing::BarcodeFormat;

namespace {

constexpr QSize cPhotoSize(6000, 4000);

enum class Bait
{
    None,
    Plain,
    Stripes,
    Fence,
    Text,
    Grid
};

struct Variant
{
    QString condition; // what the photo tests, for the table's rows
    F format = F::None; // None: a photo without a code
    double width = 0; // of the code without its quiet zone, as a share of the photo's width
    double angle = 0; // degrees
    double tilt = 0; // 0 square to the camera; 0.3: the far side 30% shorter
    int blurRadius = 0; // of three box blurs in photo pixels over the label (sigma about 1.2 x radius)
    int grain = 7; // sensor noise, grey levels
    double brightness = 1; // 1 as shot, 0.25 a quarter of the light
    int ink = 0; // grey of the printed modules
    int paper = 255; // grey of the card
    Bait bait = Bait::None;
};

QString formatName(F format)
{
    return format == F::ITF ? u"ITF-14"_s : QString::fromLatin1(ZXing::ToString(format));
}

// The set the table was measured on: 187 codes, each symbology 26 or 27 times, every
// condition on every symbology, then 62 photos without a code.
QList<Variant> variants()
{
    QList<Variant> list;
    const F formats[] = {F::Code128, F::Code39, F::EAN13, F::UPCA, F::ITF, F::QRCode, F::DataMatrix};
    for (const F format : formats) {
        const bool linear = ZXing::BarcodeFormats(F::LinearCodes).testFlag(format);
        const auto add = [&](const QString &condition, double width, auto &&change) {
            Variant v {condition, format, width};
            change(v);
            list.append(v);
        };
        const auto same = [](Variant &) {};
        for (int i = 0; i < (linear ? 2 : 1); ++i)
            add(u"clean"_s, 0.04, same);
        for (const double width : {0.06, 0.08, 0.12, 0.18, 0.30})
            add(u"clean"_s, width, same);
        for (const double angle : {15.0, 45.0, 90.0, 135.0, 180.0})
            add(u"turned"_s, 0.12, [&](Variant &v) { v.angle = angle; });
        add(u"turned"_s, 0.04, [](Variant &v) { v.angle = 30; });
        for (const double tilt : {0.25, 0.4})
            add(u"perspective"_s, 0.12, [&](Variant &v) { v.tilt = tilt; });
        for (const int radius : {1, 2})
            add(u"blur"_s, 0.12, [&](Variant &v) { v.blurRadius = radius; });
        for (const int grain : {24, 40})
            add(u"noise"_s, 0.10, [&](Variant &v) { v.grain = grain; });
        for (const double light : {0.3, 0.18})
            add(u"dim"_s, 0.12, [&](Variant &v) {
                v.brightness = light;
                v.grain = 10;
            });
        for (const int ink : {90, 130})
            add(u"low contrast"_s, 0.12, [&](Variant &v) {
                v.ink = ink;
                v.paper = 200;
            });
        add(u"mixed"_s, 0.08, [](Variant &v) {
            v.angle = 45;
            v.brightness = 0.35;
            v.grain = 16;
        });
        add(u"mixed"_s, 0.06, [](Variant &v) {
            v.tilt = 0.3;
            v.blurRadius = 1;
        });
        for (const double angle : {70.0, 160.0})
            add(u"mixed"_s, 0.20, [&](Variant &v) {
                v.angle = angle;
                v.tilt = 0.3;
            });
    }
    for (int i = 0; i < 10; ++i) {
        list.append({u"no code"_s, F::None, 0, 0, 0, 0, 7, 1, 0, 255, Bait::Plain});
        list.append({u"no code, dim"_s, F::None, 0, 0, 0, 0, 10, 0.3, 0, 255, Bait::Plain});
        list.append({u"no code, blur"_s, F::None, 0, 0, 0, 2, 7, 1, 0, 255, Bait::Plain});
    }
    for (const Bait bait : {Bait::Stripes, Bait::Fence, Bait::Text, Bait::Grid})
        for (int i = 0; i < 8; ++i)
            list.append({bait == Bait::Stripes     ? u"bait: stripes"_s
                             : bait == Bait::Fence ? u"bait: fence"_s
                             : bait == Bait::Text  ? u"bait: text"_s
                                                   : u"bait: grid"_s,
                         F::None, 0, 0, 0, 0, 7, 1, 0, 255, bait});
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

// The code printed on a card with its quiet zone, the modules on whole photo pixels as a camera
// close to the card would see them.
QImage cardFor(const Variant &variant, const QString &text)
{
    const bool linear = ZXing::BarcodeFormats(F::LinearCodes).testFlag(variant.format);
    const ZXing::BitMatrix modules =
        ZXing::MultiFormatWriter(variant.format).setMargin(0).encode(text.toStdString(), 0, 0);
    const double module = cPhotoSize.width() * variant.width / modules.width();
    const double quiet = module * (linear ? 10 : 4);
    const double width = module * modules.width();
    const double height = linear ? width * 0.4 : module * modules.height();
    // The card is a little larger than the code, with the number printed under a linear one.
    const double below = linear ? height * 0.25 : quiet;
    QImage card(qCeil(width + 2 * quiet + 2 * module), qCeil(height + quiet + below + 2 * module),
                QImage::Format_RGB32);
    const QColor paper(variant.paper, variant.paper, variant.paper - 8);
    const QColor ink(variant.ink, variant.ink, variant.ink);
    card.fill(paper);
    QPainter p(&card);
    const QPointF origin(quiet + module, quiet + module);
    for (int y = 0; y < (linear ? 1 : modules.height()); ++y)
        for (int x = 0; x < modules.width(); ++x)
            if (modules.get(x, y))
                p.fillRect(QRectF(origin.x() + module * x, origin.y() + module * y, module, linear ? height : module),
                           ink);
    if (linear) {
        QFont font(u"DejaVu Sans Mono"_s);
        font.setPixelSize(std::max(6, qRound(below * 0.7)));
        p.setFont(font);
        p.setPen(ink);
        p.drawText(QRectF(origin.x(), origin.y() + height, width, below), Qt::AlignCenter, text);
    }
    return card;
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
void expose(QImage &image, double brightness, int grain, quint32 seed)
{
    quint32 state = seed | 1;
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

// Things in a studio or outdoors that have the edges of a code: blinds and barcode-like
// stripes, a picket fence, a printed page or a sign, tiles, graph paper and random squares.
void paintBait(QImage &photo, Bait bait, QRandomGenerator &random)
{
    QPainter p(&photo);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = cPhotoSize.width();
    const double h = cPhotoSize.height();
    const auto uniform = [&](double low, double high) { return low + (high - low) * random.generateDouble(); };
    const QRectF panel(uniform(0, w * 0.3), uniform(0, h * 0.3), uniform(w * 0.3, w * 0.65),
                       uniform(h * 0.3, h * 0.65));
    p.translate(panel.center());
    p.rotate(uniform(-40, 40) + (random.bounded(2) ? 90 : 0));
    const QRectF area(-panel.width() / 2, -panel.height() / 2, panel.width(), panel.height());
    switch (bait) {
    case Bait::Stripes: {
        p.fillRect(area, QColor(235, 232, 225));
        const bool irregular = random.bounded(2);
        const double unit = uniform(4, 30);
        double x = area.left();
        bool dark = true;
        while (x < area.right()) {
            const double step = irregular ? unit * (1 + random.bounded(4)) : unit;
            if (dark)
                p.fillRect(QRectF(x, area.top(), step, area.height()), QColor(20, 20, 25));
            x += step;
            dark = !dark;
        }
        break;
    }
    case Bait::Fence: {
        const double picket = uniform(30, 120);
        const double gap = picket * uniform(0.3, 1.0);
        for (double x = area.left(); x < area.right(); x += picket + gap) {
            p.fillRect(QRectF(x, area.top(), picket, area.height()), QColor(240, 238, 230));
            p.fillRect(QRectF(x + picket, area.top(), gap, area.height()), QColor(35, 40, 30));
        }
        break;
    }
    case Bait::Text: {
        p.fillRect(area, QColor(245, 245, 240));
        QFont font(random.bounded(2) ? u"DejaVu Sans"_s : u"DejaVu Serif"_s);
        const int size = int(uniform(18, 160));
        font.setPixelSize(size);
        font.setBold(random.bounded(2));
        p.setFont(font);
        p.setPen(QColor(15, 15, 15));
        static const QStringList words = {u"studio"_s,  u"IIII"_s,    u"1111 0000"_s, u"ORDER"_s,
                                          u"||| lll"_s, u"Lumière"_s, u"client"_s,    u"12345678"_s,
                                          u"WWW"_s,     u"mmmmm"_s,   u"ill-lit"_s};
        for (double y = area.top() + size; y < area.bottom(); y += size * 1.3) {
            QString line;
            while (line.size() * size * 0.6 < area.width())
                line += words.at(random.bounded(words.size())) + u' ';
            p.drawText(QPointF(area.left() + size * 0.5, y), line);
        }
        break;
    }
    case Bait::Grid: {
        p.fillRect(area, QColor(240, 240, 240));
        const int kind = random.bounded(3);
        const double cell = uniform(kind == 2 ? 8 : 20, kind == 2 ? 40 : 120);
        for (double y = area.top(); y < area.bottom(); y += cell)
            for (double x = area.left(); x < area.right(); x += cell) {
                const int i = qRound((x - area.left()) / cell);
                const int j = qRound((y - area.top()) / cell);
                const QRectF square(x, y, cell, cell);
                if (kind == 0 && (i + j) % 2) // tiles
                    p.fillRect(square, QColor(25, 25, 30));
                else if (kind == 1) // graph paper
                    p.fillRect(QRectF(x, y, std::max(2.0, cell / 10), cell), QColor(30, 60, 30)),
                        p.fillRect(QRectF(x, y, cell, std::max(2.0, cell / 10)), QColor(30, 60, 30));
                else if (kind == 2 && random.bounded(2)) // random squares
                    p.fillRect(square, QColor(10, 10, 10));
            }
        break;
    }
    default:
        break;
    }
}

struct Sample
{
    QString file;
    QString text; // empty without a code
};

Sample makePhoto(const QList<QImage> &sources, const Variant &variant, int index, const QString &folder)
{
    QRandomGenerator random(quint32(index * 7919 + 17));
    Sample sample {u"IMG_%1.JPG"_s.arg(index, 3, 10, QChar(u'0')), {}};
    QImage photo = background(sources.at(index % sources.size()), random);
    QRect touched(QPoint(0, 0), cPhotoSize);
    if (variant.format != F::None) {
        sample.text = textFor(variant.format, random);
        const QImage card = cardFor(variant, sample.text);
        // Seen at a slant, the far edge of the card is shorter and the card looks less tall.
        const double w = card.width();
        const double h = card.height();
        const double k = 1 - variant.tilt;
        QPolygonF seen;
        if (random.bounded(2)) // far edge at the top
            seen << QPointF(w * (1 - k) / 2, h * (1 - k) / 2) << QPointF(w * (1 + k) / 2, h * (1 - k) / 2)
                 << QPointF(w, h) << QPointF(0, h);
        else // far edge at the right
            seen << QPointF(0, 0) << QPointF(w - w * (1 - k) / 2, h * (1 - k) / 2)
                 << QPointF(w - w * (1 - k) / 2, h - h * (1 - k) / 2) << QPointF(0, h);
        QTransform slant;
        QTransform::quadToQuad(QPolygonF(QRectF(0, 0, w, h)), seen, slant);
        // Not quite straight even when meant to be: a hand-held shot.
        const double angle = variant.angle + (variant.angle == 0 ? random.generateDouble() * 4 - 2 : 0);
        QTransform place = slant * QTransform().translate(-w / 2, -h / 2) * QTransform().rotate(angle);
        const QRectF bounds = place.mapRect(QRectF(0, 0, w, h));
        const double margin = 40;
        const auto at = [&](double room, double extent) {
            return margin + random.generateDouble() * std::max(0.0, room - extent - 2 * margin);
        };
        place *= QTransform::fromTranslate(at(cPhotoSize.width(), bounds.width()) - bounds.left(),
                                           at(cPhotoSize.height(), bounds.height()) - bounds.top());
        QPainter p(&photo);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setRenderHint(QPainter::Antialiasing);
        p.setTransform(place);
        p.drawImage(QPointF(0, 0), card);
        p.end();
        touched = place.mapRect(QRectF(0, 0, w, h)).toAlignedRect().adjusted(-50, -50, 50, 50);
    } else if (variant.bait != Bait::Plain) {
        paintBait(photo, variant.bait, random);
    }
    if (variant.blurRadius > 0)
        blur(photo, variant.format == F::None ? QRect(1500, 1000, 3000, 2000) : touched, variant.blurRadius);
    expose(photo, variant.brightness, variant.grain, quint32(index * 104729 + 3));
    if (!photo.save(folder + u'/' + sample.file, "JPEG", 90))
        sample.file.clear();
    return sample;
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

int generate(const QStringList &args)
{
    QString folder;
    QStringList backgrounds;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == u"--background"_s && i + 1 < args.size())
            backgrounds << args.at(++i);
        else
            folder = args.at(i);
    }
    const QList<QImage> sources = loadSources(backgrounds);
    if (folder.isEmpty() || sources.isEmpty()) {
        std::fprintf(stderr, "generate WORKDIR --background FILE... (photos of at least 1000 px each way)\n");
        return 2;
    }
    QDir().mkpath(folder);
    const QList<Variant> all = variants();
    QList<int> indexes(all.size());
    std::iota(indexes.begin(), indexes.end(), 0);
    QElapsedTimer timer;
    timer.start();
    const QList<Sample> samples = QtConcurrent::blockingMapped<QList<Sample>>(
        indexes, [&](int i) { return makePhoto(sources, all.at(i), i, folder); });
    QFile manifest(folder + u"/manifest.tsv"_s);
    if (!manifest.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QTextStream out(&manifest);
    out << "file\tcondition\tformat\twidth\tangle\ttilt\tblur\tgrain\tlight\tink\ttext\n";
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const Variant &v = all.at(i);
        if (samples.at(i).file.isEmpty()) {
            std::fprintf(stderr, "could not write the photos into %s\n", qPrintable(folder));
            return 1;
        }
        out << samples.at(i).file << '\t' << v.condition << '\t'
            << (v.format == F::None ? u"-"_s : formatName(v.format)) << '\t' << qRound(v.width * 100) << '\t' << v.angle
            << '\t' << v.tilt << '\t' << v.blurRadius << '\t' << v.grain << '\t' << v.brightness << '\t' << v.ink
            << '\t' << samples.at(i).text << '\n';
    }
    std::printf("generated %lld photos of %dx%d in %.1f s\n", qlonglong(samples.size()), cPhotoSize.width(),
                cPhotoSize.height(), timer.elapsed() / 1000.0);
    return 0;
}

int zxingAlone(const QStringList &files)
{
    ZXing::DecodeHints hints;
    // zxing 1.4 aborts on a failed assertion when it merges a linear code found twice
    // (TryRotate): one code a photo is all the set shows, so one is asked for.
    hints.setTryHarder(true).setTryRotate(true).setMaxNumberOfSymbols(1);
    for (const QString &file : files) {
        QImageReader reader(file);
        reader.setAutoTransform(true);
        const QImage grey = reader.read().convertToFormat(QImage::Format_Grayscale8);
        QElapsedTimer timer;
        timer.start();
        const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                    int(grey.bytesPerLine()));
        const ZXing::Results results = ZXing::ReadBarcodes(view, hints);
        std::printf("%s\t%.1f", qPrintable(QFileInfo(file).fileName()), timer.nsecsElapsed() / 1e6);
        for (const ZXing::Result &result : results)
            if (result.isValid())
                std::printf("\t%s:%s", qPrintable(formatName(result.format())), result.text().c_str());
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // fonts for the printed numbers and the text bait
    QGuiApplication app(argc, argv);
    QImageReader::setAllocationLimit(0);
    QStringList args = app.arguments().mid(1);
    const QString mode = args.isEmpty() ? QString() : args.takeFirst();
    if (mode == u"generate"_s)
        return generate(args);
    if (mode == u"zxing"_s)
        return zxingAlone(args);
    std::fprintf(stderr, "usage: %s generate WORKDIR --background FILE... | zxing FILE...\n", argv[0]);
    return 2;
}
