#include "WorkInProgress.h"

#include <QMutex>
#include <QMutexLocker>
#include <map>

namespace {

struct Entry
{
    WorkInProgress::Item item;
    std::function<void()> stop;
    bool stopRequested = false;
};

QMutex g_lock;
std::map<quint64, Entry> g_entries;
quint64 g_nextId = 1;

} // namespace

WorkInProgress::Token::~Token()
{
    release();
}

void WorkInProgress::Token::release() const
{
    QMutexLocker locker(&g_lock);
    g_entries.erase(m_id);
}

std::unique_ptr<WorkInProgress::Token> WorkInProgress::begin(const Item &item, std::function<void()> stopAtSafePoint)
{
    QMutexLocker locker(&g_lock);
    const quint64 id = g_nextId++;
    g_entries[id] = Entry {item, std::move(stopAtSafePoint)};
    return std::unique_ptr<Token>(new Token(id));
}

QList<WorkInProgress::Item> WorkInProgress::running()
{
    QMutexLocker locker(&g_lock);
    QList<Item> items;
    for (const auto &[id, entry] : g_entries)
        items.append(entry.item);
    return items;
}

void WorkInProgress::stopAllAtSafePoint()
{
    // Called outside the lock: a run may end (and release its token) meanwhile.
    QList<std::function<void()>> stops;
    {
        QMutexLocker locker(&g_lock);
        for (auto &[id, entry] : g_entries) {
            if (entry.stop && !entry.stopRequested)
                stops.append(entry.stop);
            entry.stopRequested = true;
        }
    }
    for (const std::function<void()> &stop : stops)
        stop();
}
