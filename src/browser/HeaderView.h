#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The band that opens a section: its title (the barcode id), its photo count
// and the button that asks to reassign the marked photos of this section.
class HeaderView : public QWidget
{
    Q_OBJECT

public:
    static const QString cIdentifier; // "HeaderView"

    explicit HeaderView(QWidget *parent = nullptr);

    int sectionid = 1;
    QLabel *sectionTitle = nullptr;
    QLabel *imageCount = nullptr;
    // Whom the section's barcode belongs to on the day's roster, or that it is on none.
    QLabel *subjectLabel = nullptr;
    QPushButton *ibButton = nullptr;
    // Shown in automatic mode: groups the whole folder by the barcodes read in its photos.
    QPushButton *applyButton = nullptr;

public Q_SLOTS:
    void doButton();
    void doApplyButton();

public:
    void showSubject(const QString &text, bool unlisted);

protected:
    void paintEvent(QPaintEvent *event) override;
};
