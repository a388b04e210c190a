#pragma once

#include <QWidget>

// The reassignment sheet's content view. It takes the keyboard focus while the
// barcode field is out of the way, so keys arriving then (a hand scanner's next
// burst) land here, are logged and go no further than the sheet.
class MyVimoNSview : public QWidget
{
    Q_OBJECT

public:
    explicit MyVimoNSview(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
