#include "SectionsCommand.h"

#include "model/ImageDirectoryLoader.h"
#include "model/LoadProbe.h"
#include "model/ThumbnailCache.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

QString SectionsCommand::usage()
{
    return u"usage: lumisort-cli sections [--single] [--json] [--stats] [--no-cache] DIR\n"
           "  --stats     add load figures (photos, decoded, reused, ms_first_screen, ms_all, rss_mb)\n"
           "  --no-cache  make every thumbnail from the image data (no thumbnail cache)"_s;
}

int SectionsCommand::run(const QStringList &args, CliIo &io)
{
    bool single = false;
    bool json = false;
    bool stats = false;
    bool noCache = false;
    QString folder;
    for (const QString &arg : args) {
        if (arg == u"--single"_s)
            single = true;
        else if (arg == u"--json"_s)
            json = true;
        else if (arg == u"--stats"_s)
            stats = true;
        else if (arg == u"--no-cache"_s)
            noCache = true;
        else if (arg.startsWith(u"--"_s) || !folder.isEmpty())
            return io.usageError(u"unexpected argument "_s + arg, usage());
        else
            folder = arg;
    }
    if (folder.isEmpty())
        return io.usageError(u"no folder given"_s, usage());
    if (!QFileInfo(folder).isDir()) {
        io.err << "lumisort-cli: not a folder: " << folder << Qt::endl;
        return CliIo::cFailed;
    }
    const QString absolute = QFileInfo(folder).absoluteFilePath();

    // The same loader and cache as the browser, loading the same progressive way.
    std::unique_ptr<ThumbnailCache> privateCache;
    if (noCache)
        privateCache = std::make_unique<ThumbnailCache>(QString());
    ThumbnailCache &cache = noCache ? *privateCache : ThumbnailCache::standard();
    cache.resetCounters();
    ImageDirectoryLoader loader(nullptr, &cache);
    loader.setSingleSectionMode(single);
    const LoadProbe::Result probe = LoadProbe(&loader).run(QUrl::fromLocalFile(absolute));
    cache.flush();

    QJsonArray sections;
    for (qsizetype s = 0; s < loader.numberOfSections(); ++s) {
        const qsizetype count = loader.numberOfItemsInSection(s);
        const std::optional<QString> barcode = loader.barcodeidForSection(s);
        QStringList names;
        for (qsizetype i = 0; i < count; ++i) {
            if (const ImageFilePtr file = loader.imageFileForIndexPath({s, i}))
                names << file->fileName();
        }
        if (json) {
            sections.append(QJsonObject {{u"section"_s, s},
                                         {u"barcodeid"_s, barcode ? QJsonValue(*barcode) : QJsonValue()},
                                         {u"count"_s, count},
                                         {u"photos"_s, QJsonArray::fromStringList(names)}});
        } else {
            io.out << s << '\t' << (barcode ? *barcode : u"(none)"_s) << '\t' << count << '\t'
                   << (names.isEmpty() ? u"-"_s : names.first()) << '\t' << (names.isEmpty() ? u"-"_s : names.last())
                   << Qt::endl;
        }
    }
    if (json) {
        QJsonObject root {{u"folder"_s, absolute}, {u"sections"_s, sections}};
        if (stats) {
            root.insert(u"stats"_s,
                        QJsonObject {{u"photos"_s, probe.photos},
                                     {u"decoded"_s, cache.decodedCount()},
                                     {u"reused"_s, cache.reusedCount()},
                                     {u"ms_first_screen"_s, probe.msFirstScreen},
                                     {u"ms_all"_s, probe.msAll},
                                     {u"rss_mb"_s, LoadProbe::residentMegabytes()},
                                     {u"max_stall_ms"_s, probe.maxStallMs}});
        }
        io.out << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
        io.out.flush();
    }
    if (stats && !json) {
        io.out << "photos " << probe.photos << " decoded " << cache.decodedCount() << " reused " << cache.reusedCount()
               << " ms_first_screen " << probe.msFirstScreen << " ms_all " << probe.msAll << " rss_mb "
               << LoadProbe::residentMegabytes() << Qt::endl;
    }
    return CliIo::cOk;
}
