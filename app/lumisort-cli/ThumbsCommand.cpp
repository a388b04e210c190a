#include "ThumbsCommand.h"

#include "CliArguments.h"
#include "model/ThumbnailMaker.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"

#include <QBuffer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
// The thumbnail's file is written on the path's bytes: QImage::save would lose a
// name that is not UTF-8. A thumbnail of an earlier run is replaced.
bool writePng(const QImage &image, const NativePath &target)
{
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "png"))
        return false;
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = SafeFile::writeAll(fd, png);
    return ::close(fd) == 0 && written;
}
} // namespace

QString ThumbsCommand::usage()
{
    return u"usage: lumisort-cli thumbs [--out DIR] [--] PATH...\n"
           "  prints PATH, the thumbnail's source and its size (WxH, or - when none), tab-separated;\n"
           "  --out DIR   also writes each thumbnail as DIR/<base name>.png"_s;
}

int ThumbsCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--out"_s, true}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.isSet(u"--out"_s) && parsed.value(u"--out"_s).isEmpty())
        return io.usageError(u"--out needs a folder"_s, usage());
    const QString outDir = parsed.value(u"--out"_s);
    const QStringList paths = parsed.operands();
    if (paths.isEmpty())
        return io.usageError(u"thumbs needs at least one PATH"_s, usage());
    if (!outDir.isEmpty()) {
        if (const FileResult made = SafeFile::makeFolders(NativePath(outDir)); !made) {
            io.err << "lumisort-cli: cannot create " << NativePath::forDisplay(outDir) << ": " << made.text()
                   << Qt::endl;
            return CliIo::cFailed;
        }
    }

    int status = CliIo::cOk;
    for (const QString &path : std::as_const(paths)) {
        const NativePath nativePath(path);
        struct stat info = {};
        if (::stat(nativePath.c_str(), &info) != 0) {
            io.err << "lumisort-cli: no such file: " << NativePath::forDisplay(path) << Qt::endl;
            status = CliIo::cFailed;
            continue;
        }
        const ThumbnailMaker::Result result = ThumbnailMaker::make(nativePath);
        const QString size = result.image.isNull()
            ? u"-"_s
            : QString::number(result.image.width()) + u'x' + QString::number(result.image.height());
        io.out << NativePath::forDisplay(path) << '\t' << ThumbnailMaker::sourceName(result.source) << '\t' << size
               << Qt::endl;
        if (outDir.isEmpty() || result.image.isNull())
            continue;
        const QString baseName =
            PathUtils::baseName(path).isEmpty() ? PathUtils::fileName(path) : PathUtils::baseName(path);
        const NativePath target = NativePath(outDir).child(baseName + u".png"_s);
        if (!writePng(result.image, target)) {
            io.err << "lumisort-cli: cannot write " << target.displayString() << Qt::endl;
            status = CliIo::cFailed;
        }
    }
    return status;
}
