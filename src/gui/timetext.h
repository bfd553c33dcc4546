#ifndef TIMETEXT_H
#define TIMETEXT_H

#include <QString>

// Times as the window shows them and as a screen reader says them.
namespace TimeText {

// "1:05", "1:01:05".
QString shown(qint64 ms);
// "1 分 5 秒".
QString spoken(qint64 ms);
// Time saved: tenths of seconds while it is short.
QString saved(qint64 ms);

} // namespace TimeText

#endif // TIMETEXT_H
