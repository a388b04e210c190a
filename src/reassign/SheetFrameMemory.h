#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <optional>

class QTimer;
class QWidget;

// Keeps a sheet's size in a text setting: read back when the sheet is made,
// stored once a resize has settled and when the sheet is cancelled.
class SheetFrameMemory : public QObject
{
    Q_OBJECT

public:
    static constexpr int cFrameSettleMs = 300;

    SheetFrameMemory(QWidget *sheet, const QString &key);

    // Gives the sheet the stored size, when one is stored.
    void restore();
    void store();
    // A resize ends a while after its last step; nothing is stored after stop().
    void resized();
    void stop();

    // "x,y,width,height"
    static QString frameText(const QRect &frame);
    static std::optional<QRect> parseFrame(const QString &text);

private:
    QWidget *m_sheet;
    QString m_key;
    QTimer *m_timer;
};
