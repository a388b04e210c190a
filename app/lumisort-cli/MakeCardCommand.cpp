#include "MakeCardCommand.h"

#include "CliArguments.h"
#include "democard/DemoCardWriter.h"

#include <QElapsedTimer>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

bool parseNumber(const QString &text, qint64 low, qint64 high, qint64 *value)
{
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok && *value >= low && *value <= high;
}

} // namespace

QString MakeCardCommand::usage()
{
    return u"usage: lumisort-cli make-card DIR --groups N --photos M [--size WxH] [--no-exif-thumbnail]\n"
           "                              [--orientation K] [--quality Q] [--seed S] [--start-number K]\n"
           "  (a DIR beginning with \"-\" follows \"--\", after the options)\n"
           "  writes a demo camera card: N groups, each a barcode card photo followed by M photos,\n"
           "  as DIR/DCIM/100CANON/IMG_0001.JPG ..., and their list in DIR/lumisort-card.json\n"
           "  --size WxH          stored pixel size, 16 to 20000 each (default 6000x4000)\n"
           "  --no-exif-thumbnail leave out the EXIF thumbnail\n"
           "  --orientation K     EXIF orientation 1-8, pixels stored to match (default 1)\n"
           "  --quality Q         JPEG quality 1-100 (default 90)\n"
           "  --seed S            varies barcodes, pictures and times (default 0)\n"
           "  --start-number K    number of the first file, 1-9999 (default 1)"_s;
}

int MakeCardCommand::run(const QStringList &args, CliIo &io)
{
    DemoCardOptions options;
    options.groups = 0;
    options.photosPerGroup = -1;
    const CliArguments parsed(args,
                              {{u"--groups"_s, true},
                               {u"--photos"_s, true},
                               {u"--size"_s, true},
                               {u"--no-exif-thumbnail"_s},
                               {u"--orientation"_s, true},
                               {u"--quality"_s, true},
                               {u"--seed"_s, true},
                               {u"--start-number"_s, true}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.operands().size() > 1)
        return io.usageError(u"make-card takes one folder"_s, usage());
    options.dir = parsed.operands().value(0);
    options.exifThumbnail = !parsed.isSet(u"--no-exif-thumbnail"_s);
    for (const QString &option : {u"--size"_s, u"--seed"_s, u"--groups"_s, u"--photos"_s, u"--orientation"_s,
                                  u"--quality"_s, u"--start-number"_s}) {
        if (!parsed.isSet(option))
            continue;
        const QString value = parsed.value(option);
        qint64 number = 0;
        const auto bad = [&] { return io.usageError(u"bad value for "_s + option + u": "_s + value, usage()); };
        if (option == u"--size"_s) {
            const QRegularExpressionMatch m = QRegularExpression(u"^(\\d{1,5})x(\\d{1,5})$"_s).match(value);
            const int w = m.captured(1).toInt();
            const int h = m.captured(2).toInt();
            if (!m.hasMatch() || w < 16 || h < 16 || w > 20000 || h > 20000)
                return bad();
            options.size = QSize(w, h);
        } else if (option == u"--seed"_s) {
            bool ok = false;
            options.seed = value.toULongLong(&ok);
            if (!ok)
                return bad();
        } else if (option == u"--groups"_s || option == u"--photos"_s) {
            if (!parseNumber(value, option == u"--groups"_s ? 1 : 0, DemoCardWriter::cMaxPhotos, &number))
                return bad();
            (option == u"--groups"_s ? options.groups : options.photosPerGroup) = int(number);
        } else if (option == u"--orientation"_s) {
            if (!parseNumber(value, 1, 8, &number))
                return bad();
            options.orientation = int(number);
        } else if (option == u"--quality"_s) {
            if (!parseNumber(value, 1, 100, &number))
                return bad();
            options.quality = int(number);
        } else {
            if (!parseNumber(value, 1, DemoCardWriter::cFilesPerFolder, &number))
                return bad();
            options.startNumber = int(number);
        }
    }
    if (options.dir.isEmpty())
        return io.usageError(u"make-card needs a folder"_s, usage());
    if (options.groups < 1 || options.photosPerGroup < 0)
        return io.usageError(u"make-card needs --groups and --photos"_s, usage());
    if (qint64(options.groups) * (options.photosPerGroup + 1) > DemoCardWriter::cMaxPhotos)
        return io.usageError(u"more than "_s + QString::number(DemoCardWriter::cMaxPhotos) + u" photos"_s, usage());

    QElapsedTimer timer;
    timer.start();
    DemoCardWriter writer(options);
    QString error;
    if (!writer.write(&error)) {
        io.err << "lumisort-cli: " << error << Qt::endl;
        return CliIo::cFailed;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qsizetype count = writer.photos().size();
    io.out << "make-card: wrote " << count << " photos, " << writer.bytesWritten() << " bytes, in "
           << QString::number(seconds, 'f', 2) << " s (" << QString::number(count / std::max(seconds, 1e-3), 'f', 1)
           << " photos/s) to " << options.dir << Qt::endl;
    return CliIo::cOk;
}
