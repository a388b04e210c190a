#include "SheetRegistry.h"

#include "PlaceholderSheet.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_lock;
QHash<QString, SheetRegistry::Factory> &factories()
{
    static QHash<QString, SheetRegistry::Factory> map;
    return map;
}
} // namespace

void SheetRegistry::registerSheet(const QString &segueIdentifier, Factory factory)
{
    QMutexLocker locker(&g_lock);
    factories().insert(segueIdentifier, std::move(factory));
}

QDialog *SheetRegistry::make(const QString &segueIdentifier, QWidget *window)
{
    Factory factory;
    {
        QMutexLocker locker(&g_lock);
        factory = factories().value(segueIdentifier);
    }
    if (factory)
        return factory(window);
    return new PlaceholderSheet(segueIdentifier, window);
}
