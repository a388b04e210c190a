#include "FreedesktopTrash.h"

#include "NearestExistingFolder.h"
#include "SafeFile.h"

#include <QList>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr QByteArrayView kInfoSuffix = ".trashinfo";

struct Location
{
    NativePath file; // absolute, its folder resolved, the name itself untouched
    dev_t device = 0;
};

struct Candidate
{
    NativePath trash;
    NativePath topdir; // empty for the home trash
    bool isHome = false;
};

QByteArray homeFolder()
{
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        return home;
    passwd entry {};
    passwd *found = nullptr;
    QByteArray buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), std::size_t(buffer.size()), &found) == 0 && found
        && found->pw_dir)
        return QByteArray(found->pw_dir);
    return {};
}

FileResult locate(const NativePath &path, Location &location)
{
    const QByteArray name = path.fileNameBytes();
    if (name.isEmpty() || name == "." || name == ".." || name == "/")
        return FileResult::failure(u"move to trash"_s, path, EINVAL);
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0)
        return FileResult::failure(u"move to trash"_s, path, errno);
    // The folder is resolved so that the top directory is found on the real path;
    // the name is not, so a link is trashed as the link.
    std::unique_ptr<char, decltype(&std::free)> folder(::realpath(path.parent().c_str(), nullptr), &std::free);
    if (!folder)
        return FileResult::failure(u"move to trash"_s, path.parent(), errno);
    location.file = NativePath::fromBytes(QByteArray(folder.get())).child(name);
    location.device = info.st_dev;
    return {};
}

// The mount, not only the device: a bind mount shares its device with the
// place it comes from, yet a rename out of it fails with EXDEV.
bool mountOf(const NativePath &path, dev_t &device, std::uint64_t &mountId, bool &mountKnown)
{
    struct statx info = {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_MNT_ID, &info) != 0)
        return false;
    device = makedev(info.stx_dev_major, info.stx_dev_minor);
    mountKnown = info.stx_mask & STATX_MNT_ID;
    mountId = info.stx_mnt_id;
    return true;
}

NativePath topDirectory(const NativePath &file, dev_t device)
{
    NativePath top = file.parent();
    dev_t ignored = 0;
    std::uint64_t mountId = 0;
    bool mountKnown = false;
    mountOf(top, ignored, mountId, mountKnown);
    while (top.bytes() != "/") {
        const NativePath parent = top.parent();
        dev_t parentDevice = 0;
        std::uint64_t parentMount = 0;
        bool parentKnown = false;
        if (!mountOf(parent, parentDevice, parentMount, parentKnown) || parentDevice != device
            || (mountKnown && parentKnown && parentMount != mountId))
            break;
        top = parent;
    }
    return top;
}

QList<Candidate> candidatesFor(const Location &location)
{
    QList<Candidate> candidates;
    const NativePath home = FreedesktopTrash::homeTrash();
    // The trash folder need not exist yet: it lives where its nearest existing ancestor does.
    if (NearestExistingFolder::deviceOf(home) == location.device)
        candidates.append(Candidate {home, {}, true});

    // After the home trash only for a file it cannot take (a bind mount of the home's file system).
    const NativePath top = topDirectory(location.file, location.device);
    const QByteArray uid = QByteArray::number(::getuid());
    // A shared .Trash is only trusted when nobody can have swapped it for a link or
    // taken it over: a real folder with the sticky bit, as the administrator made it.
    const NativePath shared = top.child(QByteArrayLiteral(".Trash"));
    struct stat info = {};
    if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX))
        candidates.append(Candidate {shared.child(uid), top, false});
    candidates.append(Candidate {top.child(QByteArray(".Trash-" + uid)), top, false});
    return candidates;
}

FileResult ensurePrivateFolder(const NativePath &folder, bool mayBeLink)
{
    if (::mkdir(folder.c_str(), 0700) == 0)
        return SafeFile::syncFolder(folder.parent());
    const int error = errno;
    struct stat info = {};
    const int found = mayBeLink ? ::stat(folder.c_str(), &info) : ::lstat(folder.c_str(), &info);
    if (error != EEXIST || found != 0)
        return FileResult::failure(u"create trash folder"_s, folder, error);
    if (!S_ISDIR(info.st_mode))
        return FileResult::failure(u"create trash folder"_s, folder, u"exists and is not a folder"_s, ENOTDIR);
    return {};
}

