#include "ImageFile.h"

#include "ThumbnailCache.h"

ImageFile::ImageFile(const QUrl &url)
    : m_thumbnail(ThumbnailCache::standard().obtain(NativePath(url.toLocalFile())).thumbnail)
    , m_fileName(url.fileName())
    , m_fileurl(url)
{ }

ImageFile::ImageFile(const QUrl &url, const QString &fileName, PendingTag)
    : m_pending(true)
    , m_fileName(fileName.isEmpty() ? url.fileName() : fileName)
    , m_fileurl(url)
{ }

std::shared_ptr<ImageFile> ImageFile::pending(const QUrl &url, const QString &fileName)
{
    return std::shared_ptr<ImageFile>(new ImageFile(url, fileName, PendingTag {}));
}

void ImageFile::setThumbnail(const QImage &image)
{
    setCompactThumbnail(CompactThumbnail::fromImage(image));
}

void ImageFile::setCompactThumbnail(const CompactThumbnail &thumbnail)
{
    m_thumbnail = thumbnail;
    m_pending = false;
}
