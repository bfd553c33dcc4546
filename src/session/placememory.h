#ifndef PLACEMEMORY_H
#define PLACEMEMORY_H

#include <QHash>
#include <QString>

#include <list>

// Where the listener left each clip, for the run: a clip left part-way
// starts again there, a little earlier, so that the listener finds the
// thread (as AntennaPod and GNOME Podcasts resume). A clip left in its
// first or its last ten seconds, or heard to its end, starts from the
// start. Kept in memory only, for the clips heard last.
class PlaceMemory
{
public:
    static constexpr qint64 kEdgeMs = 10000;  // left this near its start or end: from the start
    static constexpr qint64 kRewindMs = 5000; // back this much on the way in
    static constexpr int kMostClips = 1000;   // the oldest forgotten first

    // The clip was left at positionMs of its durationMs, in its own time.
    void leave(const QString &address, qint64 positionMs, qint64 durationMs);
    void forget(const QString &address);
    // Where it was left, or -1.
    qint64 place(const QString &address) const;
    // Where to start it: a little before where it was left, or 0.
    qint64 startOf(const QString &address) const;
    int size() const { return int(m_places.size()); }

private:
    struct Place
    {
        qint64 ms;
        std::list<QString>::iterator age;
    };

    QHash<QString, Place> m_places;
    std::list<QString> m_ages; // the oldest first
};

#endif // PLACEMEMORY_H