FileResult prepare(const Candidate &candidate)
{
    // The user may keep the home trash elsewhere through a link; a volume's trash must be a real folder.
    if (candidate.isHome) {
        if (FileResult r = SafeFile::makeFolders(candidate.trash, 0700); !r)
            return r;
    } else if (FileResult r = ensurePrivateFolder(candidate.trash, false); !r) {
        return r;
    }
    if (FileResult r = ensurePrivateFolder(candidate.trash.child(QByteArrayLiteral("files")), false); !r)
        return r;
    return ensurePrivateFolder(candidate.trash.child(QByteArrayLiteral("info")), false);
}

// Names in files/ are free to choose, but "<name>.trashinfo" must still fit in 255 bytes.
QByteArray trashBaseName(QByteArray name)
{
    const qsizetype room = NAME_MAX - kInfoSuffix.size() - 6; // ".99999"
    if (name.size() <= room)
        return name;
    name.truncate(room);
    while (!name.isEmpty() && (uchar(name.back()) & 0xC0) == 0x80)
        name.chop(1);
    if (!name.isEmpty() && uchar(name.back()) >= 0xC0)
        name.chop(1);
    return name;
}

FileResult writeInfo(int fd, const QByteArray &content, const NativePath &info)
{
    const char *data = content.constData();
    std::size_t left = std::size_t(content.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FileResult::failure(u"write"_s, info, n < 0 ? errno : EIO);
        data += n;
        left -= std::size_t(n);
    }
    if (::fsync(fd) != 0)
        return FileResult::failure(u"sync"_s, info, errno);
    return {};
}

FreedesktopTrash::Outcome moveInto(const Candidate &candidate, const Location &location, const QDateTime &date)
{
    FreedesktopTrash::Outcome outcome;
    QByteArray pathInInfo = location.file.bytes();
    if (!candidate.isHome)
        pathInInfo = pathInInfo.mid(candidate.topdir.bytes() == "/" ? 1 : candidate.topdir.bytes().size() + 1);
    const QByteArray content = "[Trash Info]\nPath=" + pathInInfo.toPercentEncoding("/")
        + "\nDeletionDate=" + date.toLocalTime().toString(u"yyyy-MM-dd'T'HH:mm:ss"_s).toLatin1() + '\n';
    const NativePath filesFolder = candidate.trash.child(QByteArrayLiteral("files"));
    const NativePath infoFolder = candidate.trash.child(QByteArrayLiteral("info"));
    const QByteArray base = trashBaseName(location.file.fileNameBytes());

    for (int n = 1; n < 100000; ++n) {
        const QByteArray name = n == 1 ? base : base + '.' + QByteArray::number(n);
        const NativePath info = infoFolder.child(QByteArray(name + kInfoSuffix));
        const NativePath target = filesFolder.child(name);
        // The info file is the claim on the name: O_EXCL makes it ours alone.
        const int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            outcome.result = FileResult::failure(u"create"_s, info, errno);
            return outcome;
        }
        const auto giveUp = [&](const FileResult &r) {
            ::unlink(info.c_str());
            outcome.result = r;
            return outcome;
        };
        struct stat existing = {};
        if (::lstat(target.c_str(), &existing) == 0) {
            ::close(fd);
            ::unlink(info.c_str());
            continue;
        }
        FileResult written = writeInfo(fd, content, info);
        if (::close(fd) != 0 && written && errno != EINTR)
            written = FileResult::failure(u"close"_s, info, errno);
        if (written)
            written = SafeFile::syncFolder(infoFolder);
        if (!written)
            return giveUp(written);

        const FileResult moved = SafeFile::renameNoReplace(location.file, target);
        if (!moved) {
            const bool nameTaken = moved.errorNumber() == EEXIST;
            giveUp(moved);
            if (nameTaken)
                continue;
            return outcome;
        }
        struct stat arrived = {};
        struct stat left = {};
        if (::lstat(target.c_str(), &arrived) != 0)
            return giveUp(FileResult::failure(u"move to trash"_s, location.file,
                                              u"the file did not arrive in the trash at "_s + target.displayString(),
                                              EIO));
        if (::lstat(location.file.c_str(), &left) == 0 || errno != ENOENT) {
            outcome.result =
                FileResult::failure(u"move to trash"_s, location.file, u"the file is still in its place"_s, EEXIST);
            return outcome;
        }
        outcome.trashedFile = target;
        outcome.infoFile = info;
        return outcome;
    }
    outcome.result = FileResult::failure(u"move to trash"_s, location.file, u"no free name in the trash"_s, EEXIST);
    return outcome;
}

} // namespace

