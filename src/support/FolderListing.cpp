#include "FolderListing.h"

#include <QSet>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

SafeFileEntryType typeOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return SafeFileEntryType::Regular;
    if (S_ISDIR(mode))
        return SafeFileEntryType::Directory;
    if (S_ISLNK(mode))
        return SafeFileEntryType::Symlink;
    return SafeFileEntryType::Other;
}

SafeFileEntryType typeOfDirent(unsigned char type)
{
    switch (type) {
    case DT_REG:
        return SafeFileEntryType::Regular;
    case DT_DIR:
        return SafeFileEntryType::Directory;
    case DT_LNK:
        return SafeFileEntryType::Symlink;
    default:
        return SafeFileEntryType::Other;
    }
}

using Visited = QSet<std::pair<dev_t, ino_t>>;

FileResult listFolder(const NativePath &folder, const SafeFileListOptions &options, bool top, Visited &visited,
                      QList<SafeFileEntry> &entries, QList<FileResult> *errors)
{
    // Below the top a folder may have been swapped for a link since it was listed.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return FileResult::failure(u"open folder"_s, folder, errno);
    struct CloseDir
    {
        void operator()(DIR *d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, CloseDir> dir(::fdopendir(fd));
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return FileResult::failure(u"open folder"_s, folder, error);
    }
    struct stat folderInfo = {};
    if (::fstat(fd, &folderInfo) == 0)
        visited.insert({folderInfo.st_dev, folderInfo.st_ino});

    const auto noteError = [errors](const FileResult &r) {
        if (errors)
            errors->append(r);
    };
    QList<NativePath> subfolders;
    for (;;) {
        errno = 0;
        const dirent *d = ::readdir(dir.get());
        if (!d) {
            if (errno != 0)
                noteError(FileResult::failure(u"read folder"_s, folder, errno));
            break;
        }
        const QByteArray name(d->d_name);
        if (name == "." || name == "..")
            continue;
        if (options.skipHidden && name.startsWith('.'))
            continue;
        SafeFileEntry entry;
        entry.name = name;
        entry.path = folder.child(name);
        entry.displayName = QString::fromUtf8(name);
        entry.type = typeOfDirent(d->d_type);
        if (d->d_type == DT_UNKNOWN) {
            struct stat info = {};
            if (::lstat(entry.path.c_str(), &info) != 0) {
                noteError(FileResult::failure(u"stat"_s, entry.path, errno));
                continue;
            }
            entry.type = typeOfMode(info.st_mode);
        }
        if (options.recursive && entry.type == SafeFileEntryType::Directory)
            subfolders.append(entry.path);
        if (options.followSymlinksForType && entry.type == SafeFileEntryType::Symlink) {
            struct stat target = {};
            if (::stat(entry.path.c_str(), &target) == 0)
                entry.type = typeOfMode(target.st_mode);
        }
        entries.append(std::move(entry));
    }
    dir.reset();

    for (const NativePath &sub : std::as_const(subfolders)) {
        struct stat info = {};
        // A bind mount can make a folder its own descendant.
        if (::stat(sub.c_str(), &info) == 0 && visited.contains({info.st_dev, info.st_ino}))
            continue;
        if (FileResult r = listFolder(sub, options, false, visited, entries, errors); !r)
            noteError(r);
    }
    return {};
}

} // namespace

FileResult FolderListing::list(const NativePath &folder, const SafeFileListOptions &options,
                               QList<SafeFileEntry> &entries, QList<FileResult> *errors)
{
    Visited visited;
    return listFolder(folder, options, true, visited, entries, errors);
}
