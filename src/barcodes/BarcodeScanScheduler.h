#pragma once

#include "BarcodeReader.h"
#include "support/NativePath.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

class BarcodeCache;

// Reads the barcodes of a folder's photos in the background while the operator
// works: on both cores at the lowest priority the system has, so the window and
// the thumbnails always come first, with the readings handed to the main thread
// in batches. Photos whose reading is already in the cache are not read again;
// a new start or cancel() forgets whatever the previous run had not yet handed over.
class BarcodeScanScheduler : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        NativePath path;
        BarcodeReader::Reading reading;
    };

    explicit BarcodeScanScheduler(BarcodeCache &cache, QObject *parent = nullptr);
    ~BarcodeScanScheduler() override;

    // Main thread. Readings already in memory arrive at once, before start() returns;
    // progress counts the others (those kept on disk come back quickly, undecoded).
    void start(const QList<NativePath> &paths);
    void cancel();
    bool isRunning() const { return m_running; }
    int readCount() const { return m_readCount; }
    int toReadCount() const { return m_toReadCount; }

Q_SIGNALS:
    void arrived(const QList<BarcodeScanScheduler::Result> &results);
    void progress(int read, int toRead);
    void finished();
    void cancelled();

private:
    void work(quint64 generation);
    void drain();

    BarcodeCache &m_cache;
    QThreadPool m_pool;
    QTimer m_drainTimer;
    bool m_running = false;
    int m_readCount = 0;
    int m_toReadCount = 0;

    mutable QMutex m_lock;
    quint64 m_generation = 0;
    QList<NativePath> m_queue;
    qsizetype m_next = 0;
    QList<Result> m_done;
};
