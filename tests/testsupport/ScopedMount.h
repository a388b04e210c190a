#pragma once

#include <QString>

// A real mount for fault tests (a full disk, another file system, a read-only
// folder). Mounting needs privileges: when it is refused, ok() is false and
// reason() says why. A test then skips with that reason, except under CI
// (CI=true), which runs as root: there a refused mount is a fault of the machine
// and fails the test, so a green run never hides fault tests that did not run.
class ScopedMount
{
public:
    // tmpfs of the given size at an existing folder.
    static ScopedMount tmpfs(const QString &folder, const QString &size = QStringLiteral("1m"));
    // The source folder mounted a second time at the folder.
    static ScopedMount bind(const QString &source, const QString &folder);
    // The folder bound onto itself, read-only.
    static ScopedMount readOnlyBind(const QString &folder);
    // An ext4 image file (made with mkfs.ext4 when missing) loop-mounted at the folder.
    static ScopedMount loopExt4(const QString &image, const QString &folder, int sizeMb = 8);
    // A camera card's file system through FUSE, as a studio meets it on a card reader:
    // exFAT (exfat-fuse over a loop device) or FAT (fusefat on the image). Neither
    // offers RENAME_NOREPLACE nor hard links, and every file shows mode 0777.
    enum class FuseKind
    {
        ExFat,
        Fat
    };
    static ScopedMount fuseImage(FuseKind kind, const QString &image, const QString &folder, int sizeMb = 64,
                                 const QString &label = QStringLiteral("EOS_DIGITAL"));

    ScopedMount(ScopedMount &&other) noexcept;
    ScopedMount &operator=(ScopedMount &&other) noexcept;
    ScopedMount(const ScopedMount &) = delete;
    ScopedMount &operator=(const ScopedMount &) = delete;
    ~ScopedMount();

    bool ok() const { return m_mounted; }
    const QString &reason() const { return m_reason; }
    const QString &folder() const { return m_folder; }
    // True under CI, where every mount must succeed.
    static bool mountingRequired();
    // Unmounts now (lazily when busy); true when the mount is gone.
    bool unmount();

private:
    explicit ScopedMount(const QString &folder);
    bool makeImage(const QString &image, int sizeMb);
    static bool run(const QString &program, const QStringList &args, QString *error);
    bool m_mounted = false;
    QString m_folder;
    QString m_loopDevice; // detached after the unmount
    QString m_reason;
};

// Skips the test with the reason, or fails it where mounting is required.
#define SKIP_UNLESS_MOUNTED(m)                                                                                         \
    do {                                                                                                               \
        const QString why_ = QStringLiteral("mounting is not permitted here: ") + (m).reason();                        \
        if (!(m).ok() && ScopedMount::mountingRequired())                                                              \
            QFAIL(qPrintable(why_ + QStringLiteral(" (CI=true: mount-based tests must run)")));                        \
        if (!(m).ok())                                                                                                 \
            QSKIP(qPrintable(why_));                                                                                   \
    } while (false)
