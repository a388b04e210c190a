#pragma once

#include "CompactThumbnail.h"

#include <QImage>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

// The record of one photo file: its thumbnail, name, location and barcode id.
// Shared by reference: the loader's list and the browser's items hold the same
// records. The thumbnail is kept compressed; the image is decoded when asked for.
class ImageFile
{
public:
    // Makes the record and its thumbnail at once (through the thumbnail cache);
    // never fails: no thumbnail for a file that is no readable image.
    explicit ImageFile(const QUrl &url);
    // A record whose thumbnail is still to come (the loader fills it in); fileName: the
    // name as listed, when the caller has it, else read from the URL.
    static std::shared_ptr<ImageFile> pending(const QUrl &url, const QString &fileName = {});

    QImage thumbnail() const { return m_thumbnail.image(); } // null = absent (or not there yet)
    void setThumbnail(const QImage &image);
    const CompactThumbnail &compactThumbnail() const { return m_thumbnail; }
    void setCompactThumbnail(const CompactThumbnail &thumbnail);
    // True until the loader has filled in the thumbnail of a record made by pending().
    bool isThumbnailPending() const { return m_pending; }

    const QString &fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    const QUrl &fileurl() const { return m_fileurl; }
    void setFileurl(const QUrl &url) { m_fileurl = url; }
    const std::optional<QString> &basecode() const { return m_basecode; }
    void setBasecode(const std::optional<QString> &code) { m_basecode = code; }

private:
    struct PendingTag
    {
    };
    ImageFile(const QUrl &url, const QString &fileName, PendingTag);

    CompactThumbnail m_thumbnail;
    bool m_pending = false;
    QString m_fileName;
    QUrl m_fileurl;
    std::optional<QString> m_basecode;
};

using ImageFilePtr = std::shared_ptr<ImageFile>;
