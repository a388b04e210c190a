#include "ReassignImageView.h"

#include "model/ThumbnailMaker.h"
#include "support/Dispatch.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// EXIF orientations 5 to 8 turn the stored pixels by a quarter.
QSize upright(const QSize &stored, int orientation)
{
    return orientation >= 5 && orientation <= 8 ? stored.transposed() : stored;
}

// Opened by its bytes: QImageReader given the text would lose a name that is not UTF-8.
// Non-blocking, so that a FIFO named like a photo cannot hang the worker; regular files only.
bool openPhoto(const NativePath &path, QFile &file)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

QImage shrunkToFit(const QImage &image, const QSize &box)
{
    if (image.isNull() || (image.width() <= box.width() && image.height() <= box.height()))
        return image;
    return image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
} // namespace

ReassignImageView::ReassignImageView(QWidget *parent)
    : QWidget(parent)
    , m_redecodeTimer(new QTimer(this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(240, 180);
    m_redecodeTimer->setSingleShot(true);
    m_redecodeTimer->setInterval(150);
    connect(m_redecodeTimer, &QTimer::timeout, this, [this] {
        if (!m_path.isEmpty() && pixelBox() != m_requestedFor)
            startDecode(m_image.isNull());
        startPreloads();
    });
}

void ReassignImageView::setPath(const QString &path)
{
    if (path == m_path)
        return;
    m_path = path;
    m_image = QImage();
    m_photoSize = QSize();
    m_preview = false;
    m_requestedFor = QSize();
    m_redecodeTimer->stop();
    update();
    if (const auto ahead = m_preloaded.constFind(path);
        ahead != m_preloaded.cend() && m_preloadedFor == pixelBox() && !ahead->image.isNull()) {
        ++*m_generation;
        m_requestedFor = m_preloadedFor;
        m_image = ahead->image;
        m_photoSize = ahead->photoSize;
        Q_EMIT imageShown(m_path, false);
        return;
    }
    if (m_path.isEmpty())
        ++*m_generation; // whatever is still running for the previous photo is dropped
    else
        startDecode(true);
}

void ReassignImageView::preload(const QStringList &paths)
{
    m_preloadPaths = paths;
    m_preloadPaths.removeAll(QString());
    startPreloads();
}

bool ReassignImageView::isPreloaded(const QString &path) const
{
    return m_preloadedFor == pixelBox() && m_preloaded.contains(path);
}

void ReassignImageView::startPreloads()
{
    // Before the view is laid out there is no size to decode for; showing it comes back here.
    if (!m_shownOnce)
        return;
    const QSize box = pixelBox();
    if (box != m_preloadedFor) {
        m_preloaded.clear();
        m_preloadedFor = box;
    }
    for (auto it = m_preloaded.begin(); it != m_preloaded.end();)
        it = m_preloadPaths.contains(it.key()) ? std::next(it) : m_preloaded.erase(it);
    QPointer<ReassignImageView> self(this);
    for (const QString &path : std::as_const(m_preloadPaths)) {
        if (m_preloaded.contains(path))
            continue;
        Dispatch::inBackground([self, path, box] {
            const Decoded decoded = decodeFitted(NativePath(path), box);
            Dispatch::onMain([self, path, box, decoded] {
                if (self && box == self->m_preloadedFor && self->m_preloadPaths.contains(path))
                    self->m_preloaded.insert(path, decoded);
            });
        });
    }
}

QSize ReassignImageView::pixelBox() const
{
    return (QSizeF(size()) * devicePixelRatioF()).toSize();
}

void ReassignImageView::startDecode(bool previewFirst)
{
    const quint64 generation = ++*m_generation;
    const NativePath path(m_path);
    // Before the view is first shown it has no size of its own: showing it starts that decode.
    // Hidden later (while an entry is processed) it keeps its size.
    const QSize box = m_shownOnce ? pixelBox() : QSize();
    m_requestedFor = box;
    const std::shared_ptr<std::atomic<quint64>> latest = m_generation;
    QPointer<ReassignImageView> self(this);
    const auto deliver = [self, generation](const Decoded &decoded, bool isPreview) {
        Dispatch::onMain([self, generation, decoded, isPreview] {
            if (self)
                self->takeImage(generation, decoded, isPreview);
        });
    };
    Dispatch::inBackground([path, box, previewFirst, generation, latest, deliver] {
        if (previewFirst && latest->load() == generation)
            deliver(preview(path), true);
        if (box.isEmpty() || latest->load() != generation)
            return;
        deliver(decodeFitted(path, box), false);
    });
}

void ReassignImageView::takeImage(quint64 generation, const Decoded &decoded, bool preview)
{
    if (generation != m_generation->load())
        return; // made for a photo, or a size, no longer shown
    if (preview && !m_image.isNull())
        return;
    if (decoded.image.isNull() && !m_image.isNull())
        return; // an unreadable decode never hides the preview
    m_image = decoded.image;
    if (decoded.photoSize.isValid())
        m_photoSize = decoded.photoSize;
    m_preview = preview;
    update();
    Q_EMIT imageShown(m_path, preview);
}

ReassignImageView::Decoded ReassignImageView::preview(const NativePath &path)
{
    const ThumbnailMaker::Result result = ThumbnailMaker::make(path);
    return {result.image, upright(result.imageSize, result.orientation)};
}

ReassignImageView::Decoded ReassignImageView::decodeFitted(const NativePath &path, const QSize &box)
{
    ThumbnailMaker::initializeLibraries(); // the allocation limit for large photos
    QFile file;
    if (openPhoto(path, file)) {
        QImageReader reader(&file);
        reader.setAutoTransform(true);
        // Most raw files are TIFF inside, whose first image is a small thumbnail: those,
        // like HEIF, go to the preview maker, which knows their large embedded previews.
        const QByteArray name = path.fileNameBytes().toLower();
        const bool rawInTiff = reader.format() == "tiff" && !name.endsWith(".tif") && !name.endsWith(".tiff");
        const QSize stored = rawInTiff ? QSize() : reader.size();
        if (stored.isValid() && !box.isEmpty()) {
            // The scaled size applies to the stored pixels, before the turn upright.
            const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
            const QSize fit = turned ? box.transposed() : box;
            if (stored.width() > fit.width() || stored.height() > fit.height())
                reader.setScaledSize(stored.scaled(fit, Qt::KeepAspectRatio).expandedTo({1, 1}));
            const QImage image = shrunkToFit(reader.read(), box);
            if (!image.isNull())
                return {image, turned ? stored.transposed() : stored};
        }
    }
    // Raw and HEIF files: their largest embedded preview, or a decode, at this size.
    const ThumbnailMaker::Result result = ThumbnailMaker::make(path, std::max(box.width(), box.height()));
    return {shrunkToFit(result.image, box), upright(result.imageSize, result.orientation)};
}

void ReassignImageView::paintEvent(QPaintEvent *)
{
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Fitted to the view, but a photo smaller than the view keeps its own size;
    // the preview is drawn at the size the photo will have, so nothing jumps.
    QSizeF shown = QSizeF(m_photoSize.isValid() ? m_photoSize : m_image.size()) / devicePixelRatioF();
    if (!m_photoSize.isValid() || shown.width() > width() || shown.height() > height())
        shown = shown.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
    painter.drawImage(target, m_image);
}

void ReassignImageView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // A live resize settles before the photo is decoded again.
    if (m_shownOnce && ((!m_path.isEmpty() && pixelBox() != m_requestedFor) || !m_preloadPaths.isEmpty()))
        m_redecodeTimer->start();
}

void ReassignImageView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_shownOnce = true;
    if (!m_path.isEmpty() && pixelBox() != m_requestedFor)
        startDecode(m_image.isNull());
    startPreloads();
}
