#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

CommandLine CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Plays the voice clips of WeChat official-account articles. An address given here is "
                       "opened as a followed link is; while the program runs, a second launch hands its "
                       "addresses to the running window."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("address"),
                                 QCoreApplication::translate("CommandLine", "An article's web address."),
                                 QStringLiteral("[ADDRESS…]"));

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.exitCode = 2;
        line.output = QStringLiteral("%1: %2\n").arg(QCoreApplication::applicationName(), parser.errorText());
    } else if (parser.isSet(help)) {
        line.exitCode = 0;
        line.output = parser.helpText();
    } else if (parser.isSet(version)) {
        line.exitCode = 0;
        line.output = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                   QCoreApplication::applicationVersion());
    } else {
        line.addresses = parser.positionalArguments();
    }
    return line;
}
