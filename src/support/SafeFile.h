#pragma once

#include "FileResult.h"
#include "NativePath.h"

#include <QList>
#include <cstdint>
#include <functional>
#include <optional>

enum class SafeFileReplace
{
    Never,
    Atomically
};

struct SafeFileCopyOptions
{
    SafeFileReplace replace = SafeFileReplace::Never;
    // Read the written copy back from disk (page cache dropped) and compare
    // its hash with the source's. Size is always compared.
    bool verifyByReadBack = true;
    // Drop the copy from the page cache before reading it back, so the device itself
    // is read. Off, the read-back checks what the kernel holds after the sync (a
    // device write error then shows as a failed sync): half the disk traffic, for
    // bulk copies that must keep pace with the card reader.
    bool readBackFromDisk = true;
    // A batch may leave the folder syncs to its end (SafeFile::syncFolder): those of
    // same-file-system moves, of copies, and the source folder's after a move across
    // file systems removed the source (lost to a crash, that removal leaves a duplicate,
    // not a loss). A move across file systems still syncs its copy and the copy's
    // folder before the source goes.
    bool syncFolders = true;
    // Called after each chunk with the bytes copied so far; a false answer cancels.
    std::function<bool(std::int64_t done, std::int64_t total)> progress;
};

struct SafeFileCopyReport
{
    std::int64_t bytes = 0;
    std::uint64_t hash = 0; // XXH3-64 of the source's bytes; 0 when a rename moved the file and nothing was read
    bool crossedFileSystems = false;
};

enum class SafeFileEntryType
{
    Regular,
    Directory,
    Symlink,
    Other
};
struct SafeFileEntry
{
    QByteArray name; // raw bytes, exactly as on disk
    NativePath path; // folder + name
    QString displayName; // invalid UTF-8 shown with replacement characters
    SafeFileEntryType type = SafeFileEntryType::Other;
    bool isHidden() const { return name.startsWith('.'); }
};
struct SafeFileListOptions
{
    bool skipHidden = true;
    bool recursive = false; // descends into folders (never through symbolic links)
    bool followSymlinksForType = false; // report a link's target type instead of Symlink
};

// The one way this program touches photo files. Qt's convenience calls can
// overwrite a file on some file systems, report success after a failed sync
// and skip names that are not valid UTF-8; every operation here refuses to
// replace what it was not asked to replace and leaves the source untouched
// when any step fails.
class SafeFile
{
public:
    using Replace = SafeFileReplace;
    using CopyOptions = SafeFileCopyOptions;
    using CopyReport = SafeFileCopyReport;

    // rename(2) that never replaces: renameat2(RENAME_NOREPLACE), else link + unlink,
    // else (exFAT/FAT through FUSE, NFS, SMB) an exclusive create claims the name and
    // the file is renamed over that claim. EEXIST when the target exists.
    // A claim is recorded before it is made, in a hidden ".lumisort-<host>-<pid>-<random>.claim"
    // beside it, so that one left by a kill can be taken back (removeStaleClaims).
    // A batch of renames may leave the folder sync to its end (syncFolder once).
    static FileResult renameNoReplace(const NativePath &from, const NativePath &to, bool syncFolders = true);

    // Moves a file, across file systems if need be. Same file system: a rename
    // (never replacing, or replacing atomically on request). Otherwise: copy to a
    // temporary name in the target folder, sync, check size and hash, rename into
    // place, sync the folder, and only then remove the source.
    static FileResult move(const NativePath &from, const NativePath &to, const CopyOptions &options = {},
                           CopyReport *report = nullptr);

    // Copies a regular file; fails when the target exists (unless asked to replace).
    // The copy is synced, checked and keeps the source's modification time; it gets
    // ordinary permissions (0666 less the umask). A failure leaves no partial target behind.
    static FileResult copy(const NativePath &from, const NativePath &to, const CopyOptions &options = {},
                           CopyReport *report = nullptr);

    // write(2) until every byte is written (retrying after signals); false with errno set.
    static bool writeAll(int fd, const char *data, std::size_t size);
    static bool writeAll(int fd, const QByteArray &bytes)
    {
        return writeAll(fd, bytes.constData(), std::size_t(bytes.size()));
    }

    // A small file written whole: a hidden temporary beside it is written and synced, then
    // takes the name (never replacing one unless asked, and then atomically), and the
    // folder is synced. A reader never sees it half written, even after a power cut.
    static FileResult writeDurably(const NativePath &path, const QByteArray &bytes, Replace replace = Replace::Never);

    // unlink(2), with the folder synced afterwards.
    static FileResult remove(const NativePath &path);

    // Creates the folder and its missing parents (an existing folder is success).
    static FileResult makeFolders(const NativePath &path, unsigned mode = 0777);

    // Syncs a folder so that renames inside it survive a crash.
    static FileResult syncFolder(const NativePath &folder);

    // XXH3-64 of a file's bytes, read with the page cache dropped first when asked.
    static std::optional<std::uint64_t> hashFile(const NativePath &path, bool fromDisk = false,
                                                 FileResult *error = nullptr);

    // A temporary copy (see move and copy) left by a process of this machine that was
    // killed before it finished: removing it loses nothing, as the original is removed
    // only once the copy has taken its real name.
    static bool isStaleTemporary(const QByteArray &name);

    // Takes back, in this folder only, the empty claims of renames (see renameNoReplace)
    // whose process of this machine was killed before it renamed over them, and removes
    // their records. A claim goes only while it is still the empty file its record made;
    // any other file keeps its name, an empty one of someone else's too. Returns the freed paths.
    static QList<NativePath> removeStaleClaims(const NativePath &folder);

    // What processes of this machine that were killed left in the folder: their hidden
    // temporary copies and their empty claims (see above). Returns what it removed.
    static QList<NativePath> removeKilledLeftovers(const NativePath &folder);

    // Whether the file at path may be a claim another rename (of this or another
    // machine) is about to rename over or take back: a live record in its folder names it.
    static bool mayBeClaimInProgress(const NativePath &path);

    using EntryType = SafeFileEntryType;
    using Entry = SafeFileEntry;
    using ListOptions = SafeFileListOptions;
    // Lists a folder on raw byte names: nothing is skipped for its name.
    // Errors met below the top folder go to errors (when given) and the listing goes on.
    // Unsorted: each folder's entries come in the order the file system gives them,
    // followed by the contents of its subfolders; callers sort as they need.
    static std::optional<QList<Entry>> list(const NativePath &folder, const ListOptions &options = {},
                                            FileResult *error = nullptr, QList<FileResult> *errors = nullptr);
};
