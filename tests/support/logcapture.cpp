#include "logcapture.h"

#include <algorithm>

namespace {
LogCapture *current = nullptr;
}

LogCapture::LogCapture()
{
    current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    current = nullptr;
}

QVector<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker lock(&m_mutex);
    return m_entries;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}

QStringList LogCapture::lines(QtMsgType type) const
{
    QMutexLocker lock(&m_mutex);
    QStringList result;
    for (const Entry &e : m_entries) {
        if (e.type == type)
            result.append(e.message);
    }
    return result;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!current)
        return;
    // Messages of Qt's own categories, and those the media backend and the
    // offscreen platform write to the default one, are not ours to check.
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    static const QStringList backendPrefixes{QStringLiteral("Warning: "), QStringLiteral("Error: "),
                                             QStringLiteral("GStreamer"), QStringLiteral("This plugin ")};
    const bool backend = std::any_of(backendPrefixes.cbegin(), backendPrefixes.cend(),
                                     [&](const QString &p) { return message.startsWith(p); });
    if (category != QLatin1String("default") || backend) {
        if (current->m_previous)
            current->m_previous(type, context, message);
        return;
    }
    QMutexLocker lock(&current->m_mutex);
    current->m_entries.append({type, message, category,
                               !context.file && !context.function && context.line == 0});
}
