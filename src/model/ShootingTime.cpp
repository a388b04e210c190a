#include "ShootingTime.h"

#include "ThumbnailMaker.h"
#include "settings/BundleInfo.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTimeZone>
#include <QtEndian>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
// Cameras put the EXIF directory and its values first, before maker notes and
// thumbnails: one small read answers almost every photo, and a larger one would
// cost more in copying than the rare second read does.
constexpr qint64 cHeadBytes = 4 * 1024;
// A directory with more entries than this is damaged, not a camera's.
constexpr quint32 cMaxEntries = 1024;
// Segments before the EXIF block in a JPEG (APP0, ICC profiles ...): a few at most.
constexpr int cMaxSegments = 64;
constexpr qsizetype cMaxRemembered = 200'000;
constexpr qint64 cMaxStoredRecords = 100'000;
constexpr quint32 cRecordMagic = 0x3174534c; // "LSt1"
constexpr qsizetype cRecordBytes = 48;
constexpr quint32 cHasStamp = 1;
constexpr quint32 cHasOffset = 2;

constexpr QByteArrayView cLittleEndianTiff("II*\0", 4);
constexpr QByteArrayView cBigEndianTiff("MM\0*", 4);

constexpr quint16 cExifPointerTag = 0x8769;
constexpr quint16 cDateTimeOriginalTag = 0x9003;
constexpr quint16 cOffsetTimeOriginalTag = 0x9011;
constexpr quint16 cSubSecTimeOriginalTag = 0x9291;

std::atomic<qint64> g_reads {0};

// What the camera wrote, before a time zone gives it its moment.
struct Stamp
{
    QDate date;
    QTime time;
    std::optional<int> offsetSeconds; // nothing: the camera's local time
};

using Known = std::optional<Stamp>; // nothing: the file has no shooting time

// The stamps known by file identity, and on disk an append-only file of
// fixed-size records (a new program reads no photo it has seen before). A store
// that is damaged or full is thrown away and started anew: it is only a cache.
struct Remembered
{
    QMutex lock;
    QHash<FileIdentity, Known> stamps;
    QList<std::pair<FileIdentity, Known>> pending; // read since the last flush
    bool loaded = false;
    bool rewrite = false; // the store on disk is gone: write all that is known
    qint64 storedRecords = 0;
};

Remembered &remembered()
{
    static Remembered r;
    return r;
}

// The camera's own texts, exactly as stored.
struct Recorded
{
    QByteArray dateTime; // "YYYY:MM:DD HH:MM:SS"
    QByteArray subSeconds; // "123": fractions of the second, most significant digit first
    QByteArray offset; // "+02:00"
};

int digitsAt(const QByteArray &text, qsizetype from, int length)
{
    if (from + length > text.size())
        return -1;
    int value = 0;
    for (qsizetype i = from; i < from + length; ++i) {
        const char c = text.at(i);
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> offsetSeconds(const QByteArray &text)
{
    const QByteArray offset = text.trimmed();
    if (offset.size() < 6 || (offset.at(0) != '+' && offset.at(0) != '-'))
        return std::nullopt;
    const int hours = digitsAt(offset, 1, 2);
    const int minutes = digitsAt(offset, 4, 2);
    if (hours < 0 || hours > 14 || minutes < 0 || minutes > 59)
        return std::nullopt;
    const int seconds = (hours * 60 + minutes) * 60;
    return offset.at(0) == '-' ? -seconds : seconds;
}

std::optional<Stamp> stampOf(const Recorded &recorded)
{
    // Writers differ in the separators, never in the positions; "0000:00:00 00:00:00"
    // and blanks mean the camera did not know the time.
    const QByteArray &text = recorded.dateTime;
    const QDate date(digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2));
    int milliseconds = 0;
    const QByteArray fraction = recorded.subSeconds.trimmed();
    for (qsizetype i = 0, scale = 100; i < fraction.size() && scale > 0; ++i, scale /= 10) {
        if (fraction.at(i) < '0' || fraction.at(i) > '9')
            break;
        milliseconds += int(fraction.at(i) - '0') * int(scale);
    }
    const QTime time(digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2), milliseconds);
    if (!date.isValid() || !time.isValid() || date.year() < 1900)
        return std::nullopt;
    return Stamp {date, time, offsetSeconds(recorded.offset)};
}

QDateTime momentOf(const Stamp &stamp, const QTimeZone &localZone)
{
    return QDateTime(stamp.date, stamp.time, stamp.offsetSeconds ? QTimeZone(*stamp.offsetSeconds) : localZone);
}

