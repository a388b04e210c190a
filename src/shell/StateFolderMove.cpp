#include "StateFolderMove.h"

#include "settings/LogPaths.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QDir>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
bool isFolder(const NativePath &path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const NativePath &path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "Lumisort.log" -> "Lumisort (moved).log", "Lumisort (moved 2).log" ...: the extension
// stays, so a moved journal is still read as one, and so does the front of the name
// that orders the journals by time.
QByteArray movedName(const QByteArray &name, int attempt)
{
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray extension = dot > 0 ? name.mid(dot) : QByteArray();
    const QByteArray mark = attempt == 1 ? QByteArray(" (moved)") : " (moved " + QByteArray::number(attempt) + ')';
    return stem + mark + extension;
}

class Mover
{
public:
    QStringList lines;
    int moved = 0;
    int failed = 0;

    void moveFile(const NativePath &from, const NativePath &toFolder)
    {
        if (const FileResult made = SafeFile::makeFolders(toFolder); !made) {
            fail(from, made);
            return;
        }
        const QByteArray name = from.fileNameBytes();
        FileResult result = SafeFile::move(from, toFolder.child(name));
        for (int attempt = 1; !result && result.errorNumber() == EEXIST && attempt < 100; ++attempt) {
            const NativePath to = toFolder.child(movedName(name, attempt));
            result = SafeFile::move(from, to);
            if (result)
                lines << u"kept "_s + from.displayString() + u" as "_s + to.displayString()
                        + u": that name was taken"_s;
        }
        if (!result) {
            fail(from, result);
            return;
        }
        ++moved;
    }

private:
    void fail(const NativePath &from, const FileResult &why)
    {
        ++failed;
        lines << u"cannot move "_s + from.displayString() + u", it stays there: "_s + why.text();
    }
};

void appendToLog(const QStringList &lines)
{
    if (!SafeFile::makeFolders(LogPaths::logFolder()))
        return;
    QByteArray text;
    for (const QString &line : lines)
        text += SystemLog::formatLine(u"StateFolderMove -> "_s + line).toUtf8() + '\n';
    const int fd = ::open(NativePath(LogPaths::logFile()).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    SafeFile::writeAll(fd, text);
    ::close(fd);
}
} // namespace

QStringList StateFolderMove::run()
{
    const NativePath former(LogPaths::formerLogFolder());
    if (!isFolder(former))
        return {};
    const NativePath state(LogPaths::stateFolder());
    const NativePath journals = former.child(PathUtils::fileName(LogPaths::journalFolder()));
    QStringList problems;

    // Only what this program wrote there: anything else in the folder is left alone, and
    // a folder holding nothing of ours is no reason to write a line at every start.
    QList<std::pair<NativePath, NativePath>> files; // from, to folder
    for (const QString &log : {LogPaths::logFile(), LogPaths::oldLogFile()}) {
        if (const NativePath from = former.child(PathUtils::fileName(log)); isRegularFile(from))
            files.append({from, state});
    }
    if (isFolder(journals)) {
        FileResult error;
        const std::optional<QList<SafeFile::Entry>> entries = SafeFile::list(journals, {false}, &error);
        if (!entries)
            problems << u"cannot list "_s + journals.displayString() + u": "_s + error.text();
        for (const SafeFile::Entry &entry : entries.value_or(QList<SafeFile::Entry>())) {
            if (entry.type == SafeFile::EntryType::Regular)
                files.append({entry.path, NativePath(LogPaths::journalFolder())});
        }
    }
    if (files.isEmpty() && problems.isEmpty())
        return {};

    Mover mover;
    mover.lines << u"moving the log and the journals from "_s + former.displayString() + u" to "_s
            + state.displayString();
    mover.lines << problems;
    for (const auto &[from, toFolder] : std::as_const(files))
        mover.moveFile(from, toFolder);
    ::rmdir(journals.c_str());

    mover.lines << QString::number(mover.moved) + u" files moved"_s
            + (mover.failed ? u", "_s + QString::number(mover.failed) + u" left where they were"_s : QString());
    // Emptied folders go, from the inside out, as far as nothing else is in them.
    for (NativePath folder = former; folder.bytes().size() > NativePath(QDir::homePath()).bytes().size();
         folder = folder.parent()) {
        if (::rmdir(folder.c_str()) != 0) {
            if (errno != ENOTEMPTY && errno != EEXIST)
                mover.lines << u"cannot remove "_s + folder.displayString() + u": "_s
                        + FileResult::describeErrno(errno);
            break;
        }
        mover.lines << u"removed the empty folder "_s + folder.displayString();
    }
    appendToLog(mover.lines);
    return mover.lines;
}