FreedesktopTrash::Outcome FreedesktopTrash::moveToTrash(const NativePath &path, const QDateTime &deletionDate)
{
    Outcome outcome;
    Location location;
    if (FileResult r = locate(path, location); !r) {
        outcome.result = r;
        return outcome;
    }
    FileResult lastFailure;
    for (const Candidate &candidate : candidatesFor(location)) {
        if (FileResult r = prepare(candidate); !r) {
            lastFailure = r;
            // A broken home trash is the user's to fix; silently using the volume's would hide it.
            if (candidate.isHome)
                break;
            continue;
        }
        Outcome moved = moveInto(candidate, location, deletionDate);
        if (moved.result.ok() || moved.result.errorNumber() != EXDEV)
            return moved;
        lastFailure = moved.result;
    }
    outcome.result = lastFailure;
    return outcome;
}

FileResult FreedesktopTrash::restore(const NativePath &trashedFile, const NativePath &to)
{
    // Only a file of a trash's files/ folder: anything else is no trashed file.
    const NativePath files = trashedFile.parent();
    if (files.fileNameBytes() != "files" || trashedFile.fileNameBytes().isEmpty())
        return FileResult::failure(u"restore from trash"_s, trashedFile, u"not a file in a trash"_s, EINVAL);
    if (FileResult moved = SafeFile::move(trashedFile, to); !moved)
        return moved;
    const NativePath infoFolder = files.parent().child(QByteArrayLiteral("info"));
    const NativePath info = infoFolder.child(QByteArray(trashedFile.fileNameBytes() + kInfoSuffix));
    // The file is back either way; an info left over only keeps its name in the trash taken.
    if (::unlink(info.c_str()) == 0)
        SafeFile::syncFolder(infoFolder);
    return {};
}

NativePath FreedesktopTrash::trashFolderFor(const NativePath &path)
{
    Location location;
    if (!locate(path, location))
        return {};
    return candidatesFor(location).constFirst().trash;
}

NativePath FreedesktopTrash::homeTrash()
{
    // Read on every call: the user's session (and the tests) may change it.
    QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (!dataHome.startsWith('/'))
        dataHome = homeFolder() + "/.local/share";
    return NativePath::fromBytes(dataHome).child(QByteArrayLiteral("Trash"));
}

namespace {
// Links resolved as far as the path exists; the part still to be made is kept as written.
QByteArray resolvedAsFarAsItExists(const QByteArray &path)
{
    QByteArray existing = path;
    QByteArray missing;
    for (;;) {
        if (char *real = ::realpath(existing.constData(), nullptr)) {
            QByteArray resolved(real);
            std::free(real);
            if (missing.isEmpty())
                return resolved;
            return (resolved == "/" ? QByteArray() : resolved) + '/' + missing;
        }
        const qsizetype slash = existing.lastIndexOf('/');
        if (slash < 0 || existing == "/")
            return path;
        const QByteArray part = existing.mid(slash + 1);
        if (!part.isEmpty())
            missing = missing.isEmpty() ? part : part + '/' + missing;
        existing = slash == 0 ? QByteArray("/") : existing.left(slash);
    }
}

bool isVolumeTrashName(const QByteArray &name)
{
    if (name == ".Trash")
        return true;
    if (!name.startsWith(".Trash-") || name.size() == 7)
        return false;
    return std::all_of(name.cbegin() + 7, name.cend(), [](char c) { return c >= '0' && c <= '9'; });
}
} // namespace

std::optional<NativePath> FreedesktopTrash::trashHolding(const NativePath &path)
{
    const QByteArray bytes = path.bytes();
    if (!bytes.startsWith('/'))
        return std::nullopt;
    const QByteArray resolved = resolvedAsFarAsItExists(bytes);
    const QList<QByteArray> homeTrashes {resolvedAsFarAsItExists(homeTrash().bytes()),
                                         resolvedAsFarAsItExists(homeFolder() + "/.local/share/Trash")};
    for (const QByteArray &trash : homeTrashes) {
        if (resolved == trash || resolved.startsWith(QByteArray(trash + '/')))
            return NativePath::fromBytes(trash);
    }
    qsizetype from = 1;
    while (from < resolved.size()) {
        qsizetype end = resolved.indexOf('/', from);
        if (end < 0)
            end = resolved.size();
        if (isVolumeTrashName(resolved.mid(from, end - from)))
            return NativePath::fromBytes(resolved.left(end));
        from = end + 1;
    }
    return std::nullopt;
}
