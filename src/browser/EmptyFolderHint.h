#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

// What the grid shows while the working folder holds no photos: what to do next,
// and that filing needs a destination folder when none is set.
class EmptyFolderHint : public QFrame
{
    Q_OBJECT

public:
    explicit EmptyFolderHint(QWidget *parent = nullptr);

    // Over the grid, near its top, following its size: for a folder with no photos.
    void showOver(QWidget *grid, const QString &folder);
    void setFolder(const QString &folder, bool folderExists);
    void setDestinationMissing(bool missing);

    QLabel *titleLabel = nullptr;
    QLabel *nextStepLabel = nullptr;
    QPushButton *loadCardButton = nullptr;
    QPushButton *preferencesButton = nullptr;
    QLabel *destinationLabel = nullptr;
    QPushButton *destinationButton = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();

    QWidget *m_grid = nullptr;
};
