#include "ImageFile.h"

#include "ThumbnailMaker.h"

#include <QFile>

ImageFile::ImageFile(const QUrl &url)
    : ImageFile(url, ThumbnailMaker::make(NativePath(url.toLocalFile())).image)
{ }

ImageFile::ImageFile(const QUrl &url, const QImage &thumbnail)
    : m_thumbnail(thumbnail)
    , m_fileName(url.fileName())
    , m_fileurl(url)
{ }
