#pragma once

#include "DemoCardPlan.h"

#include <QList>
#include <QString>

// A camera card as a school photographer brings it back: per customer a photo
// of a barcode card, then that customer's photos. Everything but the run time
// follows from the options, so tests and benchmarks can rely on the content.
class DemoCardWriter
{
public:
    using Photo = DemoCardPlan::Photo;
    static constexpr int cMaxPhotos = DemoCardPlan::cMaxPhotos;
    static constexpr int cFilesPerFolder = DemoCardPlan::cFilesPerFolder;

    explicit DemoCardWriter(const DemoCardOptions &options);

    // Every photo in shooting order.
    const QList<Photo> &photos() const { return m_photos; }
    // Writes the photos on as many threads as the memory allows, then the manifest;
    // false with a message on the first failure.
    bool write(QString *error);
    qint64 bytesWritten() const { return m_bytesWritten; }

    static QString manifestFileName();

private:
    DemoCardOptions m_options;
    QList<Photo> m_photos;
    qint64 m_bytesWritten = 0;
};
