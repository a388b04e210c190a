// Renames 5,000 photos as the reassignment runs do (never replacing, journal,
// collisions settled) against a plain rename(2) loop over the same files.
#include "reassign/ReassignRun.h"
#include "reassign/RenamePlan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
QList<QUrl> makePhotos(const QString &folder, int count)
{
    QDir().mkpath(folder);
    QList<QUrl> urls;
    for (int i = 1; i <= count; ++i) {
        const QString path = folder + u"/IMG_%1.JPG"_s.arg(i, 5, 10, QLatin1Char('0'));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(4096, 'x'));
        urls << QUrl::fromLocalFile(path);
    }
    return urls;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString root = QCoreApplication::arguments().value(1);
    const int count = QCoreApplication::arguments().value(2, u"5000"_s).toInt();
    if (root.isEmpty()) {
        std::fprintf(stderr, "usage: %s WORK_FOLDER [COUNT]\n", argv[0]);
        return 2;
    }
    QElapsedTimer t;

    // Reference: rename(2) in a loop, no checks at all.
    const QList<QUrl> plain = makePhotos(root + u"/plain"_s, count);
    t.start();
    for (const QUrl &url : plain) {
        const QByteArray from = QFile::encodeName(url.toLocalFile());
        const QByteArray to =
            QFile::encodeName(url.adjusted(QUrl::RemoveFilename).toLocalFile() + u"12345_"_s + url.fileName());
        ::rename(from.constData(), to.constData());
    }
    const qint64 plainMs = t.elapsed();

    // One barcode for every photo (renames, journal, folder sync).
    const QList<QUrl> one = makePhotos(root + u"/one"_s, count);
    t.restart();
    const ReassignRun::Report oneReport = ReassignRun::oneBarcode(one, u"12345"_s);
    const qint64 oneMs = t.elapsed();

    // Automatic: one barcode photo in ten; the renames alone, then the whole run with the trash.
    const QList<QUrl> autoUrls = makePhotos(root + u"/auto"_s, count);
    QHash<QString, QString> codes;
    for (int i = 0; i < autoUrls.size(); i += 10)
        codes.insert(autoUrls.at(i).toLocalFile(), u"2000000%1"_s.arg(i, 6, 10, QLatin1Char('0')));
    const QList<RenamePlan::Step> plan = ReassignRun::automaticPlan(autoUrls, codes, false);
    const QList<QUrl> autoUrls2 = makePhotos(root + u"/auto2"_s, count);
    QHash<QString, QString> codes2;
    for (int i = 0; i < autoUrls2.size(); i += 10)
        codes2.insert(autoUrls2.at(i).toLocalFile(), u"2000000%1"_s.arg(i, 6, 10, QLatin1Char('0')));
    t.restart();
    RenamePlan::execute(plan);
    const qint64 autoRenamesMs = t.elapsed();
    t.restart();
    const ReassignRun::Report autoReport = ReassignRun::automatic(autoUrls2, codes2, false);
    const qint64 autoMs = t.elapsed();

    std::printf("{\"photos\": %d, \"plain_rename_ms\": %lld, \"one_barcode_ms\": %lld, \"automatic_renames_ms\": %lld, "
                "\"automatic_run_ms\": %lld, \"trashed\": %lld, \"renamed_one\": %lld}\n",
                count, plainMs, oneMs, autoRenamesMs, autoMs, qint64(autoReport.trashed.size()),
                qint64(oneReport.renames.size()));
    return 0;
}
