#pragma once

#include "CardCopyRun.h"
#include "support/FolderPanel.h"

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class MountWatcher;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
struct Notification;

// The card import sheet: waits for a camera card, recognises it by its camera
// folders (or asks), copies it into the working folder on the run queue and
// closes so that the browser reloads. Mounts are seen through the program's
// notification centre ("NSWorkspaceDidMountNotification"), which this sheet's
// own mount watcher feeds while the sheet is open.
class LoadCardViewController : public QDialog
{
    Q_OBJECT

public:
    static const QString cSegueIdentifier; // "dummyButtonSegue3"
    static void registerSheet();

    explicit LoadCardViewController(QWidget *parent = nullptr);
    ~LoadCardViewController() override;

    std::optional<FolderPanel::Options> fOpenPanel; // the folder chooser while it is shown
    QPushButton *ibAssignUnknownNSButon = nullptr;
    QProgressBar *ibProgressIndicator = nullptr; // the spinner
    QProgressBar *progressBar = nullptr; // photos and bytes copied of all
    QLabel *rateLabel = nullptr;
    QLabel *statusLabel = nullptr;
    QPushButton *manualButton = nullptr;
    QPushButton *closeButton = nullptr;
    QString fStatusString;

    void setStatusString(const QString &text); // shown, and kept in "prefStatusString"
    void addobserversForCard();
    void removeobserversForCard();
    bool isObservingCards() const;
    bool checkExistingVolumes();
    void volumeDidMount(const Notification &notification);
    void volumeDidUnMount(const Notification &notification);
    // Imports a folder; when the working folder holds photos, asks first whether they may go to the trash.
    void processNewCard(const QString &url);
    void doManualSelectFolder();
    void doSelectUnassigedFolder();
    bool isRunning() const;

    void startProgressindicator();
    void stopProgressindicator();

    // Tests adjust the options of every run the sheet starts (a hook while copying, one copy at a time).
    static void setRunOptionsForTesting(std::function<void(CardCopyRun::Options &)> adjust);

Q_SIGNALS:
    // A queued run ended; outcome is a CardCopyRun::Outcome.
    void runFinished(int outcome, const QString &message);

protected:
    void showEvent(QShowEvent *event) override;

public Q_SLOTS:
    void done(int result) override;

private:
    struct RunState;
    // volumeDidMount's work, on a background thread.
    static void checkMountedVolume(QPointer<LoadCardViewController> self, const Notification &notification);
    void askAboutCard(const QString &messageText, const QString &path, const std::function<void()> &use);
    void refreshProgress();
    void startRun(CardCopyRun::Options options);

    MountWatcher *m_watcher = nullptr;
    bool m_observing = false;
    bool m_checkedExisting = false;
    std::shared_ptr<RunState> m_state;
    QTimer *m_progressTimer = nullptr;
};
