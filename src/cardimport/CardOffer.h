#pragma once

#include <QObject>
#include <QString>

class MountWatcher;

// Watches for camera cards for as long as the program runs, so that a card put in
// while the window is idle is noticed. It only tells ("mycardoffered" with the
// mount point and the volume's name, "mycardwithdrawn" when it goes away):
// nothing is copied until the operator says so.
class CardOffer : public QObject
{
    Q_OBJECT

public:
    explicit CardOffer(QObject *parent = nullptr);
    ~CardOffer() override;

    // False when the mount table cannot be watched (cards can still be loaded by hand).
    bool start();

    // Tells ("mykeptstaging") which staging folders of cut-short imports of the working
    // folder stay because not all their copies are elsewhere: at start and after every
    // change of files, until an import of their card clears them or the operator does.
    static void tellKeptStaging();

    // The same check the card sheet makes, on the calling thread: is it a camera card?
    static bool isCameraCard(const QString &mountPath);

private:
    void mounted(const QString &mountPath);

    MountWatcher *m_watcher = nullptr;
};
