#include "CrashScenario.h"

#include "TestSandbox.h"
#include "cardimport/CardCopyRun.h"
#include "support/SafeFile.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSet>
#include <sys/stat.h>
#include <utime.h>

using namespace Qt::StringLiterals;

namespace {
QByteArray idOf(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

bool isBelow(const QString &path, const QString &folder)
{
    return path.startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
}

QList<SafeFileEntry> everythingBelow(const QString &folder)
{
    SafeFileListOptions all;
    all.skipHidden = false;
    all.recursive = true;
    return SafeFile::list(NativePath(folder), all).value_or(QList<SafeFileEntry>());
}

// A photo of its own content (no two alike), with a file time that keeps the order.
Photo &add(Setup &s, const QString &path, const QString &expected, const QString &afterUndo = {})
{
    QByteArray bytes(qsizetype(8 + s.random->bounded(20000, 120000) / 4 * 4), Qt::Uninitialized);
    s.random->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    writeFile(path, bytes);
    const qint64 time = 1700000000 + s.photos.size() * 10;
    const struct utimbuf times = {time, time};
    ::utime(QFile::encodeName(path).constData(), &times);
    s.photos.append({idOf(bytes), bytes, path, expected, afterUndo.isEmpty() ? path : afterUndo, false});
    return s.photos.last();
}
} // namespace

Census censusOf(const Setup &setup)
{
    QSet<qint64> sizes;
    for (const Photo &p : setup.photos)
        sizes.insert(p.bytes.size());
    Census census;
    for (const QString &root : setup.roots) {
        for (const SafeFileEntry &e : everythingBelow(root)) {
            struct stat info = {};
            if (e.type == SafeFileEntryType::Regular && ::lstat(e.path.c_str(), &info) == 0
                && sizes.contains(qint64(info.st_size)))
                census[idOf(readFile(e.path.toString()))].append(e.path.toString());
        }
    }
    return census;
}

QString misplacedPhotos(const Setup &setup, const Census &census, bool undone)
{
    QStringList wrong;
    for (const Photo &p : setup.photos) {
        QStringList places = census.value(p.id);
        if (p.cardCopy)
            places.removeIf([&](const QString &path) { return path == p.origin || isBelow(path, setup.trash); });
        const QString &expected = undone ? p.afterUndo : p.expected;
        const bool placed = places.size() == 1
            && (places.first() == expected || (expected.endsWith(u'/') && isBelow(places.first(), expected)));
        if (!placed)
            wrong.append(p.origin + u" -> ["_s + places.join(u", "_s) + u"] expected "_s + expected);
    }
    return wrong.join(u"\n"_s);
}

QString leftovers(const Setup &setup, const Census &census)
{
    QSet<QString> photos;
    for (const QStringList &places : census)
        for (const QString &place : places)
            photos.insert(place);
    QStringList found;
    for (const QString &root : setup.workRoots) {
        for (const SafeFileEntry &e : everythingBelow(root)) {
            if (e.type == SafeFileEntryType::Regular && !photos.contains(e.path.toString()))
                found << e.path.toString();
        }
    }
    if (!setup.staging.isEmpty()) {
        for (const SafeFileEntry &e : SafeFile::list(NativePath(QFileInfo(setup.staging).path()), {false, false, false})
                                          .value_or(QList<SafeFileEntry>())) {
            if (e.path.toString().startsWith(setup.staging))
                found << e.path.toString();
        }
    }
    return found.join(u", "_s);
}

void oneBarcode(Setup &s)
{
    s.args = QStringList {u"reassign"_s, u"--barcode"_s, u"4242"_s, u"--"_s};
    const QStringList shapes {u"111_IMG_%1.JPG|4242_IMG_%1.JPG"_s, u"UNKNOWN_IMG_%1.JPG|4242_IMG_%1.JPG"_s,
                              u"IMG_%1.JPG|4242_IMG_%1.JPG"_s, u"DSC%1.JPG|4242_DSC%1.JPG"_s,
                              u"555_DSC%1.JPG|4242_555_DSC%1.JPG"_s};
    for (int i = 0; i < 12; ++i) {
        const QStringList shape = shapes.at(i % shapes.size()).arg(1000 + i).split(u'|');
        add(s, s.working + u'/' + shape.at(0), s.working + u'/' + shape.at(1));
        s.args.append(s.working + u'/' + shape.at(0));
    }
}

void automatic(Setup &s)
{
    s.args = QStringList {u"--set"_s, u"prefInputFolderSortKeySelectedIndex=1"_s, u"auto"_s, s.working};
    const QList<QStringList> order {
        {u"IMG_0001.JPG"_s, {}},        {u"CODE_0777.JPG"_s, u"777"_s}, {u"IMG_0002.JPG"_s, u"777"_s},
        {u"c1.JPG"_s, u"777"_s},        {u"IMG_0003.JPG"_s, u"777"_s},  {u"CODE_0888.JPG"_s, u"888"_s},
        {u"777_c1.JPG"_s, u"888"_s},    {u"IMG_0004.JPG"_s, u"888"_s},  {u"c2.JPG"_s, u"888"_s},
        {u"CODE_0999.JPG"_s, u"999"_s}, {u"888_c2.JPG"_s, u"999"_s},    {u"IMG_0005.JPG"_s, u"999"_s},
    };
    for (const QStringList &item : order) {
        const QString &name = item.at(0);
        const QString &barcode = item.at(1);
        if (name.startsWith(u"CODE_"_s)) {
            add(s, s.working + u'/' + name, s.trash + u'/');
            s.args.append(name + u'=' + barcode);
        } else {
            add(s, s.working + u'/' + name, s.working + u'/' + (barcode.isEmpty() ? name : barcode + u'_' + name));
        }
    }
}

void swaps(Setup &s)
{
    const QString w = s.working + u'/';
    const QList<QPair<QString, QString>> steps {{w + u"r1.JPG"_s, w + u"r2.JPG"_s}, {w + u"r2.JPG"_s, w + u"r3.JPG"_s},
                                                {w + u"r3.JPG"_s, w + u"r1.JPG"_s}, {w + u"s1.JPG"_s, w + u"s2.JPG"_s},
                                                {w + u"s2.JPG"_s, w + u"s1.JPG"_s}, {w + u"h1.JPG"_s, w + u"h2.JPG"_s},
                                                {w + u"h2.JPG"_s, w + u"h3.JPG"_s}, {w + u"h3.JPG"_s, w + u"h4.JPG"_s}};
    s.args = QStringList {u"--swap-child"_s};
    for (const auto &[from, to] : steps) {
        add(s, from, to);
        s.args << from << to;
    }
}

void filing(Setup &s, const QString &destination)
{
    s.args = QStringList {u"file"_s, s.working, destination};
    s.roots.append(destination);
    s.workRoots.append(destination);
    for (int i = 0; i < 12; ++i) {
        const QString name = u"%1_IMG_%2.JPG"_s.arg(31 + i % 3).arg(2000 + i);
        const Photo &p = add(s, s.working + u'/' + name, destination + u'/' + name);
        if (i == 0) // filed before, by a run that was killed or by another station
            writeFile(destination + u'/' + name, p.bytes);
    }
    // A different photo already has the name of the second: it keeps it, ours takes a numbered one.
    s.photos[1].expected.replace(u".JPG"_s, u"-2.JPG"_s);
    const QString taken = s.photos.at(1).origin.section(u'/', -1);
    add(s, destination + u'/' + taken, destination + u'/' + taken);
    for (int i = 0; i < 2; ++i) {
        const QString left = s.working + u"/UNKNOWN_IMG_%1.JPG"_s.arg(3000 + i);
        add(s, left, left);
    }
}

void cardImport(Setup &s, const QString &card)
{
    s.staging = CardCopyRun::stagingFolderFor(s.working);
    s.args = QStringList {u"--set"_s,
                          u"prefSourcePath="_s + s.working,
                          u"import"_s,
                          u"--discard-working-folder"_s,
                          u"--threads"_s,
                          u"2"_s,
                          card};
    s.roots = QStringList {s.working, QFileInfo(s.staging).path(), s.trash, card};
    for (int i = 0; i < 12; ++i) {
        const QString name = u"IMG_%1.JPG"_s.arg(4000 + i);
        const QString folder = card + (i < 8 ? u"/DCIM/100CANON/"_s : u"/DCIM/101CANON/"_s);
        add(s, folder + name, s.working + u'/' + name).cardCopy = true;
    }
    for (int i = 0; i < 3; ++i) // the last card's photos, which the operator agreed to discard
        add(s, s.working + u"/OLD_%1.JPG"_s.arg(5000 + i), s.trash + u'/');
}
