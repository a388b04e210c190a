#include "ReassignQueues.h"

#include "support/SerialQueue.h"

using namespace Qt::StringLiterals;

// Never destroyed: a job still sleeping at exit must not meet a queue torn down by static destruction.
SerialQueue &ReassignQueues::working()
{
    static SerialQueue *queue = new SerialQueue(u"lumisort.reassign.working"_s);
    return *queue;
}

SerialQueue &ReassignQueues::sound()
{
    static SerialQueue *queue = new SerialQueue(u"lumisort.reassign.sound"_s);
    return *queue;
}
