#include "Dispatch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

void Dispatch::onMain(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void Dispatch::onMain(QObject *context, std::function<void()> fn)
{
    QPointer<QObject> guard(context);
    onMain([guard, fn = std::move(fn)] {
        if (guard)
            fn();
    });
}

void Dispatch::onMainAndWait(const std::function<void()> &fn)
{
    if (isMainThread()) {
        fn();
        return;
    }
    QSemaphore done;
    onMain([&] {
        fn();
        done.release();
    });
    done.acquire();
}

void Dispatch::inBackground(std::function<void()> fn)
{
    QThreadPool::globalInstance()->start(std::move(fn));
}

void Dispatch::onMainAfter(int milliseconds, QObject *context, std::function<void()> fn)
{
    // A timer needs the main thread's event loop, so arm it there.
    const bool hasContext = context != nullptr;
    QPointer<QObject> guard(context);
    onMain([milliseconds, guard, hasContext, fn = std::move(fn)]() mutable {
        if (hasContext && !guard)
            return;
        QObject *receiver = hasContext ? guard.data() : QCoreApplication::instance();
        // With a receiver, Qt drops the timer when the receiver goes.
        QTimer::singleShot(milliseconds, receiver, std::move(fn));
    });
}

void Dispatch::inBackgroundAfter(int milliseconds, std::function<void()> fn)
{
    onMain([milliseconds, fn = std::move(fn)]() mutable {
        QTimer::singleShot(milliseconds, QCoreApplication::instance(),
                           [fn = std::move(fn)]() mutable { inBackground(std::move(fn)); });
    });
}

bool Dispatch::isMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool Dispatch::waitForBackground(int timeoutMs)
{
    return QThreadPool::globalInstance()->waitForDone(timeoutMs);
}
