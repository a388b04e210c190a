#include "PhotoFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

bool PhotoFile::write(const QString &path, const PhotoRenderer::Rendered &photo, const QDateTime &shot, QString *error)
{
    const QFileInfo info(path);
    const QByteArray finalName = QFile::encodeName(path);
    const QByteArray tempName = QFile::encodeName(info.absolutePath() + u"/."_s + info.fileName() + u".part"_s);
    const auto fail = [&](int fd) {
        const int code = errno;
        if (fd >= 0)
            ::close(fd);
        ::unlink(tempName.constData());
        *error = u"could not write "_s + path + u": "_s + qt_error_string(code);
        return false;
    };
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(-1);
    for (const QByteArrayView piece : {photo.start, QByteArrayView(photo.exif), photo.body}) {
        const char *data = piece.data();
        qsizetype left = piece.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, data, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return fail(fd);
            data += written;
            left -= written;
        }
    }
    // The files sort in shooting order by time, as on a real card.
    timespec times[2];
    times[0].tv_sec = time_t(shot.toSecsSinceEpoch());
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::futimens(fd, times) != 0)
        return fail(fd);
    if (::close(fd) != 0)
        return fail(-1);
    if (::rename(tempName.constData(), finalName.constData()) != 0)
        return fail(-1);
    return true;
}
