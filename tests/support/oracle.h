#ifndef ORACLE_H
#define ORACLE_H

#include "pagescanner.h"

// The page patterns run through QRegExp itself, exactly as written: the
// reference the fast scanner must agree with, on every input.
namespace RegExpOracle {

PageScanner::Match findVoiceEntry(const QString &text, int from);
PageScanner::Match findAnchor(const QString &text, int from, const QString &host);
PageScanner::Match findHref(const QString &anchorText);
QString linkTitle(const QString &anchorText);
PageScanner::Result scan(const QString &text, const QString &host);

} // namespace RegExpOracle

#endif // ORACLE_H
