#pragma once

#include <QObject>
#include <functional>

// The queues the program's work runs on: the main thread, a global pool of
// background threads and delayed work. (Serial queues: SerialQueue.)
class Dispatch
{
public:
    // Runs fn on the main thread later (never inside this call). With a context,
    // fn is skipped when the context is gone by then.
    static void onMain(std::function<void()> fn);
    static void onMain(QObject *context, std::function<void()> fn);
    // Runs fn on the main thread and waits for it (runs at once when already there).
    static void onMainAndWait(const std::function<void()> &fn);
    // Runs fn on the global background pool.
    static void inBackground(std::function<void()> fn);
    // Runs fn on the main thread after the delay.
    static void onMainAfter(int milliseconds, QObject *context, std::function<void()> fn);
    // Runs fn on the background pool after the delay (the wait holds no thread).
    static void inBackgroundAfter(int milliseconds, std::function<void()> fn);

    static bool isMainThread();
    // Waits until the global pool has no work (tests, orderly exit).
    static bool waitForBackground(int timeoutMs = -1);
};
