#include "timetext.h"

#include <QCoreApplication>

namespace TimeText {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MediaPane", text);
}

} // namespace

QString shown(qint64 ms)
{
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    const qint64 hours = seconds / 3600;
    const QString minSec = QStringLiteral("%1:%2")
                               .arg((seconds / 60) % 60, hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(minSec) : minSec;
}

QString spoken(qint64 ms)
{
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    const qint64 hours = seconds / 3600;
    QString words;
    if (hours > 0)
        words = tr("%1 小时 ").arg(hours);
    if (seconds >= 60)
        words += tr("%1 分 ").arg((seconds / 60) % 60);
    return words + tr("%1 秒").arg(seconds % 60);
}

QString saved(qint64 ms)
{
    return ms < 60000 ? tr("%1 秒").arg(ms / 1000.0, 0, 'f', 1) : spoken(ms);
}

} // namespace TimeText
