#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

// Collects the messages written through Qt's message handler while it
// lives (one at a time), with their context, from any thread.
class LogCapture
{
public:
    struct Entry
    {
        QtMsgType type;
        QString message;
        QString category;
        bool emptyContext;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList debugLines() const { return lines(QtDebugMsg); }
    QStringList warningLines() const { return lines(QtWarningMsg); }
    QStringList lines(QtMsgType type) const;
    QVector<Entry> entries() const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex m_mutex;
    QVector<Entry> m_entries;
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
