#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// What the program was asked on its command line:
//   sorvalen-brimwold [--help] [--version] [ADDRESS...]
struct CommandLine
{
    QStringList addresses; // articles to open, in order
    int exitCode = -1;     // 0 or more: print `output` and end at once with this status
    QString output;        // for standard output when exitCode is 0, for standard error otherwise

    // The arguments as QCoreApplication::arguments() has them, program first.
    static CommandLine parse(const QStringList &arguments);
};

#endif // COMMANDLINE_H
