// Whether reading a card's barcodes in the background makes the window wait: the
// real browser window (offscreen) opens a folder, which lists it, makes the
// thumbnails and reads the barcodes, while a timer on the main thread ticks every
// 5 ms. The gaps between ticks are how long the window could not answer.
//   lumisort-bench-barcode-stall reading|cancelled FOLDER [SECONDS]
//   lumisort-bench-barcode-stall import|import-unread CARD WORKING [SECONDS]
// "import" copies a card into an empty WORKING folder as the window's import does (its
// barcodes read beside the copy), then shows WORKING and says how long after the import's
// end the last code was known and the codes of the photos on screen; "import-unread" is
// the same import without reading beside the copy, as before.
// "cancelled" is the reference: the same load with the reading cancelled as it
// starts, measured for SECONDS (the reading run's duration). "reading" gives up
// after SECONDS (default 300) and says how far it got.
// For every long gap the main thread's own scheduler account tells why: time it ran
// (work of the window itself), time it stood ready without a core (other threads or
// programs had both), and the rest asleep or blocked.
#include "barcodes/BarcodeCache.h"
#include "barcodes/BarcodeScanScheduler.h"
#include "browser/MyVimoNSWindow.h"
#include "browser/PhotoGridView.h"
#include "browser/ViewController.h"
#include "browser/WindowController.h"
#include "cardimport/CardCopyRun.h"
#include "settings/FactoryDefaults.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/DesktopOpener.h"
#include "support/FolderPanel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int cTickMs = 5;
constexpr int cIdleMs = 2000;

// Nanoseconds the calling thread ran, and stood ready to run, so far.
struct SchedAccount
{
    qint64 ranNs = 0;
    qint64 waitedNs = 0;

    static SchedAccount now()
    {
        static thread_local const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
        char text[128] = {};
        SchedAccount account;
        if (fd >= 0 && ::pread(fd, text, sizeof text - 1, 0) > 0)
            std::sscanf(text, "%lld %lld", &account.ranNs, &account.waitedNs);
        return account;
    }
};

struct LongGap
{
    qint64 gapUs = 0;
    qint64 ranUs = 0;
    qint64 waitedUs = 0;
    int batches = 0; // readings handed to the window within the gap
    int thumbnailBatches = 0;
};

constexpr qint64 cLongGapUs = 25000;

struct Ticks
{
    QList<qint64> gapsUs;
    QList<LongGap> longGaps;

    void print(const char *label) const
    {
        QList<qint64> sorted = gapsUs;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double share) {
            return sorted.isEmpty() ? 0.0
                                    : sorted.at(std::min(sorted.size() - 1, qsizetype(share * sorted.size()))) / 1000.0;
        };
        const qsizetype over = std::count_if(sorted.cbegin(), sorted.cend(), [](qint64 gap) { return gap > 50000; });
        std::printf("%-34s ticks %6lld  longest gap %7.1f ms  p99 %6.1f ms  median %5.1f ms  gaps > 50 ms: %lld\n",
                    label, qlonglong(sorted.size()), sorted.isEmpty() ? 0.0 : sorted.last() / 1000.0, at(0.99), at(0.5),
                    qlonglong(over));
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    const bool importing = mode == u"import"_s || mode == u"import-unread"_s;
    if (args.size() < (importing ? 4 : 3) || (mode != u"reading"_s && mode != u"cancelled"_s && !importing)) {
        std::fprintf(
            stderr,
            "usage: %s reading|cancelled FOLDER [SECONDS]\n       %s import|import-unread CARD WORKING [SECONDS]\n",
            argv[0], argv[0]);
        return 2;
    }
    const bool reading = mode != u"cancelled"_s;
    const QString card = importing ? QDir(args.at(2)).absolutePath() : QString();
    const QString folder = QDir(args.at(importing ? 3 : 2)).absolutePath();
    const qint64 limitMs = qRound64(args.value(importing ? 4 : 3, reading ? u"300"_s : u"30"_s).toDouble() * 1000);
    if (importing && (!QDir().mkpath(folder) || !QDir(folder).isEmpty())) {
        std::fprintf(stderr, "%s must be an empty folder\n", qPrintable(folder));
        return 2;
    }

    // Nothing may wait for an answer: the window is measured, not used.
    Alert::setTestMode(true);
    FolderPanel::setTestMode(true);
    DesktopOpener::setTestMode(true);
    SettingsStore &store = SettingsStore::standard();
    FactoryDefaults::registerInto(store);
    const QString empty = QDir::temp().filePath(u"lumisort-stall-empty-%1"_s.arg(QCoreApplication::applicationPid()));
    QDir().mkpath(empty);
    store.setString(empty, cPrefSourcePath);
    store.removeObjectForKey(cPrefSourcePathAliasData);
    store.setInteger(200, cPrefRadioSet1SelectedTag);
    store.setInteger(0, cPrefInputFolderSortKeySelectedIndex);

    WindowController controller;
    controller.window()->resize(1200, 900);
    controller.window()->show();
    ViewController *vc = controller.contentViewController();

