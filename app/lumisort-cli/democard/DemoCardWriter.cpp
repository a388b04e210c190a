#include "DemoCardWriter.h"

#include "CardManifest.h"
#include "DemoCanvas.h"
#include "PhotoFile.h"
#include "PhotoRenderer.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QThread>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Per thread a few copies of the picture are alive; stay within this much memory.
constexpr qint64 cMemoryBudget = qint64(2) << 30;

} // namespace

DemoCardWriter::DemoCardWriter(const DemoCardOptions &options)
    : m_options(options)
    , m_photos(DemoCardPlan::photos(options))
{ }

QString DemoCardWriter::manifestFileName()
{
    return CardManifest::fileName();
}

bool DemoCardWriter::write(QString *error)
{
    m_bytesWritten = 0;
    const QDir root(m_options.dir);
    // A manifest left from an earlier run must not vouch for a card this run fails to finish.
    if (root.exists(CardManifest::fileName()) && !QFile::remove(root.filePath(CardManifest::fileName()))) {
        *error = u"could not replace "_s + root.filePath(CardManifest::fileName());
        return false;
    }
    QSet<QString> folders;
    for (const Photo &photo : std::as_const(m_photos))
        folders.insert(photo.relativePath.section(u'/', 0, 1));
    for (const QString &folder : std::as_const(folders)) {
        if (!root.mkpath(folder)) {
            *error = u"could not create the folder "_s + root.filePath(folder);
            return false;
        }
    }

    const DemoCanvas canvas = DemoCanvas::make(m_options);
    const qint64 perThread = qint64(canvas.stored.width()) * canvas.stored.height() * 8;
    const int threads = int(std::clamp<qint64>(cMemoryBudget / std::max<qint64>(perThread, 1), 1,
                                               std::max(1, QThread::idealThreadCount())));
    std::atomic<int> next {0};
    std::atomic<bool> failed {false};
    std::atomic<qint64> bytes {0};
    std::mutex errorLock;
    QString firstError;
    const auto work = [&] {
        PhotoRenderer renderer(canvas, m_options.seed);
        for (;;) {
            const int index = next++;
            if (index >= m_photos.size() || failed)
                return;
            const Photo &photo = m_photos.at(index);
            QString message;
            PhotoRenderer::Rendered data;
            if (!renderer.render(photo, index, &data, &message)
                || !PhotoFile::write(root.filePath(photo.relativePath), data, photo.shot, &message)) {
                const std::lock_guard lock(errorLock);
                if (!failed.exchange(true))
                    firstError = message;
                return;
            }
            bytes += data.size();
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread &thread : pool)
        thread.join();
    m_bytesWritten = bytes;
    if (failed) {
        *error = firstError;
        return false;
    }
    return CardManifest::write(m_options, m_photos, error);
}
