// Times thumbnail production over a folder: through the folder loader (as the
// browser loads), or naively (decode the full image, then scale), on the same
// number of threads.
#include "model/ImageDirectoryLoader.h"
#include "model/ImageTypes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QThreadPool>
#include <QtConcurrent>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s loader|naive DIR [LIMIT]\n", argv[0]);
        return 2;
    }
    const QString mode = args.at(1);
    const QString folder = QDir(args.at(2)).absolutePath();
    const int limit = args.size() > 3 ? args.at(3).toInt() : -1;
    QElapsedTimer timer;
    qint64 photos = 0;
    qint64 withThumbnail = 0;
    if (mode == u"loader"_s) {
        timer.start();
        ImageDirectoryLoader loader;
        loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(folder));
        photos = loader.numberOfItems();
        for (const ImageFilePtr &file : loader.imageFiles())
            withThumbnail += file->thumbnail().isNull() ? 0 : 1;
    } else if (mode == u"naive"_s) {
        QStringList files;
        for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
            if (ImageTypes::isImageFile(folder + u'/' + name))
                files << folder + u'/' + name;
        }
        if (limit > 0 && files.size() > limit)
            files = files.mid(0, limit);
        QImageReader::setAllocationLimit(0);
        timer.start();
        const QList<bool> made = QtConcurrent::blockingMapped<QList<bool>>(files, [](const QString &path) {
            QImageReader reader(path);
            reader.setAutoTransform(true);
            const QImage full = reader.read();
            return !full.scaled(160, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation).isNull();
        });
        photos = files.size();
        withThumbnail = made.count(true);
    } else {
        std::fprintf(stderr, "unknown mode\n");
        return 2;
    }
    const qint64 ms = timer.elapsed();
    std::printf("{\"mode\": \"%s\", \"photos\": %lld, \"thumbnails\": %lld, \"ms\": %lld, \"threads\": %d}\n",
                qPrintable(mode), photos, withThumbnail, ms, QThreadPool::globalInstance()->maxThreadCount());
    return 0;
}
