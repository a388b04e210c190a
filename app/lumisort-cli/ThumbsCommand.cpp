#include "ThumbsCommand.h"

#include "model/ThumbnailMaker.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

QString ThumbsCommand::usage()
{
    return u"usage: lumisort-cli thumbs [--out DIR] PATH...\n"
           "  prints PATH, the thumbnail's source and its size (WxH, or - when none), tab-separated;\n"
           "  --out DIR   also writes each thumbnail as DIR/<base name>.png"_s;
}

int ThumbsCommand::run(const QStringList &args, CliIo &io)
{
    QString outDir;
    QStringList paths;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(u"--"_s)) {
            paths.append(arg);
        } else if (arg == u"--"_s) {
            optionsEnded = true;
        } else if (arg == u"--out"_s && i + 1 < args.size()) {
            outDir = args.at(++i);
        } else if (arg.startsWith(u"--out="_s) && arg.size() > 6) {
            outDir = arg.mid(6);
        } else {
            return io.usageError(u"bad option for thumbs: "_s + arg, usage());
        }
    }
    if (paths.isEmpty())
        return io.usageError(u"thumbs needs at least one PATH"_s, usage());
    if (!outDir.isEmpty() && !QDir().mkpath(outDir)) {
        io.err << "lumisort-cli: cannot create " << outDir << Qt::endl;
        return CliIo::cFailed;
    }

    int status = CliIo::cOk;
    for (const QString &path : std::as_const(paths)) {
        const NativePath nativePath(path);
        struct stat info = {};
        if (::stat(nativePath.c_str(), &info) != 0) {
            io.err << "lumisort-cli: no such file: " << path << Qt::endl;
            status = CliIo::cFailed;
            continue;
        }
        const ThumbnailMaker::Result result = ThumbnailMaker::make(nativePath);
        const QString size = result.image.isNull()
            ? u"-"_s
            : QString::number(result.image.width()) + u'x' + QString::number(result.image.height());
        io.out << path << '\t' << ThumbnailMaker::sourceName(result.source) << '\t' << size << Qt::endl;
        if (outDir.isEmpty() || result.image.isNull())
            continue;
        const QFileInfo fileInfo(path);
        const QString baseName =
            fileInfo.completeBaseName().isEmpty() ? fileInfo.fileName() : fileInfo.completeBaseName();
        const QString target = QDir(outDir).filePath(baseName + u".png"_s);
        if (!result.image.save(target, "png")) {
            io.err << "lumisort-cli: cannot write " << target << Qt::endl;
            status = CliIo::cFailed;
        }
    }
    return status;
}
