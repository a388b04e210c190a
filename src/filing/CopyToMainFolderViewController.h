#pragma once

#include <QDialog>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
struct Notification;

// The filing sheet: receives the working and destination folders from the
// browser, files the photos on a background thread, shows the progress of
// every file and ends with a summary that names every photo filed under a new
// name or found already filed; a refused run says why. Its button asks the
// browser to reload and closes the sheet (a run under way carries on).
class CopyToMainFolderViewController : public QDialog
{
    Q_OBJECT

public:
    static const QString cSegueIdentifier; // "dummyButtonSegue6"
    static void registerSheet();

    explicit CopyToMainFolderViewController(QWidget *parent = nullptr);
    ~CopyToMainFolderViewController() override;

    QPushButton *ibButton1 = nullptr;
    QLabel *ibProgressTextField = nullptr;
    QProgressBar *ibProgressIndicator = nullptr; // the spinner
    QProgressBar *progressBar = nullptr; // files done of all
    QLabel *currentFileLabel = nullptr;
    std::optional<QString> ibProgressString;
    std::optional<QString> fSrcPath;
    std::optional<QString> fDestPath;

    void doNotification1(const Notification &notification);
    void ibDoMainStuff();
    void setProgressString(const std::optional<QString> &text);
    void setButton1Title(const QString &title);
    void startProgressindicator();
    void stopsProgressindicator();
    void doButton1();
    void dismissViewController(QDialog *controller);

    // The path rules, offered here under their names.
    static std::optional<QString> getDestinationPathForUnknown();
    static std::optional<QString> checkIfIsUnknown(const std::optional<QString> &path);
    static bool checkIfIsOriginal(const std::optional<QString> &path);

    bool isRunning() const;

Q_SIGNALS:
    void summaryShown(const QString &title, const QString &text);
    // The run stopped before filing anything; the reason is shown to the operator.
    void runRefused(const QString &reason);

private:
    struct RunState;
    void finishProcessxxx(const std::shared_ptr<RunState> &state);
    void refreshProgress();
    // Where the files of the run went, one line per place.
    static QString destinations(const RunState &state, const QString &dailyFolder);

    std::shared_ptr<RunState> m_state;
    QTimer *m_progressTimer = nullptr;
};
