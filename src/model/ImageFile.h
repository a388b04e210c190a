#pragma once

#include <QImage>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

// The record of one photo file: its thumbnail, name, location and barcode id.
// Shared by reference: the loader's list and the browser's items hold the same records.
class ImageFile
{
public:
    // Makes the record and its thumbnail at once; never fails (no thumbnail for
    // a file that is no readable image).
    explicit ImageFile(const QUrl &url);
    // A record whose thumbnail is made elsewhere (the loader fills it in).
    ImageFile(const QUrl &url, const QImage &thumbnail);

    const QImage &thumbnail() const { return m_thumbnail; } // null = absent
    void setThumbnail(const QImage &image) { m_thumbnail = image; }
    const QString &fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    const QUrl &fileurl() const { return m_fileurl; }
    void setFileurl(const QUrl &url) { m_fileurl = url; }
    const std::optional<QString> &basecode() const { return m_basecode; }
    void setBasecode(const std::optional<QString> &code) { m_basecode = code; }

private:
    QImage m_thumbnail;
    QString m_fileName;
    QUrl m_fileurl;
    std::optional<QString> m_basecode;
};

using ImageFilePtr = std::shared_ptr<ImageFile>;
