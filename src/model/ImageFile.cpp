#include "ImageFile.h"

#include "ThumbnailCache.h"

ImageFile::ImageFile(const QUrl &url)
    : m_thumbnail(ThumbnailCache::standard().obtain(NativePath(url.toLocalFile())).thumbnail)
    , m_fileName(url.fileName())
    , m_fileurl(url)
{ }

ImageFile::ImageFile(const QUrl &url, PendingTag)
    : m_pending(true)
    , m_fileName(url.fileName())
    , m_fileurl(url)
{ }

std::shared_ptr<ImageFile> ImageFile::pending(const QUrl &url)
{
    return std::shared_ptr<ImageFile>(new ImageFile(url, PendingTag {}));
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
