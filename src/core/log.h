#ifndef LOG_H
#define LOG_H

#include <QDebug>

// The program's log lines carry no file, line or function, whatever the
// build type, and go to the default category.
inline QDebug debugLog()
{
    return QMessageLogger(nullptr, 0, nullptr, "default").debug();
}

inline QDebug warningLog()
{
    return QMessageLogger(nullptr, 0, nullptr, "default").warning();
}

#endif // LOG_H
