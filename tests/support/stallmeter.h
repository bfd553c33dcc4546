#ifndef STALLMETER_H
#define STALLMETER_H

#include <QElapsedTimer>
#include <QTimer>

// The longest time the event loop went without running a timer that asks
// to run every `intervalMs`, while the meter ran: a window that blocks its
// thread makes that gap long.
class StallMeter
{
public:
    explicit StallMeter(int intervalMs = 2)
    {
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_longest = qMax(m_longest, m_clock.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return longest();
    }
    qint64 longest() const { return qMax(m_longest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

#endif // STALLMETER_H