    Ticks idle;
    Ticks loading;
    Ticks *current = &idle;
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    SchedAccount lastAccount;
    int batches = 0;
    int thumbnailBatches = 0;
    int batchesBefore = 0;
    int thumbnailBatchesBefore = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(cTickMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed() / 1000;
        const SchedAccount account = SchedAccount::now();
        if (last >= 0 && current) {
            current->gapsUs.append(now - last);
            if (now - last > cLongGapUs)
                current->longGaps.append({now - last, (account.ranNs - lastAccount.ranNs) / 1000,
                                          (account.waitedNs - lastAccount.waitedNs) / 1000, batches - batchesBefore,
                                          thumbnailBatches - thumbnailBatchesBefore});
        }
        last = now;
        lastAccount = account;
        batchesBefore = batches;
        thumbnailBatchesBefore = thumbnailBatches;
    });

    qint64 importStart = 0;
    qint64 importEnd = 0;
    qint64 screenReadAt = 0;
    int readBeside = 0; // photos read while the card was copied
    CardCopyRun::Result imported;
    QSet<QString> known; // photos whose reading reached the window
    qint64 loadStart = 0;
    qint64 listedAt = 0;
    qint64 thumbnailsAt = 0;
    qint64 readAt = 0;
    int photos = 0;
    int withCode = 0;
    bool timedOut = false;
    const auto finish = [&] {
        readAt = clock.elapsed();
        current = nullptr;
        QCoreApplication::quit();
    };
    QObject::connect(vc->imageDirectoryLoader, &ImageDirectoryLoader::folderListed, [&] {
        if (loadStart == 0)
            return;
        listedAt = clock.elapsed();
        photos = int(vc->imageDirectoryLoader->imageFiles().size());
        if (!reading) {
            vc->barcodeCancelButton->click();
            QTimer::singleShot(std::max<qint64>(0, limitMs - (listedAt - loadStart)), finish);
        }
    });
    QObject::connect(vc->imageDirectoryLoader, &ImageDirectoryLoader::thumbnailsArrived, [&] { ++thumbnailBatches; });
    QObject::connect(vc->imageDirectoryLoader, &ImageDirectoryLoader::thumbnailsFinished, [&] {
        if (loadStart != 0 && thumbnailsAt == 0)
            thumbnailsAt = clock.elapsed();
    });
    QObject::connect(vc->barcodeScanner, &BarcodeScanScheduler::arrived,
                     [&](const QList<BarcodeScanScheduler::Result> &results) {
                         ++batches;
                         for (const BarcodeScanScheduler::Result &result : results) {
                             withCode += result.reading.codes.isEmpty() ? 0 : 1;
                             known.insert(result.path.toString());
                         }
                         if (screenReadAt || !listedAt)
                             return;
                         const QList<ImageFilePtr> &files = vc->imageDirectoryLoader->imageFiles();
                         for (const IndexPath &path : vc->collectionView->indexPathsForVisibleItems()) {
                             const qsizetype i = vc->imageDirectoryLoader->indexForIndexPath(path);
                             if (i < 0 || i >= files.size() || !known.contains(files.at(i)->fileurl().toLocalFile()))
                                 return;
                         }
                         screenReadAt = clock.elapsed();
                     });
    QObject::connect(vc->barcodeScanner, &BarcodeScanScheduler::finished, [&] {
        if (reading && loadStart != 0)
            finish();
    });

    // The window settles on an empty folder first: the idle reference.
    QTimer::singleShot(500, [&] { ticker.start(); });
    QTimer::singleShot(500 + cIdleMs, [&] {
        current = &loading;
        if (importing) {
            importStart = clock.elapsed();
            std::thread([&] {
                CardCopyRun::Options options;
                options.cardFolder = card;
                options.workingFolder = folder;
                options.stagingFolder = CardCopyRun::stagingFolderFor(folder);
                options.settleMs = 0;
                if (mode == u"import"_s)
                    options.barcodes = &BarcodeCache::standard();
                CardCopyRun::Result result = CardCopyRun::run(options);
                QMetaObject::invokeMethod(&app, [&, result] {
                    imported = result;
                    importEnd = loadStart = clock.elapsed();
                    readBeside = BarcodeCache::standard().decodedCount();
                    vc->browseFolder(folder);
                });
            }).detach();
        } else {
            loadStart = clock.elapsed();
            vc->browseFolder(folder);
        }
        if (reading)
            QTimer::singleShot(limitMs, [&] {
                if (current) {
                    timedOut = true;
                    finish();
                }
            });
    });
    app.exec();
    QDir().rmdir(empty);

    QFile loadavg(u"/proc/loadavg"_s);
    loadavg.open(QIODevice::ReadOnly);
    std::printf("%s: load average at the end %s", reading ? "reading" : "reading cancelled",
                loadavg.readAll().left(15).append('\n').constData());
    std::printf("%s: %d photos, listed after %.1f s, thumbnails after %.1f s, measured %.1f s; %d with a code\n",
                reading ? "reading" : "reading cancelled", photos, (listedAt - loadStart) / 1000.0,
                thumbnailsAt ? (thumbnailsAt - loadStart) / 1000.0 : -1.0, (readAt - loadStart) / 1000.0, withCode);
    if (importing)
        std::printf("%s: %lld photos imported in %.1f s (copy %.1f s, %d read by then): %s; after its end: codes on "
                    "screen known %.1f s, last code known %.1f s\n",
                    qPrintable(mode), qlonglong(imported.transferred), (importEnd - importStart) / 1000.0,
                    imported.copySeconds, readBeside, qPrintable(imported.summary()),
                    screenReadAt ? (screenReadAt - importEnd) / 1000.0 : -1.0, (readAt - importEnd) / 1000.0);
    if (timedOut)
        std::printf("  READING DID NOT FINISH within %.0f s: %d of %d photos handed over\n", limitMs / 1000.0,
                    vc->barcodeScanner->readCount(), vc->barcodeScanner->toReadCount());
    idle.print("  window idle, nothing loading");
    loading.print(reading ? "  loading and reading barcodes" : "  loading, reading cancelled");
    std::printf("  seconds %.1f\n", (readAt - loadStart) / 1000.0);
    if (timedOut) {
        // Readers that never come back would hold up the window's destruction for good.
        std::fflush(stdout);
        ::_exit(3);
    }
    return 0;
}
