#include "ScanEntryPipeline.h"

#include "support/Dispatch.h"
#include "support/SerialQueue.h"
#include "support/SystemLog.h"

#include <QThread>

using namespace Qt::StringLiterals;

ScanEntryPipeline::ScanEntryPipeline(QObject *context, SerialQueue &workingQueue, Steps steps)
    : m_context(context)
    , m_workingQueue(workingQueue)
    , m_steps(std::move(steps))
{ }

void ScanEntryPipeline::submit(const QString &direction)
{
    // The field leaves the key path now, before the queued work below runs, so nothing
    // typed from here on can join this entry.
    if (!isInsideAction)
        m_steps.takeFieldOut();
    Dispatch::onMain(m_context, [this, direction] { start(direction); });
}

void ScanEntryPipeline::start(const QString &direction)
{
    // Kept for this entry only: a dropped entry must not overwrite what the running one restores.
    const bool restoreAction = m_steps.hasFieldAction();
    if (isInsideAction) {
        logLine(u"....ALREDY in progress... exiting..."_s);
        return;
    }
    isInsideAction = true;
    m_steps.removeFieldAction();
    m_steps.takeFieldOut();
    const bool ok = m_steps.validate();

    const QPointer<QObject> context = m_context;
    m_workingQueue.async([this, context, ok, direction, restoreAction] {
        if (ok) {
            Dispatch::onMain([this, context, direction] {
                if (context)
                    m_steps.move(direction);
            });
        }
        QThread::msleep(cSettleMs);
        Dispatch::onMain([this, context, restoreAction] {
            if (!context)
                return;
            m_steps.finish(restoreAction);
            isInsideAction = false;
        });
    });
}
