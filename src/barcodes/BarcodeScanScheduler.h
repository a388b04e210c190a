#pragma once

#include "BarcodeReader.h"
#include "support/BackgroundScheduler.h"
#include "support/NativePath.h"

#include <QHash>
#include <QList>
#include <QObject>

class BarcodeCache;

struct BarcodeScanResult
{
    NativePath path;
    BarcodeReader::Reading reading;
};

// Reads the barcodes of a folder's photos in the background while the operator
// works: on both cores at the lowest priority the system has, so the window and
// the thumbnails always come first, with the readings handed to the main thread
// in batches. Photos whose reading is already in the cache are not read again;
// a new start or cancel() forgets whatever the previous run had not yet handed over.
class BarcodeScanScheduler : public QObject, private BackgroundScheduler<NativePath, BarcodeScanResult>
{
    Q_OBJECT

public:
    using Result = BarcodeScanResult;

    explicit BarcodeScanScheduler(BarcodeCache &cache, QObject *parent = nullptr);
    ~BarcodeScanScheduler() override;

    // Main thread. Readings already in memory arrive at once, before start() returns;
    // progress counts the others (those kept on disk come back quickly, undecoded).
    void start(const QList<NativePath> &paths);
    void cancel();
    // Main thread: these photos are read next, in this order (those on screen), before the others;
    // each call replaces the one before.
    void prioritize(const QList<NativePath> &paths);
    using BackgroundScheduler::isRunning;
    int readCount() const { return m_readCount; }
    int toReadCount() const { return m_toReadCount; }

Q_SIGNALS:
    void arrived(const QList<BarcodeScanScheduler::Result> &results);
    void progress(int read, int toRead);
    void finished();
    void cancelled();

private:
    void clearJobs() override;
    std::optional<NativePath> takeJob() override;
    Result perform(const NativePath &path) override;
    void deliver(const QList<Result> &results) override;
    void complete() override;

    BarcodeCache &m_cache;
    int m_readCount = 0;
    int m_toReadCount = 0;

    // Under lock().
    QList<NativePath> m_queue;
    QList<bool> m_taken;
    QHash<QByteArray, qsizetype> m_positionOf;
    QList<qsizetype> m_priority;
    qsizetype m_next = 0;
};
