#include "placememory.h"

#include <algorithm>

void PlaceMemory::leave(const QString &address, qint64 positionMs, qint64 durationMs)
{
    if (durationMs <= 0 || positionMs < kEdgeMs || positionMs > durationMs - kEdgeMs) {
        forget(address);
        return;
    }
    const auto found = m_places.find(address);
    if (found != m_places.end()) {
        found->ms = positionMs;
        m_ages.splice(m_ages.end(), m_ages, found->age); // the newest now
        return;
    }
    if (int(m_places.size()) >= kMostClips) {
        m_places.remove(m_ages.front());
        m_ages.pop_front();
    }
    m_places.insert(address, {positionMs, m_ages.insert(m_ages.end(), address)});
}

void PlaceMemory::forget(const QString &address)
{
    const auto found = m_places.find(address);
    if (found == m_places.end())
        return;
    m_ages.erase(found->age);
    m_places.erase(found);
}

qint64 PlaceMemory::place(const QString &address) const
{
    const auto found = m_places.constFind(address);
    return found == m_places.constEnd() ? -1 : found->ms;
}

qint64 PlaceMemory::startOf(const QString &address) const
{
    return std::max<qint64>(0, place(address) - kRewindMs);
}
