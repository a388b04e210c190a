#include "LoadProbe.h"

#include "ImageDirectoryLoader.h"

#include <QEventLoop>
#include <QFile>

using namespace Qt::StringLiterals;

LoadProbe::LoadProbe(ImageDirectoryLoader *loader, qsizetype firstScreen)
    : m_loader(loader)
    , m_firstScreen(firstScreen)
{ }

LoadProbe::Result LoadProbe::run(const QUrl &folder, bool onlyIfChanged)
{
    Result result;
    QElapsedTimer clock;
    QEventLoop loop;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(2);
    connect(&ticker, &QTimer::timeout, &loop, [&] {
        result.maxStallMs = std::max(result.maxStallMs, sinceTick.elapsed());
        sinceTick.restart();
    });
    bool listed = false;
    bool firstScreenIn = false;
    const auto checkFirstScreen = [&] {
        if (firstScreenIn || !listed)
            return;
        const qsizetype n = std::min(m_firstScreen, m_loader->numberOfItems());
        for (qsizetype i = 0; i < n; ++i) {
            if (m_loader->imageFiles().at(i)->isThumbnailPending())
                return;
        }
        firstScreenIn = true;
        result.msFirstScreen = clock.elapsed();
    };
    const auto finish = [&] {
        checkFirstScreen();
        result.msAll = clock.elapsed();
        loop.quit();
    };
    QMetaObject::Connection c1 = connect(m_loader, &ImageDirectoryLoader::folderListed, &loop, [&] {
        listed = true;
        result.msListed = clock.elapsed();
        QList<qsizetype> first;
        for (qsizetype i = 0; i < std::min(m_firstScreen, m_loader->numberOfItems()); ++i)
            first.append(i);
        m_loader->prioritize(first);
        checkFirstScreen();
        if (!m_loader->isLoading())
            finish();
    });
    QMetaObject::Connection c2 =
        connect(m_loader, &ImageDirectoryLoader::thumbnailsArrived, &loop, [&] { checkFirstScreen(); });
    QMetaObject::Connection c3 = connect(m_loader, &ImageDirectoryLoader::thumbnailsFinished, &loop, [&] {
        if (listed)
            finish();
    });
    clock.start();
    sinceTick.start();
    ticker.start();
    m_loader->beginLoadingFolder(folder, onlyIfChanged);
    // An unchanged folder, or one that cannot be listed, signals nothing: stop when listing is over.
    QTimer idle;
    idle.setInterval(20);
    connect(&idle, &QTimer::timeout, &loop, [&] {
        if (!m_loader->isLoading() && !listed)
            finish();
    });
    idle.start();
    loop.exec();
    disconnect(c1);
    disconnect(c2);
    disconnect(c3);
    result.photos = m_loader->numberOfItems();
    return result;
}

qint64 LoadProbe::residentMegabytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024;
    }
    return 0;
}
