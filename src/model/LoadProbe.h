#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class ImageDirectoryLoader;

// Watches one progressive load the way an operator would see it: when the first
// screenful of thumbnails is in, when all are in, and the longest time the main
// thread went without turning its event loop. For the command line and benchmarks.
class LoadProbe : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        qint64 photos = 0;
        qint64 msListed = 0;
        qint64 msFirstScreen = 0;
        qint64 msAll = 0;
        qint64 maxStallMs = 0;
    };

    // firstScreen: what a 1280x860 window shows at zoom 1 (five columns, four rows).
    explicit LoadProbe(ImageDirectoryLoader *loader, qsizetype firstScreen = 20);
    // Starts the load and returns when every thumbnail is in.
    Result run(const QUrl &folder, bool onlyIfChanged = false);

    static qint64 residentMegabytes();

private:
    ImageDirectoryLoader *m_loader;
    qsizetype m_firstScreen;
};
