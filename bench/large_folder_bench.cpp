// Loads a large folder the way the browser does and reports what the operator
// would wait for, against the plain synchronous load that decodes every photo.
//   reference DIR        synchronous load, no thumbnail cache
//   open DIR             progressive load through the thumbnail cache
//   reload DIR N         open, rename N photos as a correction would, load again
#include "model/ImageDirectoryLoader.h"
#include "model/LoadProbe.h"
#include "model/ThumbnailCache.h"
#include "support/SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
void print(const char *mode, const LoadProbe::Result &r, const ThumbnailCache &cache)
{
    std::printf(
        "{\"mode\": \"%s\", \"photos\": %lld, \"ms_listed\": %lld, \"ms_first_screen\": %lld, \"ms_all\": %lld, "
        "\"max_stall_ms\": %lld, \"decoded\": %lld, \"reused\": %lld, \"rss_mb\": %lld}\n",
        mode, r.photos, r.msListed, r.msFirstScreen, r.msAll, r.maxStallMs, cache.decodedCount(), cache.reusedCount(),
        LoadProbe::residentMegabytes());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s reference|open|reload DIR [N]\n", argv[0]);
        return 2;
    }
    const QString mode = args.at(1);
    const QUrl folder = QUrl::fromLocalFile(QDir(args.at(2)).absolutePath());
    if (mode == u"reference"_s) {
        ThumbnailCache none {QString()};
        ImageDirectoryLoader loader(nullptr, &none);
        QElapsedTimer clock;
        clock.start();
        loader.loadDataForFolderWithUrl(folder);
        LoadProbe::Result r;
        r.photos = loader.numberOfItems();
        r.msListed = r.msFirstScreen = r.msAll = r.maxStallMs = clock.elapsed(); // the window waits for all of it
        print("reference", r, none);
        return 0;
    }
    ThumbnailCache &cache = ThumbnailCache::standard();
    ImageDirectoryLoader loader(nullptr, &cache);
    LoadProbe probe(&loader);
    print("open", probe.run(folder), cache);
    if (mode == u"reload"_s) {
        const int renames = args.value(3, u"100"_s).toInt();
        int done = 0;
        for (const ImageFilePtr &file : loader.imageFiles()) {
            if (done == renames)
                break;
            const QString path = file->fileurl().toLocalFile();
            const QString renamed = QFileInfo(path).absolutePath() + u"/777_"_s + file->fileName();
            if (SafeFile::renameNoReplace(path, renamed))
                ++done;
        }
        cache.resetCounters();
        print("reload", probe.run(folder), cache);
    }
    cache.flush();
    return 0;
}
