#pragma once

#include <QString>
#include <QWidget>
#include <optional>

class QLabel;
class QProgressBar;

// The accessory shown under a folder panel while the program waits for a
// camera card: a status line and a busy indicator.
class OpenPanelAccessoryViewController : public QWidget
{
    Q_OBJECT

public:
    explicit OpenPanelAccessoryViewController(QWidget *parent = nullptr);

    QProgressBar *ibProgressIndicator = nullptr; // may be taken away; every use checks
    QLabel *ibStatusField = nullptr;
    QString fStatusString = QStringLiteral("Please Insert CARD...");

    void startProgressIndicator();
    void stopProgressIndicator();

    // Asks for one folder, application-modal, and waits for the answer; nothing on Cancel.
    static std::optional<QString> selectFolderUrl();
};