// The file's bytes, its start read once and the rest on demand.
class FileBytes
{
public:
    explicit FileBytes(int fd)
        : m_fd(fd)
    {
        m_head = readAt(0, cHeadBytes);
    }

    // Up to length bytes from offset; fewer at the end of the file.
    QByteArray at(qint64 offset, qint64 length) const
    {
        if (offset < 0 || length < 0)
            return {};
        if (offset + length <= m_head.size())
            return m_head.mid(offset, length);
        return readAt(offset, length);
    }

    const QByteArray &head() const { return m_head; }
    // A read failed (not just ended): what was not found may be there after all.
    bool failed() const { return m_failed; }

private:
    QByteArray readAt(qint64 offset, qint64 length) const
    {
        QByteArray bytes(length, Qt::Uninitialized);
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::pread(m_fd, bytes.data() + done, size_t(length - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                m_failed = true;
            if (n <= 0)
                break;
            done += n;
        }
        bytes.truncate(done);
        return bytes;
    }

    int m_fd;
    mutable bool m_failed = false;
    QByteArray m_head;
};

// A TIFF structure (a TIFF-based raw file, or the inside of a JPEG's EXIF block)
// starting at a given place in the file; its offsets count from there.
class TiffReader
{
public:
    TiffReader(const FileBytes &file, qint64 start)
        : m_file(file)
        , m_start(start)
    { }

