#ifndef ADDRESS_H
#define ADDRESS_H

#include <QString>

class QUrl;

// Where an address points, as the article host is compared: the host,
// with ":port" only where the port is not the scheme's own.
QString hostAndPort(const QUrl &url);

#endif // ADDRESS_H
