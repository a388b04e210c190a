#include "KeptStaging.h"

#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QHash>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype cChunkSize = qsizetype(1) << 20;

class Descriptor
{
public:
    explicit Descriptor(const NativePath &path)
        // Never follows a link, and never waits on a pipe or a device that happens to carry the name.
        : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY))
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd = -1;
};

qsizetype readChunk(int fd, char *buffer)
{
    qsizetype done = 0;
    while (done < cChunkSize) {
        const ssize_t n = ::read(fd, buffer + done, std::size_t(cChunkSize - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

// True only when both are regular files with the same bytes, or one file under two
// names (a rename cut short by a kill): either way the other name keeps the photo.
// One name reached by two paths is no second name.
bool sameBytes(const NativePath &a, const NativePath &b)
{
    const Descriptor first(a);
    const Descriptor second(b);
    struct stat firstInfo = {};
    struct stat secondInfo = {};
    if (first.get() < 0 || second.get() < 0 || ::fstat(first.get(), &firstInfo) != 0
        || ::fstat(second.get(), &secondInfo) != 0 || !S_ISREG(firstInfo.st_mode) || !S_ISREG(secondInfo.st_mode))
        return false;
    if (firstInfo.st_dev == secondInfo.st_dev && firstInfo.st_ino == secondInfo.st_ino)
        return firstInfo.st_nlink > 1;
    if (firstInfo.st_size != secondInfo.st_size)
        return false;
    QByteArray firstBuffer(cChunkSize, Qt::Uninitialized);
    QByteArray secondBuffer(cChunkSize, Qt::Uninitialized);
    for (;;) {
        const qsizetype n = readChunk(first.get(), firstBuffer.data());
        const qsizetype m = readChunk(second.get(), secondBuffer.data());
        if (n < 0 || n != m || std::memcmp(firstBuffer.constData(), secondBuffer.constData(), std::size_t(n)) != 0)
            return false;
        if (n == 0)
            return true;
    }
}

std::optional<qint64> sizeOf(const NativePath &path)
{
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return qint64(info.st_size);
}

// Why the folder must stay, or nothing when each of its files is elsewhere; files
// gets every file to delete, folders every folder inside it.
QString unprovenIn(const NativePath &folder, const QHash<qint64, QList<NativePath>> &elsewhere,
                   QList<NativePath> &files, QList<NativePath> &folders)
{
    SafeFileListOptions everything;
    everything.skipHidden = false;
    everything.recursive = true;
    FileResult error;
    QList<FileResult> errors;
    const std::optional<QList<SafeFileEntry>> entries = SafeFile::list(folder, everything, &error, &errors);
    if (!entries)
        return u"it cannot be read: "_s + error.text();
    if (!errors.isEmpty())
        return u"part of it cannot be read: "_s + errors.constFirst().text();
    for (const SafeFileEntry &entry : *entries) {
        if (entry.type == SafeFileEntryType::Directory) {
            folders.append(entry.path);
            continue;
        }
        if (entry.type != SafeFileEntryType::Regular)
            return entry.displayName + u" is not a plain file"_s;
        // A half-made copy of a killed run: its original was never removed.
        if (SafeFile::isStaleTemporary(entry.name)) {
            files.append(entry.path);
            continue;
        }
        const std::optional<qint64> size = sizeOf(entry.path);
        const QList<NativePath> candidates = size ? elsewhere.value(*size) : QList<NativePath>();
        if (std::none_of(candidates.cbegin(), candidates.cend(),
                         [&entry](const NativePath &other) { return sameBytes(entry.path, other); }))
            return entry.displayName + u" is neither on the card nor in the working folder"_s;
        files.append(entry.path);
    }
    return {};
}

} // namespace

QByteArray KeptStaging::keptPrefix(const NativePath &staging)
{
    QByteArray name = staging.fileNameBytes();
    while (name.startsWith('.'))
        name.remove(0, 1);
    return name + "-kept-";
}

QStringList KeptStaging::foldersBeside(const NativePath &staging)
{
    const QByteArray prefix = keptPrefix(staging);
    QStringList folders;
    for (const SafeFileEntry &entry : SafeFile::list(staging.parent()).value_or(QList<SafeFileEntry>())) {
        struct stat info = {};
        // Only this user's own: anybody could make a folder of that name beside a shared working folder.
        if (entry.type == SafeFileEntryType::Directory && entry.name.startsWith(prefix)
            && ::lstat(entry.path.c_str(), &info) == 0 && info.st_uid == ::getuid())
            folders.append(entry.path.toString());
    }
    folders.sort();
    return folders;
}

KeptStaging::Sweep KeptStaging::clear(const QStringList &folders, const QList<NativePath> &elsewhere)
{
    Sweep sweep;
    if (folders.isEmpty())
        return sweep;
    // A file never proves itself, nor a copy in another kept folder that goes too.
    const auto inKeptFolder = [&folders](const NativePath &path) {
        return std::any_of(folders.cbegin(), folders.cend(), [&path](const QString &folder) {
            const QByteArray inside = NativePath(folder).bytes() + '/';
            return path.bytes().startsWith(inside);
        });
    };
    QHash<qint64, QList<NativePath>> bySize;
    for (const NativePath &path : elsewhere) {
        if (inKeptFolder(path))
            continue;
        if (const std::optional<qint64> size = sizeOf(path))
            bySize[*size].append(path);
    }
    for (const QString &path : folders) {
        const NativePath folder(path);
        QList<NativePath> files;
        QList<NativePath> inside;
        QString reason = unprovenIn(folder, bySize, files, inside);
        if (reason.isEmpty()) {
            for (const NativePath &file : std::as_const(files)) {
                if (const FileResult removed = SafeFile::remove(file); !removed) {
                    reason = u"it could not be removed: "_s + removed.text();
                    break;
                }
            }
        }
        if (reason.isEmpty()) {
            // The deepest first, each emptied before its parent.
            std::sort(inside.begin(), inside.end(),
                      [](const NativePath &a, const NativePath &b) { return a.bytes().size() > b.bytes().size(); });
            inside.append(folder);
            for (const NativePath &sub : std::as_const(inside)) {
                if (::rmdir(sub.c_str()) != 0) {
                    reason =
                        u"it could not be removed: "_s + FileResult::failure(u"remove folder"_s, sub, errno).text();
                    break;
                }
            }
        }
        if (!reason.isEmpty()) {
            logLine(u"KeptStaging.... "_s + path + u" stays: "_s + reason);
            sweep.kept.append({path, reason});
            continue;
        }
        if (FileResult r = SafeFile::syncFolder(folder.parent()); !r)
            logLine(u"KeptStaging.... "_s + r.text());
        logLine(u"KeptStaging.... removed "_s + path
                + u": each of its %1 files is on the card or in the working folder"_s.arg(files.size()));
        sweep.removed.append(path);
    }
    return sweep;
}
