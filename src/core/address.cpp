#include "address.h"

#include <QUrl>

QString hostAndPort(const QUrl &url)
{
    const int port = url.port();
    const int usual = url.scheme() == QLatin1String("https") ? 443 : url.scheme() == QLatin1String("http") ? 80 : -1;
    if (port < 0 || port == usual)
        return url.host();
    return QStringLiteral("%1:%2").arg(url.host()).arg(port);
}
