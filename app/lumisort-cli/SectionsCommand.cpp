#include "SectionsCommand.h"

#include "CliArguments.h"
#include "InterruptedRuns.h"
#include "model/ImageDirectoryLoader.h"
#include "model/LoadProbe.h"
#include "model/ThumbnailCache.h"
#include "support/NativePath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

QString SectionsCommand::usage()
{
    return u"usage: lumisort-cli sections [--single] [--json] [--stats] [--no-cache] [--] DIR\n"
           "  --single    one section for the whole folder\n"
           "  --json      print the sections as JSON\n"
           "  --stats     add load figures (photos, decoded, reused, ms_first_screen, ms_all, rss_mb)\n"
           "  --no-cache  make every thumbnail from the image data (no thumbnail cache)"_s;
}

int SectionsCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--single"_s}, {u"--json"_s}, {u"--stats"_s}, {u"--no-cache"_s}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.operands().size() > 1)
        return io.usageError(u"unexpected argument "_s + NativePath::forDisplay(parsed.operands().at(1)), usage());
    const bool single = parsed.isSet(u"--single"_s);
    const bool json = parsed.isSet(u"--json"_s);
    const bool stats = parsed.isSet(u"--stats"_s);
    const bool noCache = parsed.isSet(u"--no-cache"_s);
    const QString folder = parsed.operands().value(0);
    if (folder.isEmpty())
        return io.usageError(u"no folder given"_s, usage());
    struct stat info = {};
    if (::stat(NativePath(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        io.err << "lumisort-cli: not a folder: " << NativePath::forDisplay(folder) << Qt::endl;
        return CliIo::cFailed;
    }
    const QString absolute = CliArguments::absolutePath(folder);
    InterruptedRuns::finish(absolute, io);

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
                names << NativePath::forDisplay(file->fileName());
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
        QJsonObject root {{u"folder"_s, NativePath::forDisplay(absolute)}, {u"sections"_s, sections}};
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
