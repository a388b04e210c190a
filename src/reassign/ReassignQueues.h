#pragma once

class SerialQueue;

// The reassign sheet's two background queues: the renames, and the sounds that
// confirm each entry without holding the renames up.
class ReassignQueues
{
public:
    static SerialQueue &working();
    static SerialQueue &sound();
};