    std::optional<Recorded> read()
    {
        const QByteArray header = m_file.at(m_start, 8);
        if (header.size() < 8)
            return std::nullopt;
        if (header.startsWith(cLittleEndianTiff))
            m_little = true;
        else if (header.startsWith(cBigEndianTiff))
            m_little = false;
        else
            return std::nullopt;
        const QByteArray first = entries(u32(header.constData() + 4));
        const char *pointer = find(first, cExifPointerTag);
        if (!pointer)
            return std::nullopt;
        const QByteArray exif = entries(u32(pointer + 8));
        Recorded recorded;
        recorded.dateTime = text(find(exif, cDateTimeOriginalTag));
        if (recorded.dateTime.isEmpty())
            return std::nullopt;
        recorded.subSeconds = text(find(exif, cSubSecTimeOriginalTag));
        recorded.offset = text(find(exif, cOffsetTimeOriginalTag));
        return recorded;
    }

private:
    quint16 u16(const char *p) const
    {
        const auto *b = reinterpret_cast<const uchar *>(p);
        return m_little ? quint16(b[0] | (b[1] << 8)) : quint16((b[0] << 8) | b[1]);
    }
    quint32 u32(const char *p) const
    {
        const auto *b = reinterpret_cast<const uchar *>(p);
        return m_little ? quint32(b[0]) | (quint32(b[1]) << 8) | (quint32(b[2]) << 16) | (quint32(b[3]) << 24)
                        : (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
    }

    // The 12-byte entries of the directory at offset, or nothing.
    QByteArray entries(quint32 offset) const
    {
        if (offset == 0)
            return {};
        const QByteArray count = m_file.at(m_start + offset, 2);
        if (count.size() < 2)
            return {};
        const quint32 n = u16(count.constData());
        if (n == 0 || n > cMaxEntries)
            return {};
        QByteArray list = m_file.at(m_start + offset + 2, qint64(n) * 12);
        list.truncate(list.size() - list.size() % 12);
        return list;
    }

    const char *find(const QByteArray &list, quint16 tag) const
    {
        for (qsizetype i = 0; i + 12 <= list.size(); i += 12) {
            if (u16(list.constData() + i) == tag)
                return list.constData() + i;
        }
        return nullptr;
    }

    // An ASCII (or undefined) value up to its first zero byte; short ones sit in the entry itself.
    QByteArray text(const char *entry) const
    {
        if (!entry)
            return {};
        const quint16 type = u16(entry + 2);
        const quint32 count = u32(entry + 4);
        if ((type != 2 && type != 7) || count == 0 || count > 64)
            return {};
        QByteArray value = count <= 4 ? QByteArray(entry + 8, count) : m_file.at(m_start + u32(entry + 8), count);
        if (const qsizetype end = value.indexOf('\0'); end >= 0)
            value.truncate(end);
        return value;
    }

    const FileBytes &m_file;
    qint64 m_start;
    bool m_little = true;
};

// Where the TIFF structure of a JPEG's EXIF block starts, walking the segments
// before the picture data.
std::optional<qint64> exifInJpeg(const FileBytes &file)
{
    qint64 position = 2;
    for (int segment = 0; segment < cMaxSegments; ++segment) {
        QByteArray marker = file.at(position, 2);
        while (marker.size() == 2 && uchar(marker.at(0)) == 0xff && uchar(marker.at(1)) == 0xff)
            marker = file.at(++position, 2); // fill bytes
        if (marker.size() < 2 || uchar(marker.at(0)) != 0xff)
            return std::nullopt;
        const uchar code = uchar(marker.at(1));
        if (code == 0xda || code == 0xd9) // picture data or end: no EXIF before it
            return std::nullopt;
        if ((code >= 0xd0 && code <= 0xd7) || code == 0x01) { // markers without a length
            position += 2;
            continue;
        }
        const QByteArray start = file.at(position + 2, 8);
        if (start.size() < 2)
            return std::nullopt;
        const qint64 length = (qint64(uchar(start.at(0))) << 8) | uchar(start.at(1));
        if (length < 2)
            return std::nullopt;
        if (code == 0xe1 && length >= 8 && start.mid(2, 6) == QByteArrayView("Exif\0\0", 6))
            return position + 10;
        position += 2 + length;
    }
    return std::nullopt;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::optional<Recorded> readWithExiv2(const NativePath &path)
{
    ThumbnailMaker::initializeLibraries();
    try {
        auto image = Exiv2::ImageFactory::open(std::string(path.c_str()), false);
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        const auto value = [&exif](const char *key) {
            const auto it = exif.findKey(Exiv2::ExifKey(key));
            return it == exif.end() ? QByteArray() : QByteArray::fromStdString(it->toString());
        };
        Recorded recorded {value("Exif.Photo.DateTimeOriginal"), value("Exif.Photo.SubSecTimeOriginal"),
                           value("Exif.Photo.OffsetTimeOriginal")};
        if (recorded.dateTime.isEmpty())
            return std::nullopt;
        return recorded;
    } catch (...) {
        return std::nullopt;
    }
}
#pragma GCC diagnostic pop
} // namespace

namespace {
// Nothing when the file could not be read: unlike a file without a time, that is not remembered.
std::optional<Known> readStamp(const NativePath &path)
{
    ++g_reads;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::optional<Recorded> recorded;
    bool known = true;
    bool failed = false;
    {
        const FileBytes file(fd);
        const QByteArray &head = file.head();
        if (head.startsWith("\xff\xd8")) {
            if (const std::optional<qint64> start = exifInJpeg(file))
                recorded = TiffReader(file, *start).read();
        } else if (head.startsWith(cLittleEndianTiff) || head.startsWith(cBigEndianTiff)) {
            recorded = TiffReader(file, 0).read();
        } else {
            known = false;
        }
        failed = file.failed();
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    // Containers of their own (HEIF, CR3, RAF ...) are left to the library that knows them.
    if (!known)
        recorded = readWithExiv2(path);
    return recorded ? stampOf(*recorded) : Known();
}
} // namespace

std::optional<QDateTime> ShootingTime::read(const NativePath &path, const QTimeZone &localZone)
{
    const std::optional<Known> known = readStamp(path);
    return known && *known ? std::optional<QDateTime>(momentOf(**known, localZone)) : std::nullopt;
}

namespace {
// magic, device, inode, size, modification time, Julian day, milliseconds of the day, offset, flags
void appendRecord(QByteArray &out, const FileIdentity &identity, const Known &known)
{
    char record[cRecordBytes] = {};
    const quint32 flags = known ? cHasStamp | (known->offsetSeconds ? cHasOffset : 0) : 0;
    qToLittleEndian<quint32>(cRecordMagic, record);
    qToLittleEndian<quint64>(identity.device, record + 4);
    qToLittleEndian<quint64>(identity.inode, record + 12);
    qToLittleEndian<qint64>(identity.size, record + 20);
    qToLittleEndian<qint64>(identity.mtimeNs, record + 28);
    qToLittleEndian<qint32>(known ? qint32(known->date.toJulianDay()) : 0, record + 36);
    qToLittleEndian<qint32>(known ? qint32(known->time.msecsSinceStartOfDay()) : 0, record + 40);
    qToLittleEndian<qint16>(qint16(known && known->offsetSeconds ? *known->offsetSeconds / 60 : 0), record + 44);
    qToLittleEndian<quint16>(quint16(flags), record + 46);
    out.append(record, cRecordBytes);
}

// False when the record is not one this program wrote.
bool readRecord(const char *record, FileIdentity *identity, Known *known)
{
    if (qFromLittleEndian<quint32>(record) != cRecordMagic)
        return false;
    *identity = {qFromLittleEndian<quint64>(record + 4), qFromLittleEndian<quint64>(record + 12),
                 qFromLittleEndian<qint64>(record + 20), qFromLittleEndian<qint64>(record + 28)};
    const quint16 flags = qFromLittleEndian<quint16>(record + 46);
    if (flags == 0) {
        known->reset();
        return true;
    }
    const QDate date = QDate::fromJulianDay(qFromLittleEndian<qint32>(record + 36));
    const QTime time = QTime::fromMSecsSinceStartOfDay(qFromLittleEndian<qint32>(record + 40));
    const int offsetMinutes = qFromLittleEndian<qint16>(record + 44);
    if ((flags & ~(cHasStamp | cHasOffset)) != 0 || !(flags & cHasStamp) || !date.isValid() || !time.isValid()
        || std::abs(offsetMinutes) > 14 * 60)
        return false;
    *known = Stamp {date, time, (flags & cHasOffset) ? std::optional<int>(offsetMinutes * 60) : std::nullopt};
    return true;
}

// Called with the lock held.
void loadStore(Remembered &r)
{
    r.loaded = true;
    QFile store(ShootingTime::standardStorePath());
    if (!store.open(QIODevice::ReadOnly))
        return; // none yet
    const QByteArray bytes = store.readAll();
    store.close();
    qsizetype at = 0;
    for (; at + cRecordBytes <= bytes.size(); at += cRecordBytes) {
        FileIdentity identity;
        Known known;
        if (!readRecord(bytes.constData() + at, &identity, &known))
            break;
        if (r.stamps.size() < cMaxRemembered)
            r.stamps.insert(identity, known);
    }
    r.storedRecords = at / cRecordBytes;
    if (at != bytes.size()) {
        // Cut off or written by something else: what follows cannot be trusted.
        logLine(u"ShootingTime: the store "_s + store.fileName() + u" is damaged; it is started anew"_s);
        SafeFile::remove(store.fileName());
        r.storedRecords = 0;
        r.rewrite = true;
    }
}
} // namespace

std::optional<QDateTime> ShootingTime::of(const NativePath &path, const FileIdentity &identity,
                                          const QTimeZone &localZone)
{
    Remembered &r = remembered();
    std::optional<Known> known;
    {
        QMutexLocker locker(&r.lock);
        if (!r.loaded)
            loadStore(r);
        const auto it = r.stamps.constFind(identity);
        if (it != r.stamps.cend())
            known = *it;
    }
    if (!known) {
        known = readStamp(path);
        if (!known)
            return std::nullopt;
        QMutexLocker locker(&r.lock);
        if (r.stamps.size() >= cMaxRemembered)
            r.stamps.clear();
        r.stamps.insert(identity, *known);
        r.pending.append({identity, *known});
    }
    return *known ? std::optional<QDateTime>(momentOf(**known, localZone)) : std::nullopt;
}

QString ShootingTime::standardStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' + BundleInfo::bundleName()
        + u"/shooting-times"_s;
}

void ShootingTime::flush()
{
    Remembered &r = remembered();
    QMutexLocker locker(&r.lock);
    if (r.pending.isEmpty() && !r.rewrite)
        return;
    const QString path = standardStorePath();
    if (!r.rewrite && r.storedRecords + r.pending.size() > cMaxStoredRecords) {
        SafeFile::remove(path);
        r.storedRecords = 0;
    }
    QByteArray bytes;
    if (r.rewrite) {
        bytes.reserve(std::min<qsizetype>(r.stamps.size(), cMaxStoredRecords) * cRecordBytes);
        for (auto it = r.stamps.cbegin(); it != r.stamps.cend() && bytes.size() < cMaxStoredRecords * cRecordBytes;
             ++it)
            appendRecord(bytes, it.key(), it.value());
    } else {
        bytes.reserve(r.pending.size() * cRecordBytes);
        for (const auto &[identity, known] : std::as_const(r.pending))
            appendRecord(bytes, identity, known);
    }
    r.pending.clear();
    r.rewrite = false;
    const NativePath store(path);
    SafeFile::makeFolders(store.parent(), 0700);
    // One write of whole records: a second program appending meanwhile cannot split one.
    const int fd = ::open(store.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 || !SafeFile::writeAll(fd, bytes)) {
        logLine(u"ShootingTime: cannot write the store "_s + path + u": "_s + QString::fromLocal8Bit(strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return;
    }
    ::close(fd);
    r.storedRecords += bytes.size() / cRecordBytes;
}

qint64 ShootingTime::readsForTesting()
{
    return g_reads.load();
}

void ShootingTime::resetForTesting()
{
    g_reads = 0;
    Remembered &r = remembered();
    QMutexLocker locker(&r.lock);
    r.stamps.clear();
    r.pending.clear();
    r.loaded = false;
    r.rewrite = false;
    r.storedRecords = 0;
}
