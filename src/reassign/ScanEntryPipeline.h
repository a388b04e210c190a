#pragma once

#include <QPointer>
#include <QString>
#include <functional>

class SerialQueue;

// The timing of an entry in the barcode field. A scanner types its code and Return
// within milliseconds, and its next burst may follow before the entry is dealt
// with: from the first Return the field is out of the key path, the entry is
// checked, the move comes, and only a settling pause later is the field back.
// An entry arriving in between is dropped. The steps are the sheet's; all run on
// the main thread, the pause on the working queue.
class ScanEntryPipeline
{
public:
    struct Steps
    {
        std::function<void()> takeFieldOut; // no key reaches the field from here on
        std::function<bool()> hasFieldAction;
        std::function<void()> removeFieldAction;
        std::function<bool()> validate; // true: the entry was taken
        std::function<void(const QString &direction)> move; // after a taken entry only
        std::function<void(bool restoreAction)> finish; // the field back, with its action if it had one
    };

    static constexpr int cSettleMs = 100;

    // Nothing runs once context is gone.
    ScanEntryPipeline(QObject *context, SerialQueue &workingQueue, Steps steps);

    // An entry with the direction to move in once it is taken.
    void submit(const QString &direction);

    // True from an entry's start until its field is back.
    bool isInsideAction = false;

private:
    void start(const QString &direction);

    QPointer<QObject> m_context;
    SerialQueue &m_workingQueue;
    Steps m_steps;
};
