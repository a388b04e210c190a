#include "ImageTypes.h"

#include "support/NativePath.h"

#include <QHash>
#include <QMimeDatabase>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool isImageType(const QMimeType &type)
{
    if (type.name().startsWith(u"image/"_s))
        return true;
    const QStringList ancestors = type.allAncestors();
    for (const QString &ancestor : ancestors) {
        if (ancestor.startsWith(u"image/"_s))
            return true;
    }
    return false;
}

// Files cameras and editors write beside photos. Some hold a small JPEG (a
// video's .THM), so their content looks like a photo; they still are none.
const QSet<QString> &sidecarSuffixes()
{
    static const QSet<QString> suffixes {u"thm"_s, u"xmp"_s, u"xml"_s, u"pp3"_s, u"dop"_s, u"on1"_s,
                                         u"lrv"_s, u"aae"_s, u"ctg"_s, u"bdm"_s, u"cpi"_s, u"mpl"_s};
    return suffixes;
}

} // namespace

bool ImageTypes::isImageFile(const QString &path)
{
    static const QMimeDatabase database; // thread-safe for lookups
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    // A name with an extension is judged by it alone: known photo types pass,
    // sidecars and unknown extensions do not. Only a name without one is sniffed.
    if (dot > 0 && dot < name.size() - 1) {
        if (sidecarSuffixes().contains(name.mid(dot + 1).toLower()))
            return false;
        // The answer depends on the extensions alone, and asking the database for each of
        // thousands of photos cost more than the rest of listing a folder.
        const QString suffixes = name.mid(name.indexOf(u'.', 1));
        static QMutex lock;
        static QHash<QString, bool> known;
        {
            QMutexLocker locker(&lock);
            const auto it = known.constFind(suffixes);
            if (it != known.cend())
                return *it;
        }
        const bool image = isImageType(database.mimeTypeForFile(name, QMimeDatabase::MatchExtension));
        QMutexLocker locker(&lock);
        known.insert(suffixes, image);
        return image;
    }
    // Read on raw bytes: a name that is no valid UTF-8 must still be opened.
    QByteArray head(4096, Qt::Uninitialized);
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const ssize_t n = ::read(fd, head.data(), std::size_t(head.size()));
    ::close(fd);
    if (n <= 0)
        return false;
    head.truncate(n);
    return isImageType(database.mimeTypeForData(head));
}
